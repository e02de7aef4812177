#include "link/trap.h"

#include <vector>

#include "link/dcu.h"
#include "link/link_log.h"
#include "port/program_dir.h"
#include "util/image_file.h"

std::uint32_t TrapSize = 0;
std::uint32_t TrapWptr = 0;
std::uint32_t TrapIptr = 0;

namespace {

constexpr std::uint32_t kMaxPiece = 252;

bool IsAbsolutePath(const std::string& name) {
    if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return true;
    // A drive letter: C:\trap.bin or C:/trap.bin.
    return name.size() > 2 && name[1] == ':' && (name[2] == '\\' || name[2] == '/');
}

std::string TrapFilePath(const std::string& fileName) {
    return IsAbsolutePath(fileName) ? fileName : orbvex::FindProgramFile(fileName);
}

std::uint32_t RoundUpTo4(std::uint32_t n) { return (n + 3u) & ~3u; }

// The whole file in a zero-filled buffer whose size is a multiple of 4: the DCU
// stores only as many bytes as a block's command byte announces (length & 0xFC),
// so the last piece goes out padded with zeros and every byte of the file arrives.
bool ReadTrapImage(const std::string& path, std::vector<std::uint8_t>& image,
                   std::uint32_t& size) {
    // Only a regular file that fits the 32-bit size word: a folder, a pipe or a device
    // is as good as missing, and never blocks the program.
    if (!orbvex::ReadWholeFile(path, 0xFFFFFFF0u, image).Ok()) return false;
    size = static_cast<std::uint32_t>(image.size());
    image.resize(RoundUpTo4(size), 0);
    return true;
}

// Writes the image in pieces of 252 bytes; returns how many bytes of the file went out.
std::uint32_t WriteTrapImage(std::uint32_t loadAddress, const std::vector<std::uint8_t>& image,
                             std::uint32_t size) {
    std::uint32_t offset = 0;
    while (offset < size) {
        const std::uint32_t piece = size - offset <= kMaxPiece ? size - offset : kMaxPiece;
        const std::uint32_t padded = RoundUpTo4(piece);
        if (DcuWriteBlock(loadAddress + offset, image.data() + offset,
                          static_cast<std::uint8_t>(padded)) == 0) {
            break;
        }
        offset += piece;
    }
    return offset;
}

}  // namespace

bool LoadTrapFile(std::uint32_t loadAddress, const std::string& fileName) {
    std::vector<std::uint8_t> image;
    std::uint32_t size = 0;
    if (!ReadTrapImage(TrapFilePath(fileName), image, size)) {
        orbvex::LinkLog("File " + fileName + "  fail");
        return false;
    }
    TrapSize = size;
    if (WriteTrapImage(loadAddress, image, size) < size) {
        orbvex::LinkLog("Load Trap : LEN Fail");
        return false;
    }
    orbvex::LinkLog("Load Trap : LEN Ok");
    return true;
}

bool StartTrap(std::uint32_t loadAddress) {
    const std::uint32_t workspace = loadAddress + (TrapSize & ~3u) + 8;
    const bool ok = DcuReadWord(kTrapWorkspaceWord, TrapWptr) &&
                    DcuReadWord(kTrapIptrWord, TrapIptr) &&
                    DcuWriteWord(kTrapIptrWord, loadAddress) &&
                    DcuWriteWord(kTrapWorkspaceWord, workspace) &&
                    DcuReadWord(kTrapIptrWord, TrapIptr) &&
                    DcuReadWord(kTrapWorkspaceWord, TrapWptr);
    orbvex::LinkLog("Trap_Wptr " + orbvex::Hex8(TrapWptr));
    orbvex::LinkLog("Trap_Iptr " + orbvex::Hex8(TrapIptr));
    return ok;
}

bool TrapCall(std::uint32_t flashBase, const std::function<bool()>& stop) {
    // A workspace word of 0 means the trap program was never installed: its mailbox
    // would be the CPU's low control registers.
    if (TrapWptr == 0) return false;
    if (!DcuWriteWord(TrapWptr + mailbox::kFlashBase, flashBase)) return false;
    if (!DcuWriteWord(TrapWptr + mailbox::kCommand, mailbox::kEraseCommand)) return false;
    // An unreadable command word says nothing about completion: the call fails.
    std::uint32_t status = 0;
    return orbvex::WaitForTrapCommand(status, stop) == orbvex::CommandWait::Done;
}

bool WriteWordLogged(std::uint32_t address, std::uint32_t value) {
    if (DcuWriteWord(address, value)) return true;
    orbvex::LinkLog("FAIL WRITE ADR[" + orbvex::Hex8(address) + "]=" + orbvex::Hex8(value));
    return false;
}

namespace orbvex {

CommandWait WaitForTrapCommand(std::uint32_t& status, const std::function<bool()>& stop) {
    for (int polls = 0;; ++polls) {
        if (!DcuReadWord(TrapWptr + mailbox::kCommand, status)) return CommandWait::ReadFailed;
        if (status & mailbox::kDoneBit) return polls < mailbox::kPollLimit ? CommandWait::Done : CommandWait::NotDone;
        if (polls >= mailbox::kPollLimit) return CommandWait::NotDone;
        if (stop && stop()) return CommandWait::Stopped;
    }
}

}  // namespace orbvex
