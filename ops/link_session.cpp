// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/link_session.h"

namespace orbvex {

LinkSession::LinkSession(PortAccess& access, PortBackend* backend, std::uint16_t lptBase) {
    link_.Open(access, backend, lptBase);
}

LinkSession::~LinkSession() { Close(); }

}  // namespace orbvex
