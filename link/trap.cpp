// SPDX-License-Identifier: GPL-2.0-or-later
#include "link/trap.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link.h"
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
bool ReadTrapImage(const std::string& path, std::uint32_t limit, std::vector<std::uint8_t>& image,
                   std::uint32_t& size) {
    // Only a regular file that fits below the mailbox: a folder, a pipe or a device is
    // as good as missing, and never blocks the program.
    if (!orbvex::ReadWholeFile(path, limit, image).Ok()) return false;
    size = static_cast<std::uint32_t>(image.size());
    image.resize(RoundUpTo4(size), 0);
    return true;
}

// Writes the image in pieces of 252 bytes; returns how many bytes of the file went out.
std::uint32_t WriteTrapImage(std::uint32_t loadAddress, const std::vector<std::uint8_t>& image,
                             std::uint32_t size, const std::function<bool()>& stop) {
    std::uint32_t offset = 0;
    while (offset < size && !(stop && stop())) {
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

bool LoadTrapFile(std::uint32_t loadAddress, const std::string& fileName, const std::function<bool()>& stop) {
    std::vector<std::uint8_t> image;
    std::uint32_t size = 0;
    if (!ReadTrapImage(TrapFilePath(fileName), orbvex::MaxTrapSize(loadAddress), image, size)) {
        orbvex::LinkLog("File " + fileName + "  fail");
        return false;
    }
    orbvex::Link::RecordTrapSize(size);
    if (WriteTrapImage(loadAddress, image, size, stop) < size) {
        if (!(stop && stop())) orbvex::LinkLog("Load Trap : LEN Fail");
        return false;
    }
    orbvex::LinkLog("Load Trap : LEN Ok");
    return true;
}

bool StartTrap(std::uint32_t loadAddress) {
    const std::uint32_t workspace = loadAddress + (TrapSize & ~3u) + 8;
    std::uint32_t wptr = TrapWptr, iptr = TrapIptr;
    const bool ok = DcuReadWord(kTrapWorkspaceWord, wptr) &&
                    DcuReadWord(kTrapIptrWord, iptr) &&
                    DcuWriteWord(kTrapIptrWord, loadAddress) &&
                    DcuWriteWord(kTrapWorkspaceWord, workspace) &&
                    DcuReadWord(kTrapIptrWord, iptr) &&
                    DcuReadWord(kTrapWorkspaceWord, wptr);
    orbvex::Link::RecordTrapPointers(wptr, iptr);
    orbvex::LinkLog("Trap_Wptr " + orbvex::Hex8(wptr));
    orbvex::LinkLog("Trap_Iptr " + orbvex::Hex8(iptr));
    return ok;
}

bool WriteWordLogged(std::uint32_t address, std::uint32_t value) {
    if (DcuWriteWord(address, value)) return true;
    orbvex::LinkLog("FAIL WRITE ADR[" + orbvex::Hex8(address) + "]=" + orbvex::Hex8(value));
    return false;
}

namespace orbvex {

std::uint32_t MaxTrapSize(std::uint32_t loadAddress) {
    // The workspace, and with it the mailbox, begins 8 bytes past the program's last word.
    const std::uint64_t ramEnd = std::uint64_t{kTargetRamBase} + kTargetRamSize;
    const std::uint64_t used = std::uint64_t{loadAddress} + 8 + mailbox::kSize;
    const std::uint64_t room = used < ramEnd ? ramEnd - used : 0;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(room, kTrapFileLimit));
}

std::optional<std::uint64_t> TrapFileSize(const std::string& fileName) {
    std::error_code ec;
    const std::filesystem::path path = TrapFilePath(fileName);
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) return std::nullopt;
    return size;
}

}  // namespace orbvex
