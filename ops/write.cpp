// SPDX-License-Identifier: GPL-2.0-or-later
// Write: the ROM file goes into the flash chunk by chunk through the trap program's
// mailbox, with the address label, the progress bar and Abort.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "link/dcu.h"
#include "link/trap.h"
#include "link/trap_protocol.h"
#include "ops/chip_info.h"
#include "ops/common.h"
#include "ops/erased.h"
#include "ops/flash_writer.h"
#include "util/crc32.h"
#include "util/image_file.h"
#include "ops/operations.h"

namespace orbvex {
namespace {

constexpr std::uint32_t kChunkSize = mailbox::kDataBufferSize;
constexpr std::uint32_t kProgressUnit = 100;

enum class ChunkOutcome { Programmed,
                          UploadFailed,
                          NotDone,
                          Aborted };

// The program command's wait, in the window's words: a mailbox word that did not go
// out, the trap program's failure as the command line stops at it, or the bare answer.
// What the bare "ACK = ..." means, for the command line (the window keeps its line alone).
std::string AckMeaning(const TrapAnswer& answer, std::uint32_t command, std::optional<std::uint32_t> maxMs) {
    const std::string ack = "ACK = " + Hex8(answer.status) + ": ";
    if (answer.wait == CommandWait::ReadFailed) return ack + "the command word could not be read back";
    if (IsTrapFailure(answer.status)) return ack + "the trap program failed: " + TrapFailureText(answer.status, {});
    if (answer.status == command)
        return ack + "the trap program was still programming the chunk when the host stopped waiting, after " +
               (maxMs ? std::to_string((*maxMs + 999) / 1000) + " s" : std::to_string(mailbox::kPollLimit) + " polls") +
               "; the chip may never have finished";
    return ack + "not the answer to the program command " + Hex8(command);
}

ChunkOutcome ProgramAnswered(WindowServices& window, std::uint32_t flashAddress, const TrapAnswer& answer,
                             const TrapWaitWatch& watch, std::uint32_t command, std::optional<std::uint32_t> maxMs) {
    const std::string error = "Error writing flash at address " + Hex8(flashAddress);
    switch (answer.wait) {
    case CommandWait::Done: return ChunkOutcome::Programmed;
    case CommandWait::NotSent:
        window.LogLine(error + ": mailbox word " + Hex8(answer.unwrittenWord) + " could not be written");
        return ChunkOutcome::NotDone;
    case CommandWait::Stopped:
        if (!watch.Failure()) return ChunkOutcome::Aborted;
        window.LogLine(error + ": " + *watch.Failure());
        return ChunkOutcome::NotDone;
    case CommandWait::Failed:
    case CommandWait::NotDone:
    case CommandWait::ReadFailed: break;
    }
    // A command word that cannot be read says nothing about the chunk: it is not done.
    window.LogLine(error + " ACK = " + Hex8(answer.status));
    window.StillWaiting("write at " + Hex8(flashAddress) + ": " + AckMeaning(answer, command, maxMs));
    return ChunkOutcome::NotDone;
}

}  // namespace

TrapHelp AskTrapHelp(WindowServices& window, std::uint32_t flashBase) {
    TrapHelp help;
    const std::optional<TrapAbilities> abilities = ReadTrapSignature();
    help.checksums = abilities && abilities->Can(mailbox::kCanProgramSummed);
    if (const std::optional<ChipInfo> chip = IdentifyChip(window, flashBase)) help.programMaxUs = chip->programUs[1];
    return help;
}

namespace {

bool AllErased(const std::uint8_t* bytes, std::uint32_t length) {
    return std::all_of(bytes, bytes + length, [](std::uint8_t b) { return b == 0xFF; });
}

class FlashWriter {
public:
    // The file goes to flash.base + offset on; the chip is at flash.base.
    FlashWriter(WindowServices& window, FlashRange flash, const std::vector<std::uint8_t>& rom, std::uint32_t offset,
                TrapHelp help)
        : window_(window), flash_(flash), rom_(rom), offset_(offset), help_(help) {}

