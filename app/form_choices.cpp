// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/form_choices.h"

#include "ops/link_session.h"

namespace orbvex::app {

std::uint16_t PortFromButtons(bool l1, bool l2, std::uint16_t current) {
    std::uint16_t base = current;
    if (l1) base = kLpt1Base;
    if (l2) base = kLpt2Base;
    return base;
}

FlashRange FlashFromButtons(bool f1, bool f2) {
    FlashRange flash = kFlash1M;
    if (f1) flash = kFlash1M;
    if (f2) flash = kFlash2M;
    return flash;
}

}  // namespace orbvex::app
