#include "cables/cable.h"

namespace orbvex::cables {

// Each defined in its own file.
extern const CableType kVirtualCable;
extern const CableType kParallelPortCable;
extern const CableType kGpioCable;
extern const CableType kRemoteCable;
extern const CableType kFtdiCable;

const std::vector<const CableType*>& CableTypes() {
    static const std::vector<const CableType*> table = {
        &kVirtualCable,
        &kParallelPortCable,
        &kGpioCable,
        &kRemoteCable,
        &kFtdiCable,
    };
    return table;
}

}  // namespace orbvex::cables