    // True when every byte of the file was programmed (and, with the trap's checksums,
    // found in the flash).
    WriteOutcome Run() {
        const auto total = static_cast<std::uint32_t>(rom_.size());
        std::uint32_t done = 0;
        window_.TransferProgress(0, total);
        while (done < total) {
            std::uint32_t length = std::min(total - done, kChunkSize);
            const std::uint32_t at = flash_.base + offset_ + done;
            if (AbortRequested || window_.StopRequested()) return {Stopped(at, false)};
            // Programming 0xFF changes no cell: an erased chunk's bytes need not cross the cable.
            if (help_.skipBlank && AllErased(rom_.data() + done, length)) {
                skipped_.push_back(done);
            } else {
                ChunkOutcome outcome = ProgramChunk(at, rom_.data() + done, length);
                if (outcome == ChunkOutcome::Aborted) return {Stopped(at, true)};
                if (outcome != ChunkOutcome::Programmed) return {};
            }
            done += length;
            window_.TransferProgress(done, total);
        }
        const bool skippedChecked = SkippedAreBlank();
        if (!skipped_.empty())
            window_.LogLine("Write skipped " + std::to_string(skipped_.size()) +
                            " chunks of 0xFF (programming 0xFF changes no cell)" +
                            (skippedChecked ? ", each found blank in the flash" : ""));
        if (!skippedChecked && failed_) return {};
        if (help_.checksums) window_.LogLine("Write checked by the receiver's checksums");
        return {true, help_.checksums && skippedChecked};
    }

private:
    // The chunks left out must read blank, or the whole range was not written as asked:
    // found by the blank-page command in one go, else by each one's checksum.
    bool SkippedAreBlank() {
        if (skipped_.empty()) return true;
        const std::optional<TrapAbilities> abilities = ReadTrapSignature();
        const auto total = static_cast<std::uint32_t>(rom_.size());
        const std::uint32_t start = flash_.base + offset_;
        if (abilities && abilities->Can(mailbox::kCanFindBlankPages)) {
            std::vector<bool> blank;
            if (const TrapAnswer answer = TrapBlankPages(flash_.base, start, total, blank); !answer.ok)
                return Unchecked(start, answer.failure);
            for (std::uint32_t offset : skipped_)
                if (!blank[offset / mailbox::kBlankPageSize]) return NotBlank(start + offset);
            return true;
        }
        if (!help_.checksums) return false;
        for (std::uint32_t offset : skipped_) {
            const std::uint32_t n = std::min(total - offset, kChunkSize);
            const std::vector<std::uint8_t> erased(n, 0xFF);
            bool same = false;
            TrapAnswer answer{false, "the receiver did not answer"};
            if (StartTrapChecksum(flash_.base, start + offset, n))
                answer = FinishTrapChecksumAgainst(n, Crc32(erased.data(), n), same);
            if (!answer.ok) return Unchecked(start + offset, answer.failure);
            if (!same) return NotBlank(start + offset);
        }
        return true;
    }

    bool NotBlank(std::uint32_t at) {
        window_.LogLine("Error writing flash at address " + Hex8(at) +
                        ": the chunk of 0xFF left out is not blank in the flash; erase and write again");
        failed_ = true;
        return false;
    }

    bool Unchecked(std::uint32_t at, const std::string& why) {
        window_.LogLine("Error writing flash at address " + Hex8(at) + ": the chunks of 0xFF left out were not checked: " +
                        why);
        failed_ = true;
        return false;
    }

    // Abort from the window ends the write quietly, as it always did; a stop asked for
    // on the command line says where it stopped and what that leaves in the flash.
    // inChunk: the chunk at flashAddress was handed to the trap program, which may still
    // be programming it.
    bool Stopped(std::uint32_t flashAddress, bool inChunk) {
        if (!window_.StopRequested()) return false;
        std::string what = ": interrupted, the flash is written only below it";
        if (inChunk) what = ": interrupted, the flash is written below it and may be partly written from it";
        else if (flashAddress == flash_.base + offset_) what = ": interrupted, nothing written";
        window_.LogLine("Write stopped at address " + Hex8(flashAddress) + what);
        return false;
    }

    ChunkOutcome ProgramChunk(std::uint32_t flashAddress, const std::uint8_t* chunk,
                              std::uint32_t length) {
        if (!UploadTrapChunk(chunk, length)) {
            window_.LogLine("Load Data RAM Fail");
            return ChunkOutcome::UploadFailed;
        }
        window_.SetAddressLabel(Hex8(flashAddress));
        window_.SetProgressPosition(static_cast<int>((flashAddress - flash_.base) / kProgressUnit));
        window_.ProcessMessages();
        TrapWaitWatch watch(
            window_, "write ADR[" + Hex8(flashAddress) + "]",
            [this] { return AbortRequested || window_.StopRequested(); }, flashAddress);
        const std::optional<std::uint32_t> maxMs = ProgramWaitMs(length);
        const TrapAnswer answer = TrapProgram({flash_.base, flashAddress, length, help_.checksums}, maxMs,
                                              [&watch](std::uint32_t word) { return watch(word); });
        const std::uint32_t command = help_.checksums ? mailbox::kProgramSummedCommand : mailbox::kProgramCommand;
        const ChunkOutcome outcome = ProgramAnswered(window_, flashAddress, answer, watch, command, maxMs);
        if (outcome != ChunkOutcome::Programmed || !help_.checksums) return outcome;
        return ChunkInFlash(flashAddress, Crc32(chunk, length), length) ? outcome : ChunkOutcome::NotDone;
    }

    // Twice the chip's longest program of the chunk's words, and a second more.
    std::optional<std::uint32_t> ProgramWaitMs(std::uint32_t length) const {
        if (help_.programMaxUs == 0) return std::nullopt;
        return static_cast<std::uint32_t>((std::uint64_t{length} / 2 * help_.programMaxUs * 2) / 1000 + 1000);
    }

