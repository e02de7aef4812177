// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace orbvex::cli {

// A one-line progress bar with bytes, rate and time left, redrawn in place on a
// terminal. When disabled (stderr is not a terminal) it writes nothing at all.
class ProgressBar {
public:
    using Clock = std::function<double()>;  // seconds, monotonic

    ProgressBar(std::ostream& out, bool enabled, Clock clock = {});

    // done of total bytes. A new transfer starts when done falls back or total changes.
    void Update(std::uint64_t done, std::uint64_t total);
    // Takes the bar off the line (before a log line is printed under it).
    void Clear();
    // Ends the current transfer's line.
    void Finish();

    bool Enabled() const { return enabled_; }

    // The bar's text for these figures (no carriage return), 'width' cells of bar.
    static std::string Format(std::uint64_t done, std::uint64_t total, double elapsedSeconds, int width = 30);

private:
    std::ostream& out_;
    bool enabled_;
    Clock clock_;
    bool drawn_ = false;
    bool completed_ = false;
    std::size_t drawnWidth_ = 0;
    std::uint64_t lastDone_ = 0;
    std::uint64_t total_ = 0;
    double startedAt_ = 0;
    double lastDrawAt_ = -1;
};

}  // namespace orbvex::cli
