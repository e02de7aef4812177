// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The two forms of a DCU message: framed here, byte by byte over the cable's pins
// (dcu_bytes.h), or handed whole to a probe that frames it next to the target. The
// probe drives the clocks this link would drive; what the link must tell it is where the
// TAP stands and the start wait's budget, and what it must remember is that the DCU is
// selected afterwards, as after any message.
#include <cstdint>

#include "link/dcu.h"
#include "link/jtag.h"
#include "port/dcu_message_port.h"
#include "port/kqportio.h"

namespace orbvex::dcu {

// The probe behind the cable, or null when the link frames the messages itself.
inline DcuMessagePort* MessageProbe() { return PortHook ? PortHook->Messages() : nullptr; }

template <class Message>
auto HandOver(Message message) {
    const bool select = !JtagSelected;
    auto result = message(*PortHook->Messages(), select, StartWaitLimit);
    JtagSelected = true;
    return result;
}

}  // namespace orbvex::dcu
