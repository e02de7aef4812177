// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The operations wired to an in-process virtual receiver, as the virtual window program
// wires them, with a window that records what they show, a clock that makes JtagInit's
// waits instant and a scratch folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "ops/link_session.h"
#include "ops/operations.h"
#include "ops/window_services.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "port/program_dir.h"
#include "sim/virtual_receiver.h"

namespace orbvex::test {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Transfer = std::pair<std::uint64_t, std::uint64_t>;

inline constexpr const char* kSeparatorLine = "---------------------";
inline constexpr const char* kPortBox = "The parallel port could not be opened";

// What the window showed; Forget() starts a fresh record.
struct Shown {
    std::vector<std::string> lines, labels, errorBoxes, waitNotices;
    std::vector<int> progressPositions;
    std::vector<unsigned> beeps;
    std::vector<Transfer> transfer;
    int progressPosition = 0, progressMaximum = 100, clears = 0, processCalls = 0, fileRequests = 0;
};

// Records what the operations show, holds the operator's choices as the test arranged
// them, and can press Abort at the n-th message processing.
class FakeWindow : public WindowServices, public Shown {
public:
    bool f2 = false;                        // F1 (1 MB) unless set
    bool l2 = false;                        // L1 unless set
    std::optional<std::string> openChoice;  // nullopt: the dialog is cancelled
    std::optional<std::string> saveChoice;
    std::string trapFile = ORBVEX_VIRTUAL_TRAP_IMAGE;
    int abortAtProcessCall = 0;  // 1-based; 0 never
    std::function<void()> onProcessMessages;
    std::function<bool()> stopWhen;  // the command line's Ctrl-C
    bool stopAtTrapFailure = false;  // as the command line does

    void LogLine(const std::string& line) override { lines.push_back(line); }
    void ClearLog() override {
        lines.clear();
        ++clears;
    }
    void SetAddressLabel(const std::string& text) override { labels.push_back(text); }
    void SetProgressPosition(int position) override {
        progressPositions.push_back(progressPosition = position);
    }
    void SetProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void ProcessMessages() override {
        if (++processCalls == abortAtProcessCall) RunAbort(*this);
        if (onProcessMessages) onProcessMessages();
    }
    void ShowErrorBox(const std::string& text) override { errorBoxes.push_back(text); }
    void Beep(unsigned type) override { beeps.push_back(type); }
    bool StopRequested() override { return stopWhen && stopWhen(); }
    bool StopAtTrapFailure() override { return stopAtTrapFailure; }
    void StillWaiting(const std::string& text) override { waitNotices.push_back(text); }
    void TransferProgress(std::uint64_t done, std::uint64_t total) override {
        transfer.emplace_back(done, total);
    }

    std::string Label() const { return labels.empty() ? "00000000" : labels.back(); }
    // The n-th line from the end, 1 for the last.
    std::string FromEnd(std::size_t n) const { return n <= lines.size() ? lines[lines.size() - n] : ""; }
    void Forget() { static_cast<Shown&>(*this) = Shown{}; }

    // The inputs the window's handlers would hand over for these choices.
    std::uint16_t Port() const { return l2 ? kLpt2Base : kLpt1Base; }
    FlashRange Flash() const { return f2 ? kFlash2M : kFlash1M; }
    FileChooser Chooser(const std::optional<std::string>& choice) {
        return [this, &choice]() -> std::optional<ChosenFile> {
            ++fileRequests;
            if (!choice) return std::nullopt;
            return ChosenFile{*choice, Flash()};
        };
    }
    StartInputs StartIn() const { return {Port(), trapFile}; }
    EraseInputs EraseIn() const { return {Port(), Flash()}; }
    WriteInputs WriteIn() { return {Port(), Chooser(openChoice)}; }
    ReadInputs ReadIn() { return {Port(), Chooser(saveChoice)}; }
};

inline std::uint32_t FastTicks() {
    static std::uint32_t now = 0;
    return now += 100;
}

// A trap built to fail (never-done, done-late, leaves-window), beside the programs.
inline std::string FaultTrap(const std::string& name) { return std::string(ORBVEX_BIN_DIR) + "/fault-" + name + ".bin"; }

inline std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class ReceiverTest : public ::testing::Test {
public:
    // The four operations as the window's buttons run them, with the window's choices.
    bool Start() { return RunStart(link->Link(), window, window.StartIn()); }
    bool Erase() { return RunErase(link->Link(), window, window.EraseIn()); }
    bool Write() { return RunWrite(link->Link(), window, window.WriteIn()); }
    bool Read() { return RunRead(link->Link(), window, window.ReadIn()); }

protected:
    void SetUp() override {
        SetTickSource(&FastTicks);
        link.emplace(*access, &receiver);
        AbortRequested = false;
        static int serial = 0;
        dir = std::filesystem::temp_directory_path() /
              ("orbvex-ops-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(dir);
        SetProgramDirectory(dir.string());
    }

    void TearDown() override {
        link.reset();
        SetTickSource(nullptr);
        SetLinkLog(nullptr);
        SetProgramDirectory("");
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    std::string PathIn(const std::string& name) const { return (dir / name).string(); }

    std::vector<std::string> FilesInDir() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // START to "Init OK :)", then a fresh window record for what follows.
    void Connect() {
        ASSERT_TRUE(Start()) << ::testing::PrintToString(window.lines);
        window.Forget();
    }

    // The ROM file image.rom holding rom, chosen in the open dialog.
    void ChooseRom(const std::vector<std::uint8_t>& rom) {
        WriteFileBytes(PathIn("image.rom"), rom);
        window.openChoice = PathIn("image.rom");
    }

    std::uint32_t Mailbox() const { return receiver.PeekWord(0x80000048); }

    std::vector<sim::DcuMessageRecord> Writes() const {
        std::vector<sim::DcuMessageRecord> writes;
        for (const auto& m : receiver.Messages())
            if (m.kind == sim::DcuMessageRecord::Kind::Write) writes.push_back(m);
        return writes;
    }

    sim::VirtualReceiver receiver;
    std::unique_ptr<PortAccess> access = MakeUnrestrictedPortAccess();
    std::optional<LinkSession> link;
    FakeWindow window;
    std::filesystem::path dir;
};

}  // namespace orbvex::test
