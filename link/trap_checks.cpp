// SPDX-License-Identifier: GPL-2.0-or-later
#include "link/trap_checks.h"

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "link/trap.h"

namespace orbvex {
namespace {

// The checksum runs at a few dozen instructions a byte; a poll is a whole DCU word read.
constexpr std::uint32_t kChecksumBytesPerPoll = 16;

std::uint32_t SignatureCheck(std::uint32_t low) {
    return ((TrapWptr >> 2) ^ low ^ mailbox::kSignatureSalt) & 0xFFFF;
}

// Reads the command word until the program answers, at most polls + 1 times, and
// while no more than maxMs have passed when that is given.
TrapAnswer WaitForAnswer(std::uint32_t polls, std::optional<std::uint32_t> maxMs = std::nullopt) {
    std::uint32_t status = 0;
    const std::uint32_t began = TickCountMs();
    for (std::uint32_t n = 0; maxMs ? TickCountMs() - began <= *maxMs : n <= polls; ++n) {
        if (!DcuReadWord(TrapWptr + mailbox::kCommand, status)) return {false, "the receiver did not answer"};
        if (status & mailbox::kDoneBit) return {true, {}};
        // A failure is taken when two reads show it: one turned bit must not fail a command.
        std::uint32_t again = 0;
        if (IsTrapFailure(status) && DcuReadWord(TrapWptr + mailbox::kCommand, again) && again == status)
            return {false, TrapFailureText(status, std::nullopt)};
    }
    return {false, "no answer from the trap program (command word " + Hex8(status) + ")"};
}

bool SendCommand(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count, std::uint32_t command) {
    return DcuWriteWord(TrapWptr + mailbox::kFlashAddress, address) &&
           DcuWriteWord(TrapWptr + mailbox::kByteCount, count) &&
           DcuWriteWord(TrapWptr + mailbox::kFlashBase, flashBase) &&
           DcuWriteWord(TrapWptr + mailbox::kCommand, command);
}

}  // namespace

std::optional<TrapAbilities> ReadTrapSignature() {
    std::uint32_t magic = 0, info = 0;
    if (TrapWptr == 0 || !DcuReadWord(TrapWptr + mailbox::kSignature, magic) ||
        magic != mailbox::kSignatureMagic || !DcuReadWord(TrapWptr + mailbox::kSignatureInfo, info) ||
        (info >> 16) != SignatureCheck(info & 0xFFFF))
        return std::nullopt;
    return TrapAbilities{info & 0xFF, (info >> 8) & 0xFF};
}

bool StartTrapChecksum(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count) {
    return SendCommand(flashBase, address, count, mailbox::kChecksumCommand);
}

TrapAnswer FinishTrapChecksum(std::uint32_t count, std::uint32_t& crc) {
    TrapAnswer answer = WaitForAnswer(mailbox::kPollLimit + count / kChecksumBytesPerPoll);
    if (answer.ok && !ReadTrapChecksumWord(crc)) answer = {false, "the receiver did not answer"};
    return answer;
}

bool TrapChecksumIs(std::uint32_t expected, bool& same) {
    std::uint32_t crc = 0;
    if (!ReadTrapChecksumWord(crc) || (crc != expected && !ReadTrapChecksumWord(crc))) return false;
    same = crc == expected;
    return true;
}

TrapAnswer FinishTrapChecksumAgainst(std::uint32_t count, std::uint32_t expected, bool& same) {
    TrapAnswer answer = WaitForAnswer(mailbox::kPollLimit + count / kChecksumBytesPerPoll);
    if (answer.ok && !TrapChecksumIs(expected, same)) answer = {false, "the receiver did not answer"};
    return answer;
}

bool ReadTrapChecksumWord(std::uint32_t& crc) { return DcuReadWord(TrapWptr + mailbox::kChecksumResult, crc); }

TrapAnswer TrapEraseSectors(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count,
                            std::uint32_t maxMs) {
    if (!SendCommand(flashBase, address, count, mailbox::kEraseSectorsCommand))
        return {false, "the receiver did not answer"};
    return WaitForAnswer(0, maxMs);
}

TrapAnswer TrapIdentify(std::uint32_t flashBase, std::vector<std::uint8_t>& answer) {
    if (!SendCommand(flashBase, 0, 0, mailbox::kIdentifyCommand)) return {false, "the receiver did not answer"};
    TrapAnswer result = WaitForAnswer(mailbox::kPollLimit);
    if (!result.ok) return result;
    answer.assign(mailbox::kIdentifySize + 256, 0);
    for (std::uint32_t got = 0; got < mailbox::kIdentifySize;) {
        const std::int32_t n = DcuReadBlock(TrapWptr + mailbox::kDataBuffer + got, answer.data() + got);
        if (n <= 0) return {false, "the receiver did not answer"};
        got += static_cast<std::uint32_t>(n);
    }
    answer.resize(mailbox::kIdentifySize);
    return result;
}

}  // namespace orbvex
