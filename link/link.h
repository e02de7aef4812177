// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The link's state in one place: the backend the pins go to, the port's base, the
// clock's delay, the start wait's budget, the trap program's mailbox and what START
// found. The link's procedures read it through the legacy globals (PortHook, LptBase,
// PortAvailable, ClockDelay, StartWaitLimit, TrapWptr, TrapIptr, TrapSize), so that on
// the direct path a port access stays one instruction; a Link is the only thing that
// writes them (the trap loader records what it found through it). There is one such
// state in a process, as there is one set of those globals.
#include <cstdint>
#include <string>

#include "port/port_access.h"
#include "port/port_backend.h"

namespace orbvex {

// The settings a link drives the pins with, as one value. A probe serving its own target
// in the same process as a host (the tests) keeps its own and puts them in place only
// while it works.
struct LinkSettings {
    PortBackend* backend = nullptr;
    std::uint16_t portBase = kLpt1Base;
    std::int32_t clockDelay = 1;
    std::int32_t startWaitLimit = 2024;
};

class Link {
public:
    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Wires backend (null: the real port, through the instructions or the port library
    // that access names), puts portBase, ClockDelay 1 and StartWaitLimit 2024 in place,
    // forgets any trap program, and opens access for portBase (PortAvailable is its answer).
    void Open(PortAccess& access, PortBackend* backend, std::uint16_t portBase);
    // Releases the cable while the port may still be driven (never a port that was not
    // granted), then unwires the backend and gives port access back. Nothing when not open.
    void Close();

    // Makes portBase the port and tells whether it may be driven now, granting it first
    // if it has to and can; the pins then go where access routes that port (its ppdev
    // device on Linux when the instructions are refused). False when not open.
    bool UsePort(std::uint16_t portBase);
    // Makes portBase the port without asking for it yet: a cable option that fixes the
    // port. The next UsePort asks.
    void ChoosePort(std::uint16_t portBase);
    // Reads the trap workspace word, where START left the mailbox, into TrapWptr.
    // False when it could not be read (TrapWptr then holds what the read gave).
    bool ReadMailbox();

    bool IsOpen() const { return access_ != nullptr; }
    bool PortAvailable() const;
    // Why port access was refused, in plain words; empty when it was granted.
    std::string FailureReason() const;
    PortBackend* Backend() const;
    std::uint16_t PortBase() const;
    std::int32_t ClockDelay() const;
    std::int32_t StartWaitLimit() const;
    std::uint32_t TrapWptr() const;
    std::uint32_t TrapIptr() const;
    std::uint32_t TrapSize() const;

    // The settings in place now, and putting others in place (a probe's engine swap).
    static LinkSettings Settings();
    static void Apply(const LinkSettings& settings);
    // The start wait's budget a probe's request asks for.
    static void SetStartWaitLimit(std::int32_t clocks);
    // What the trap loader found, kept for the operations: the size it loaded, and the
    // workspace and instruction pointers START read back.
    static void RecordTrapSize(std::uint32_t size);
    static void RecordTrapPointers(std::uint32_t wptr, std::uint32_t iptr);

private:
    void Wire();

    PortAccess* access_ = nullptr;
    PortBackend* backend_ = nullptr;
};

}  // namespace orbvex
