// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/port_access.h"

namespace orbvex {
namespace {

class UnrestrictedPortAccess final : public PortAccess {
public:
    bool Open(std::uint16_t) override { return true; }
    bool Ensure(std::uint16_t) override { return true; }
    void Close(std::uint16_t) override {}
};

}  // namespace

std::unique_ptr<PortAccess> MakeUnrestrictedPortAccess() {
    return std::make_unique<UnrestrictedPortAccess>();
}

}  // namespace orbvex
