// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "probe/sim/avr_board.h"
#include "util/result.h"

namespace orbvex::probe {

// The simulated board's serial line as a pseudo-terminal, which a host opens as it would
// open /dev/ttyUSB0: the rate the host sets on it is the rate the board hears.
class BoardLine {
public:
    explicit BoardLine(AvrBoard& board) : board_(board) {}
    ~BoardLine();
    BoardLine(const BoardLine&) = delete;
    BoardLine& operator=(const BoardLine&) = delete;

    // Opens the pseudo-terminal, raw, or says why not.
    Status Open();
    const std::string& Path() const { return path_; }

    // Carries bytes both ways and runs the board until stop is set or the firmware
    // stops. resetAfterBytes: the board's reset is pressed once after that many bytes
    // went to the host (0: never).
    void Serve(const std::atomic<bool>& stop, std::uint64_t resetAfterBytes = 0);
    // The board's time so far, readable from another thread.
    std::uint64_t Cycles() const { return cycles_; }

private:
    AvrBoard& board_;
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::atomic<std::uint64_t> cycles_{0};
};

}  // namespace orbvex::probe
