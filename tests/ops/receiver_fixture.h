#pragma once
// The operations wired to an in-process virtual receiver, as the virtual window program
// wires them, with a clock that makes JtagInit's waits instant and a scratch folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "link/trap.h"
#include "ops/fake_window.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "port/program_dir.h"
#include "sim/virtual_receiver.h"

namespace orbvex::test {

inline std::uint32_t FastTicks() {
    static std::uint32_t now = 0;
    return now += 100;
}

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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class ReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTickSource(&FastTicks);
        SetPortBackend(&receiver);
        SetActivePortAccess(nullptr);
        LptBase = 0x378;
        PortAvailable = true;
        ClockDelay = 1;
        StartWaitLimit = 2024;
        AbortRequested = false;
        TrapFileName = ORBVEX_VIRTUAL_TRAP_IMAGE;
        static int serial = 0;
        dir = std::filesystem::temp_directory_path() /
              ("orbvex-ops-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(dir);
        SetProgramDirectory(dir.string());
    }

    void TearDown() override {
        SetPortBackend(nullptr);
        SetTickSource(nullptr);
        SetLinkLog(nullptr);
        SetProgramDirectory("");
        TrapFileName = "trap.bin";
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    std::string PathIn(const std::string& name) const { return (dir / name).string(); }

    // START to "Init OK :)", then a fresh window record for what follows.
    void Connect() {
        ASSERT_TRUE(RunStart(window)) << ::testing::PrintToString(window.lines);
        window.Forget();
    }

    std::uint32_t Mailbox() const { return receiver.PeekWord(0x80000048); }

    std::vector<sim::DcuMessageRecord> WritesSince(std::size_t first) const {
        std::vector<sim::DcuMessageRecord> writes;
        const auto& all = receiver.Messages();
        for (std::size_t i = first; i < all.size(); ++i)
            if (all[i].kind == sim::DcuMessageRecord::Kind::Write) writes.push_back(all[i]);
        return writes;
    }

    sim::VirtualReceiver receiver;
    FakeWindow window;
    std::filesystem::path dir;
};

}  // namespace orbvex::test
