#include "cli/image_files.h"

#include <algorithm>

namespace orbvex::cli {

Comparison CompareImages(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& file) {
    Comparison c;
    const std::size_t n = std::min(flash.size(), file.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (flash[i] == file[i]) continue;
        if (c.differing++ == 0) {
            c.firstOffset = static_cast<std::uint32_t>(i);
            c.flashByte = flash[i];
            c.fileByte = file[i];
        }
    }
    return c;
}

}  // namespace orbvex::cli
