// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The host's side of the trap program's mailbox, whole: the signature, one function per
// command, and the one send-and-wait they all go through. The mailbox's layout and
// words are in link/mailbox.h; loading and starting the program in link/trap.h.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/mailbox.h"

namespace orbvex {

struct TrapAbilities {
    unsigned version = 0;
    std::uint32_t abilities = 0;  // mailbox::kCan... bits
    bool Can(std::uint32_t ability) const { return (abilities & ability) != 0; }
};

// The signature of the program whose mailbox is at TrapWptr; nothing when the words
// are missing, unreadable or fail their check. A program without one is driven with
// program and erase alone, as it always was.
std::optional<TrapAbilities> ReadTrapSignature();

enum class CommandWait {
    Done,        // the command's own answer showed in time
    NotDone,     // the bound ran out first
    ReadFailed,  // the command word could not be read: nothing is known of the command
    Stopped,     // stop() asked to give up after a read that showed no answer
    Failed,      // the program answered with its failure, on two reads in a row
    NotSent,     // a mailbox word could not be written: the command was never started
};

// Asked after each read of the command word that showed no answer, with the word read.
using PollStop = std::function<bool(std::uint32_t status)>;

// The outcome of one command.
struct TrapAnswer {
    bool ok = false;
    std::string failure;  // what went wrong, in words, when not ok
    CommandWait wait = CommandWait::NotDone;
    std::uint32_t status = 0;         // the last command word read
    std::uint32_t unwrittenWord = 0;  // NotSent: the address of the word that did not go out
};

// True when the command word holds the trap program's failure answer.
bool IsTrapFailure(std::uint32_t status);
// That failure in words ("program failed at 7FF00123"); chunkAddress, for a program
// command, places the failing word.
std::string TrapFailureText(std::uint32_t status, std::optional<std::uint32_t> chunkAddress);

// Erase (0x400) of the chip at flashBase, as the window has always sent it: the flash
// base and the command word, then at most kPollLimit + 1 reads of the command word, of
// which the last one no longer counts.
TrapAnswer TrapErase(std::uint32_t flashBase, const PollStop& stop = {});

// The bytes of a chunk into the data buffer, in blocks of at most 252: what a program
// command takes. False when a block did not go out.
bool UploadTrapChunk(const std::uint8_t* bytes, std::uint32_t length);

// Program (0x100), or program then checksum (0x1100), of the chunk in the data buffer:
// the mailbox words, the command word last. The wait is bounded by maxMs of the host's
// clock when given, else as TrapErase's.
struct ProgramChunk {
    std::uint32_t flashBase;
    std::uint32_t flashAddress;
    std::uint32_t length;  // 1 to the data buffer's size
    bool summed = false;   // 0x1100: the checksum of the chunk as it is now in the flash follows
};
TrapAnswer TrapProgram(const ProgramChunk& chunk, std::optional<std::uint32_t> maxMs, const PollStop& stop = {});

// Checksum (0x1000): the CRC-32 of [address, address + count) of the flash. It runs on
// the target while the host goes on; FinishTrapChecksum waits for it (bounded by the
// bytes it covers) and reads the result.
bool StartTrapChecksum(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count);
TrapAnswer FinishTrapChecksum(std::uint32_t count, std::uint32_t& crc);
// Reads the checksum's result word again, for when the link may have turned it.
bool ReadTrapChecksumWord(std::uint32_t& crc);
// Reads the answer of a checksum that is done and tells whether it is expected. A word
// that differs is read once more before it counts: it came over the link. False when
// it cannot be read.
bool TrapChecksumIs(std::uint32_t expected, bool& same);
// Waits for the checksum started last, then as TrapChecksumIs.
TrapAnswer FinishTrapChecksumAgainst(std::uint32_t count, std::uint32_t expected, bool& same);

// Erase sectors (0x2000): every erase block that [address, address + count) overlaps
// (count 0: the one that holds address), waiting at most maxMs of the host's clock.
TrapAnswer TrapEraseSectors(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count,
                            std::uint32_t maxMs);

// Identify (0x800): the answer, raw, mailbox::kIdentifySize bytes of the data buffer.
TrapAnswer TrapIdentify(std::uint32_t flashBase, std::vector<std::uint8_t>& answer);

// Blank pages (0x4000): for each 4 KB page of [address, address + count) from address on
// (the last one cut at the range's end), whether it holds only 0xFF, checked byte by byte
// on the target. Needs no identified chip. count: 1 to the chip's size.
TrapAnswer TrapBlankPages(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count,
                          std::vector<bool>& blank);

}  // namespace orbvex