    // The program command's answer holds the chunk's checksum, taken from the flash.
    bool ChunkInFlash(std::uint32_t flashAddress, std::uint32_t crc, std::uint32_t length) {
        bool same = false;
        std::string error = "the receiver did not answer its checksum";
        if (TrapChecksumIs(crc, same))
            error = "the flash does not hold the file's " + Hex8(length) +
                    " bytes from there (the receiver's checksum differs); check the cable, erase and write again";
        if (!same) window_.LogLine("Error writing flash at address " + Hex8(flashAddress) + ": " + error);
        return same;
    }

    WindowServices& window_;
    FlashRange flash_;
    const std::vector<std::uint8_t>& rom_;
    std::uint32_t offset_;
    TrapHelp help_;
    std::vector<std::uint32_t> skipped_;  // offsets of the chunks of 0xFF not sent
    bool failed_ = false;                 // those were found, or left, unchecked
};

}  // namespace

WriteOutcome WriteChunks(WindowServices& window, FlashRange flash, const std::vector<std::uint8_t>& rom,
                         std::uint32_t offset, const TrapHelp& help) {
    return FlashWriter(window, flash, rom, offset, help).Run();
}

namespace {

// A write from an offset erases the sectors it covers, and only those, first.
bool EraseSectorsFor(WindowServices& window, FlashRange flash, std::uint32_t offset, std::uint32_t length) {
    const std::optional<ChipInfo> chip = IdentifyChip(window, flash.base);
    if (!chip || chip->regions.empty()) {
        window.LogLine("Write refused: a write from an offset needs a trap program that names the chip's sectors");
        return false;
    }
    const SectorSpan span = SectorsCovering(*chip, offset, length);
    if (!span.aligned) {
        window.LogLine("Write refused: ADR[" + Hex8(flash.base + offset) + "]:LEN[" + Hex8(length) +
                       "] does not start and end on sector boundaries; the sectors around it run from " +
                       Hex8(flash.base + span.below) + " to " + Hex8(flash.base + span.above) + ": nothing erased");
        return false;
    }
    return EraseSpan(window, flash.base, *chip, span);
}

}  // namespace

bool LoadRomFile(WindowServices& window, const std::string& path, FlashRange flash,
                 std::vector<std::uint8_t>& rom) {
    const FileReadResult read = ReadWholeFile(path, flash.size, rom);
    switch (read.status) {
    case FileReadStatus::Ok:
        return true;
    case FileReadStatus::CannotOpen:
        window.LogLine("Cannot open the ROM file: nothing written");
        return false;
    case FileReadStatus::CannotRead:
        window.LogLine("Cannot read the ROM file: nothing written");
        return false;
    case FileReadStatus::TooLarge:
        window.LogLine("ROM file too large: LEN[" + Hex8(static_cast<std::uint32_t>(read.size)) +
                       "] but flash LEN[" + Hex8(flash.size) + "]: nothing written");
        return false;
    }
    return false;
}

namespace {

WriteOutcome WriteChosenFile(WindowServices& window, const WriteInputs& in) {
    const std::optional<std::uint32_t> offset = in.offset;
    const std::optional<ChosenFile> chosen = in.chooseRom();
    if (!chosen) return {};
    const std::string& path = chosen->path;
    const FlashRange flash = chosen->flash;
    if (in.checkChipSize && !ChipSizeAgrees(window, flash, "Write")) return {};
    window.SetProgressPosition(0);
    window.SetProgressMaximum(static_cast<int>(flash.size / kProgressUnit));
    window.LogLine("File : " + path);
    std::vector<std::uint8_t> rom;
    const std::uint32_t skip = offset.value_or(0);
    if (skip >= flash.size && offset) {
        window.LogLine("Write refused: the offset " + Hex8(skip) + " lies past the flash's end");
        return {};
    }
    if (!LoadRomFile(window, path, {flash.base + skip, flash.size - skip}, rom)) return {};
    if (offset && !EraseSectorsFor(window, flash, skip, static_cast<std::uint32_t>(rom.size()))) return {};
    window.LogLine("Write Flash ADR[" + Hex8(flash.base + skip) + "] LEN[" +
                   Hex8(static_cast<std::uint32_t>(rom.size())) + "] : Please Wait...");
    window.ProcessMessages();
    TrapHelp help = in.trapChecks ? AskTrapHelp(window, flash.base) : TrapHelp{};
    help.skipBlank = in.skipBlank;
    const WriteOutcome written = WriteChunks(window, flash, rom, skip, help);
    window.LogLine("Write Flash END");
    return written;
}

}  // namespace

WriteOutcome RunWrite(Link& link, WindowServices& window, const WriteInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return {};

    AbortRequested = false;
    if (!BringUpLink(link, window, in.lptBase)) return {};

    WriteOutcome outcome;
    if (DcuAnswers(window) && FindMailbox(link, window)) outcome = WriteChosenFile(window, in);
    EndOperation(window);
    return outcome;
}

}  // namespace orbvex
