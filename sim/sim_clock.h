// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

namespace orbvex::sim {

// The receiver's own time, counted in CPU instructions. It advances with the link's clock
// (a set number of instructions per TCK) whether or not the CPU runs, so that a flash
// chip's busy time passes while the CPU is halted, and every run repeats exactly.
struct SimClock {
    std::uint64_t instructions = 0;
};

}  // namespace orbvex::sim
