// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "port/port_backend.h"
#include "port/ppdev_api.h"

namespace orbvex {

// /dev/parportN in memory. It keeps ppdev's rules (data and status only while the port
// is claimed, one claim per descriptor), fails on demand, and records every call in a
// line of its own ("open /dev/parport0", "PPEXCL", "PPCLAIM", "PPWDATA 0D", "PPRSTATUS",
// "PPRELEASE", "close"). Wired to a backend, it is the parallel port with a receiver on
// the other end: PPWDATA writes the backend's data register (base), PPRSTATUS reads its
// status register (base + 1).
class PpdevStandIn final : public PpdevApi {
public:
    // --- set-up and fault switches (errno values, 0 for none) ---
    std::string device = "/dev/parport0";  // the one device node that exists
    int openError = 0;
    int exclusiveError = 0;
    int claimError = 0;
    int dataError = 0;        // PPWDATA and PPRSTATUS fail with this ...
    long dataErrorAfter = 0;  // ... after this many have succeeded
    PortBackend* target = nullptr;
    std::uint16_t base = 0x378;
    std::uint8_t status = 0;  // what PPRSTATUS reads with no target
    bool record = true;       // off where millions of clocks run

    // --- what can be looked at ---
    std::vector<std::string> calls;
    std::uint64_t ioctls = 0;  // every request, recorded or not
    int OpenCount() const { return openCount_; }
    bool Claimed() const { return claimed_; }

    // --- PpdevApi ---
    int Open(const char* path) override;
    int Ioctl(int fd, PpdevRequest request, std::uint8_t* byte) override;
    int Close(int fd) override;

private:
    void Note(const std::string& call) {
        if (record) calls.push_back(call);
    }

    int openCount_ = 0;
    bool claimed_ = false;
    long dataAccesses_ = 0;
};

}  // namespace orbvex
