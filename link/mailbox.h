// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

// Where the trap program lives and how the host talks to it: the two trap words that
// START sets, and the mailbox at the workspace pointer.

inline constexpr std::uint32_t kTrapWorkspaceWord = 0x80000048;  // TrapWptr is read from here
inline constexpr std::uint32_t kTrapIptrWord = 0x8000004C;

// The RAM from 0x80000000 that the host counts on for the trap program and the mailbox
// above it.
inline constexpr std::uint32_t kTargetRamBase = 0x80000000;
inline constexpr std::uint32_t kTargetRamSize = 4u << 20;

// Byte offsets of the mailbox words from TrapWptr.
namespace mailbox {
inline constexpr std::uint32_t kCommand = 0x00;
inline constexpr std::uint32_t kFlashAddress = 0x04;
inline constexpr std::uint32_t kBufferAddress = 0x08;
inline constexpr std::uint32_t kByteCount = 0x0C;
inline constexpr std::uint32_t kFlashBase = 0x10;
inline constexpr std::uint32_t kDataBuffer = 0x1C;
inline constexpr std::uint32_t kDataBufferSize = 4096;
inline constexpr std::uint32_t kSize = kDataBuffer + kDataBufferSize;  // the trap program leaves it alone

inline constexpr std::uint32_t kProgramCommand = 0x100;
inline constexpr std::uint32_t kEraseCommand = 0x400;
inline constexpr std::uint32_t kDoneBit = 0x1;  // set by the trap program when a command is finished
// The trap program's failure answer: bit 0 clear, bit 1 set, in bits 4..15 the byte
// offset in the chunk of the word that failed, in bits 16..31 the reason.
inline constexpr std::uint32_t kFailureBit = 0x2;
inline constexpr unsigned kFailureOffsetShift = 4;
inline constexpr std::uint32_t kFailureOffsetMask = 0xFFF;
inline constexpr unsigned kFailureReasonShift = 16;
enum FailureReason : std::uint32_t {
    kChipNotIdentified = 1,
    kEraseFailed = 2,
    kProgramFailed = 3,
    kTimeOut = 4,
    kOutsideChip = 5,
    kNotACommand = 6,
};
// Reads of the command word that may show the done bit; one more read ends the wait.
inline constexpr int kPollLimit = 1000;
}  // namespace mailbox

// What our own trap program answers beyond the two commands: a signature at start,
// identify, checksum and erase sectors (documented with the program's source).
namespace mailbox {
inline constexpr std::uint32_t kSignature = 0x14;      // the magic word
inline constexpr std::uint32_t kSignatureInfo = 0x18;  // version, abilities, check
inline constexpr std::uint32_t kSignatureMagic = 0x7A4B5452;
inline constexpr std::uint32_t kSignatureSalt = 0x9E37;
inline constexpr std::uint32_t kCanIdentify = 0x1;  // ability bits
inline constexpr std::uint32_t kCanChecksum = 0x2;
inline constexpr std::uint32_t kCanEraseSectors = 0x4;
inline constexpr std::uint32_t kCanProgramSummed = 0x8;
inline constexpr std::uint32_t kCanFindBlankPages = 0x10;
inline constexpr std::uint32_t kIdentifyCommand = 0x800;
inline constexpr std::uint32_t kChecksumCommand = 0x1000;
inline constexpr std::uint32_t kEraseSectorsCommand = 0x2000;
inline constexpr std::uint32_t kProgramSummedCommand = 0x1100;  // program, then the chunk's checksum
// Which 4 KB pages from the flash address (+0x04) over the byte count (+0x0C) hold only
// 0xFF: bit i of buffer byte i / 8 (low bit first) for the page at address + 4096 i, the
// last one ending with the range. Needs no identified chip; the range lies in
// [flash base, 0x80000000) and the count is 1 to kBlankPagesMost.
inline constexpr std::uint32_t kBlankPagesCommand = 0x4000;
inline constexpr std::uint32_t kBlankPageSize = 4096;
inline constexpr std::uint32_t kBlankPagesMost = kDataBufferSize * 8 * kBlankPageSize;
// The checksum answers in the buffer address word, which it has no use for.
inline constexpr std::uint32_t kChecksumResult = kBufferAddress;
inline constexpr std::uint32_t kIdentifySize = 80;  // bytes the identify answer fills in the buffer
}  // namespace mailbox
