// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/mailbox.h"
#include "link/trap_protocol.h"

// The target-side trap program: loading it into RAM, starting it, calling it.

extern std::uint32_t TrapSize;  // size of the trap file as last opened
extern std::uint32_t TrapWptr;  // trap workspace pointer word, as last read (the mailbox)
extern std::uint32_t TrapIptr;  // trap instruction pointer word, as last read

// Copies the file into target RAM from loadAddress on. A plain name is looked up in
// the program's folder; an absolute path is taken as it is. stop, when given, is asked
// between blocks: the load then ends, false and without a log line, with the target
// holding the blocks sent so far.
bool LoadTrapFile(std::uint32_t loadAddress, const std::string& fileName, const std::function<bool()>& stop = {});
bool StartTrap(std::uint32_t loadAddress);
// Erase (0x400) of the chip at flashBase: TrapErase's answer as a bool. stop, when
// given, is asked between the reads of the command word, with the word read; the call
// then fails with the trap program possibly still at work.
bool TrapCall(std::uint32_t flashBase, const std::function<bool(std::uint32_t)>& stop = {});
// False, after its log line, when the write failed; a series of them runs on regardless.
bool WriteWordLogged(std::uint32_t address, std::uint32_t value);

namespace orbvex {

// No trap program is anywhere near this large (ours is a few KB); a file past it is the
// wrong file, and uploading it would take minutes on a slow cable before failing.
inline constexpr std::uint32_t kTrapFileLimit = 64u << 10;

// The largest trap file that leaves room for its mailbox in target RAM when loaded at
// loadAddress (0 when none does), and is at most kTrapFileLimit.
std::uint32_t MaxTrapSize(std::uint32_t loadAddress);
// The size of the trap file fileName names, when it is a regular file; nothing
// otherwise (LoadTrapFile then says it cannot be opened).
std::optional<std::uint64_t> TrapFileSize(const std::string& fileName);

}  // namespace orbvex
