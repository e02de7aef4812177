// SPDX-License-Identifier: GPL-2.0-or-later
#include "link/trap_protocol.h"

#include <algorithm>
#include <utility>

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "link/trap.h"

namespace orbvex {
namespace {

constexpr std::uint32_t kBlockLimit = 252;  // data bytes of one DCU block write
// The checksum runs at a few dozen instructions a byte; a poll is a whole DCU word read.
constexpr std::uint32_t kChecksumBytesPerPoll = 16;
constexpr const char* kNoAnswer = "the receiver did not answer";

// The mailbox words of one command; those not given are left as they are. The command
// word goes last: the program starts on it.
struct TrapRequest {
    std::uint32_t command;
    std::uint32_t flashBase;
    std::optional<std::uint32_t> flashAddress;
    std::optional<std::uint32_t> bufferAddress;
    std::optional<std::uint32_t> count;
};

// How the wait for an answer ends.
struct WaitRule {
    std::uint32_t polls = mailbox::kPollLimit;  // reads after the first, unless maxMs is given
    std::optional<std::uint32_t> maxMs;         // by the host's clock
    // The window's rule: an answer on the read after the last poll comes too late.
    bool lastReadTooLate = false;
    // A failure answer ends the wait when two reads show it: one turned bit must not
    // fail a command. Without it, stop() alone decides what a failure answer means.
    bool failureEnds = true;
};

TrapAnswer Failed(CommandWait wait, std::string failure, std::uint32_t status = 0) {
    return {false, std::move(failure), wait, status, 0};
}

// Writes the request's words; the address of the first that does not go out, if any.
std::optional<std::uint32_t> Send(const TrapRequest& r) {
    const std::pair<std::uint32_t, std::optional<std::uint32_t>> words[] = {
        {mailbox::kFlashAddress, r.flashAddress},
        {mailbox::kBufferAddress, r.bufferAddress},
        {mailbox::kByteCount, r.count},
        {mailbox::kFlashBase, r.flashBase},
        {mailbox::kCommand, r.command},
    };
    for (const auto& [offset, value] : words)
        if (value && !DcuWriteWord(TrapWptr + offset, *value)) return TrapWptr + offset;
    return std::nullopt;
}

const char* CommandName(std::uint32_t command) {
    switch (command) {
    case mailbox::kProgramCommand:
    case mailbox::kProgramSummedCommand: return "program";
    case mailbox::kEraseCommand: return "erase";
    case mailbox::kIdentifyCommand: return "identify";
    case mailbox::kChecksumCommand: return "checksum";
    case mailbox::kEraseSectorsCommand: return "erase of the sectors";
    case mailbox::kBlankPagesCommand: return "blank-page check";
    default: return "command";
    }
}

// Where the host's clock ran out first, the line says what did not finish and within how
// long: the trap program may still be at work, on a chip that never got ready.
std::string NoAnswerText(std::uint32_t command, std::uint32_t status, const WaitRule& rule) {
    const std::string word = "(command word " + Hex8(status) + ")";
    if (!rule.maxMs) return "no answer from the trap program " + word;
    return std::string("the ") + CommandName(command) + " did not finish within " +
           std::to_string((*rule.maxMs + 999) / 1000) + " s " + word +
           ": the chip may never have become ready, or the trap program stopped";
}

// Reads the command word until it holds the answer to command: the command itself with
// the done bit. Any other word with that bit (0x101 after an erase) is no answer to it.
TrapAnswer Wait(std::uint32_t command, const WaitRule& rule, const PollStop& stop) {
    const std::uint32_t answer = command | mailbox::kDoneBit;
    const std::uint32_t began = rule.maxMs ? TickCountMs() : 0;
    std::uint32_t status = 0;
    for (std::uint32_t polls = 0;; ++polls) {
        if (!DcuReadWord(TrapWptr + mailbox::kCommand, status)) return Failed(CommandWait::ReadFailed, kNoAnswer, status);
        // A word read after the time is up still counts: it is the program's own answer.
        const bool last = rule.maxMs ? TickCountMs() - began > *rule.maxMs : polls >= rule.polls;
        if (status == answer && !(last && rule.lastReadTooLate && !rule.maxMs))
            return {true, {}, CommandWait::Done, status, 0};
        std::uint32_t again = 0;
        if (rule.failureEnds && IsTrapFailure(status) && DcuReadWord(TrapWptr + mailbox::kCommand, again) &&
            again == status)
            return Failed(CommandWait::Failed, TrapFailureText(status, std::nullopt), status);
        // A failure read as the time ran out is still the program's answer: on a slow link
        // one poll can outlast the whole bound, and the reason must not be lost to it.
        if (last && stop && IsTrapFailure(status) && stop(status)) return Failed(CommandWait::Stopped, "stopped", status);
        if (last || status == answer) return Failed(CommandWait::NotDone, NoAnswerText(command, status, rule), status);
        if (stop && stop(status)) return Failed(CommandWait::Stopped, "stopped", status);
    }
}

TrapAnswer SendAndWait(const TrapRequest& request, const WaitRule& rule, const PollStop& stop = {}) {
    if (const std::optional<std::uint32_t> unwritten = Send(request)) {
        TrapAnswer answer = Failed(CommandWait::NotSent, kNoAnswer);
        answer.unwrittenWord = *unwritten;
        return answer;
    }
    return Wait(request.command, rule, stop);
}

// Blocks of at most 252 bytes. The DCU stores only whole words of a block, so a block
// that does not end on one is sent padded with 0xFF (the erased state) up to the next;
// the trap program is told the exact length and never programs the padding.
bool UploadChunk(std::uint32_t bufferAddress, const std::uint8_t* chunk, std::uint32_t length) {
    std::uint8_t block[kBlockLimit];
    for (std::uint32_t offset = 0; offset < length;) {
        const std::uint32_t n = std::min(length - offset, kBlockLimit);
        const std::uint32_t padded = (n + 3u) & ~3u;
        std::copy(chunk + offset, chunk + offset + n, block);
        std::fill(block + n, block + padded, 0xFF);
        if (DcuWriteBlock(bufferAddress + offset, block, static_cast<std::uint8_t>(padded)) == 0) return false;
        offset += n;
    }
    return true;
}

std::uint32_t SignatureCheck(std::uint32_t low) { return ((TrapWptr >> 2) ^ low ^ mailbox::kSignatureSalt) & 0xFFFF; }

WaitRule ChecksumRule(std::uint32_t count) { return {mailbox::kPollLimit + count / kChecksumBytesPerPoll}; }

}  // namespace

std::optional<TrapAbilities> ReadTrapSignature() {
    std::uint32_t magic = 0, info = 0;
    if (TrapWptr == 0 || !DcuReadWord(TrapWptr + mailbox::kSignature, magic) ||
        magic != mailbox::kSignatureMagic || !DcuReadWord(TrapWptr + mailbox::kSignatureInfo, info) ||
        (info >> 16) != SignatureCheck(info & 0xFFFF))
        return std::nullopt;
    return TrapAbilities{info & 0xFF, (info >> 8) & 0xFF};
}

bool IsTrapFailure(std::uint32_t status) {
    return (status & (mailbox::kDoneBit | mailbox::kFailureBit)) == mailbox::kFailureBit;
}

std::string TrapFailureText(std::uint32_t status, std::optional<std::uint32_t> chunkAddress) {
    const std::uint32_t offset = (status >> mailbox::kFailureOffsetShift) & mailbox::kFailureOffsetMask;
    const std::string at = chunkAddress ? " at " + Hex8(*chunkAddress + offset) : std::string();
    switch (status >> mailbox::kFailureReasonShift) {
    case mailbox::kChipNotIdentified: return "chip not identified";
    case mailbox::kEraseFailed: return "erase failed";
    case mailbox::kProgramFailed: return "program failed" + at;
    case mailbox::kTimeOut: return "time-out" + at;
    case mailbox::kOutsideChip: return "range outside the chip";
    case mailbox::kNotACommand: return "not a command";
    default: return "failure " + Hex8(status);
    }
}

TrapAnswer TrapErase(std::uint32_t flashBase, const PollStop& stop) {
    // A workspace word of 0 means the trap program was never installed: its mailbox
    // would be the CPU's low control registers.
    if (TrapWptr == 0) return Failed(CommandWait::NotSent, "no trap program");
    WaitRule rule;
    rule.lastReadTooLate = true;
    rule.failureEnds = false;
    return SendAndWait({mailbox::kEraseCommand, flashBase, {}, {}, {}}, rule, stop);
}

bool UploadTrapChunk(const std::uint8_t* bytes, std::uint32_t length) {
    return UploadChunk(TrapWptr + mailbox::kDataBuffer, bytes, length);
}

TrapAnswer TrapProgram(const ProgramChunk& chunk, std::optional<std::uint32_t> maxMs, const PollStop& stop) {
    const std::uint32_t buffer = TrapWptr + mailbox::kDataBuffer;
    WaitRule rule;
    rule.maxMs = maxMs;
    rule.lastReadTooLate = true;
    rule.failureEnds = false;
    const std::uint32_t command = chunk.summed ? mailbox::kProgramSummedCommand : mailbox::kProgramCommand;
    return SendAndWait({command, chunk.flashBase, chunk.flashAddress, buffer, chunk.length}, rule, stop);
}

bool StartTrapChecksum(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count) {
    return !Send({mailbox::kChecksumCommand, flashBase, address, {}, count});
}

TrapAnswer FinishTrapChecksum(std::uint32_t count, std::uint32_t& crc) {
    TrapAnswer answer = Wait(mailbox::kChecksumCommand, ChecksumRule(count), {});
    if (answer.ok && !ReadTrapChecksumWord(crc)) answer = Failed(CommandWait::ReadFailed, kNoAnswer);
    return answer;
}

bool ReadTrapChecksumWord(std::uint32_t& crc) { return DcuReadWord(TrapWptr + mailbox::kChecksumResult, crc); }

bool TrapChecksumIs(std::uint32_t expected, bool& same) {
    std::uint32_t crc = 0;
    if (!ReadTrapChecksumWord(crc) || (crc != expected && !ReadTrapChecksumWord(crc))) return false;
    same = crc == expected;
    return true;
}

TrapAnswer FinishTrapChecksumAgainst(std::uint32_t count, std::uint32_t expected, bool& same) {
    TrapAnswer answer = Wait(mailbox::kChecksumCommand, ChecksumRule(count), {});
    if (answer.ok && !TrapChecksumIs(expected, same)) answer = Failed(CommandWait::ReadFailed, kNoAnswer);
    return answer;
}

TrapAnswer TrapEraseSectors(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count,
                            std::uint32_t maxMs) {
    WaitRule rule;
    rule.maxMs = maxMs;
    return SendAndWait({mailbox::kEraseSectorsCommand, flashBase, address, {}, count}, rule);
}

TrapAnswer TrapIdentify(std::uint32_t flashBase, std::vector<std::uint8_t>& answer) {
    TrapAnswer result = SendAndWait({mailbox::kIdentifyCommand, flashBase, 0u, {}, 0u}, WaitRule{});
    if (!result.ok) return result;
    answer.assign(mailbox::kIdentifySize + 256, 0);
    for (std::uint32_t got = 0; got < mailbox::kIdentifySize;) {
        const std::int32_t n = DcuReadBlock(TrapWptr + mailbox::kDataBuffer + got, answer.data() + got);
        if (n <= 0) return Failed(CommandWait::ReadFailed, kNoAnswer);
        got += static_cast<std::uint32_t>(n);
    }
    answer.resize(mailbox::kIdentifySize);
    return result;
}

TrapAnswer TrapBlankPages(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count,
                          std::vector<bool>& blank) {
    const std::uint32_t pages = static_cast<std::uint32_t>((std::uint64_t{count} + mailbox::kBlankPageSize - 1) /
                                                           mailbox::kBlankPageSize);
    const std::uint32_t bytes = (pages + 7) / 8;
    if (count == 0 || bytes > mailbox::kDataBufferSize) return Failed(CommandWait::NotSent, "range too large");
    // Comparing a byte with 0xFF is quicker than a checksum of it.
    TrapAnswer result = SendAndWait({mailbox::kBlankPagesCommand, flashBase, address, {}, count}, ChecksumRule(count));
    if (!result.ok) return result;
    std::vector<std::uint8_t> bitmap(bytes + 256, 0);
    for (std::uint32_t got = 0; got < bytes;) {
        const std::int32_t n = DcuReadBlock(TrapWptr + mailbox::kDataBuffer + got, bitmap.data() + got);
        if (n <= 0) return Failed(CommandWait::ReadFailed, kNoAnswer);
        got += static_cast<std::uint32_t>(n);
    }
    blank.assign(pages, false);
    for (std::uint32_t i = 0; i < pages; ++i) blank[i] = (bitmap[i / 8] >> (i % 8)) & 1;
    return result;
}

}  // namespace orbvex

bool TrapCall(std::uint32_t flashBase, const std::function<bool(std::uint32_t)>& stop) {
    return orbvex::TrapErase(flashBase, stop).ok;
}
