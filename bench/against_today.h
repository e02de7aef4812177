// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Today's way and the trap program's checksums side by side on one connected receiver,
// each operation's cost measured by cost() (port accesses, round trips): a two-pass
// backup against one pass checked by checksums; a whole-image read-back against a
// verify by checksums (against one pass); a write read back against one whose chunks
// the checksums check.
#include <benchmark/benchmark.h>

#include <functional>
#include <string>

#include "quiet_window.h"

// rom holds length bytes for the start of a 1 MB flash.
inline void CompareWithToday(benchmark::State& state, orbvex::Link& link, QuietWindow& window, const std::string& rom,
                             const std::string& back, std::uint32_t length, const std::function<std::uint64_t()>& cost,
                             const std::function<void()>& eraseFlash) {
    using namespace orbvex;
    const auto run = [&](auto operation) {
        const std::uint64_t before = cost();
        const bool ok = operation();
        if (!ok) state.SkipWithError(window.lastLine.c_str());
        return static_cast<double>(cost() - before);
    };
    const VerifyInputs plain{kLpt1Base, kFlash1M.base, std::nullopt, kFlash1M.End(), rom};
    VerifyInputs summed = plain;
    summed.checksumBase = kFlash1M.base;
    RangeReadInputs read{kLpt1Base, kFlash1M.base, length, back};
    for (auto _ : state) {
        eraseFlash();
        const double write = run([&] { return RunWrite(link, window, {kLpt1Base, Answer(rom, kFlash1M)}); });
        const double readBack = run([&] { return RunVerify(link, window, plain).same; });
        const double verifySums = run([&] { return RunVerify(link, window, summed).same; });
        read.passes = 1;
        const double onePass = run([&] { return RunReadRange(link, window, read); });
        read.passes = 2;
        const double twoPass = run([&] { return RunReadRange(link, window, read); });
        read.checksumBase = kFlash1M.base;
        const double checked = run([&] { return RunReadRange(link, window, read); });
        read.checksumBase.reset();
        eraseFlash();
        WriteInputs checkedWrite{kLpt1Base, Answer(rom, kFlash1M)};
        checkedWrite.trapChecks = true;
        const double writeChecked = run([&] { return RunWrite(link, window, checkedWrite); });
        state.counters["backup_share_of_two_pass"] = checked / twoPass;
        state.counters["verify_share_of_one_pass"] = verifySums / onePass;
        state.counters["write_check_share_of_write_readback"] = writeChecked / (write + readBack);
        state.counters["two_pass"] = twoPass;
        state.counters["checked_backup"] = checked;
    }
}
