// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Sending fewer bytes side by side with today's way, on one connected receiver holding a
// 1 MB flash, each operation's cost measured by cost() (port accesses, round trips). The
// image is 40% 0xFF in whole 4 KB pages spread over it, the rest random:
//   update of an image that differs in one 64 KB sector, and of an identical one, against
//   erase + today's checked write; a write that sends no chunk of 0xFF against today's;
//   a default backup that reads no blank page against today's checked one pass.
#include <benchmark/benchmark.h>

#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "quiet_window.h"

inline std::vector<std::uint8_t> FortyPercentBlankImage() {
    std::vector<std::uint8_t> image(0x100000);
    std::mt19937 random(11);
    for (auto& b : image) b = static_cast<std::uint8_t>(random());
    for (std::uint32_t page = 0; page < 256; ++page)
        if (page % 5 < 2) std::fill_n(image.begin() + page * 0x1000, 0x1000, 0xFF);
    return image;
}

// setFlash puts an image into the flash outside the measured operations.
inline void CompareFewerBytes(benchmark::State& state, orbvex::Link& link, QuietWindow& window, const std::string& rom,
                              const std::string& back, const std::function<std::uint64_t()>& cost,
                              const std::function<void(const std::vector<std::uint8_t>&)>& setFlash) {
    using namespace orbvex;
    const auto run = [&](auto operation) {
        const std::uint64_t before = cost();
        const bool ok = operation();
        if (!ok) state.SkipWithError(window.lastLine.c_str());
        return static_cast<double>(cost() - before);
    };
    const std::vector<std::uint8_t> image = FortyPercentBlankImage();
    std::ofstream(rom, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    auto oneSectorOff = image;
    for (std::uint32_t i = 0x50000; i < 0x60000; ++i) oneSectorOff[i] ^= 0x5A;
    const std::vector<std::uint8_t> erased(image.size(), 0xFF);
    const UpdateInputs update{kLpt1Base, rom, kFlash1M, 0, false};
    WriteInputs today{kLpt1Base, Answer(rom, kFlash1M)};
    today.trapChecks = true;
    WriteInputs skipping = today;
    skipping.skipBlank = true;
    RangeReadInputs checkedOnePass{kLpt1Base, kFlash1M.base, 0x100000, back, 1, kFlash1M.base, true};
    RangeReadInputs backup{kLpt1Base, kFlash1M.base, 0x100000, back, 2, kFlash1M.base, false};
    for (auto _ : state) {
        setFlash(oneSectorOff);
        const double erase = run([&] { return RunErase(link, window, {kLpt1Base, kFlash1M}); });
        const double writeToday = run([&] { return RunWrite(link, window, today); });
        setFlash(oneSectorOff);
        const double updateOne = run([&] { return RunUpdate(link, window, update); });
        const double updateSame = run([&] { return RunUpdate(link, window, update); });
        setFlash(erased);
        const double writeSkipping = run([&] { return RunWrite(link, window, skipping); });
        const double backupToday = run([&] { return RunReadRange(link, window, checkedOnePass); });
        const double backupSkipping = run([&] { return RunReadRange(link, window, backup); });
        state.counters["update_one_sector_share_of_erase_write"] = updateOne / (erase + writeToday);
        state.counters["update_identical_share_of_erase_write"] = updateSame / (erase + writeToday);
        state.counters["write_blank_skipping_share_of_write"] = writeSkipping / writeToday;
        state.counters["backup_blank_skipping_share_of_checked_one_pass"] = backupSkipping / backupToday;
        state.counters["erase_plus_write"] = erase + writeToday;
        state.counters["update_one_sector"] = updateOne;
        state.counters["update_identical"] = updateSame;
        state.counters["write_today"] = writeToday;
        state.counters["backup_today"] = backupToday;
    }
}
