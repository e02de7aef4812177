// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/progress_bar.h"

#include <chrono>
#include <cstdio>

namespace orbvex::cli {
namespace {

// Redraw at most this often: a terminal is slower than the transfer's progress calls.
constexpr double kRedrawSeconds = 0.1;

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string HumanBytes(double bytes) {
    char text[32];
    if (bytes >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    else if (bytes >= 1024.0)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    return text;
}

std::string Duration(double seconds) {
    long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

ProgressBar::ProgressBar(std::ostream& out, bool enabled, Clock clock)
    : out_(out), enabled_(enabled), clock_(clock ? std::move(clock) : Clock(SteadySeconds)) {}

std::string ProgressBar::Format(std::uint64_t done, std::uint64_t total, double elapsedSeconds, int width) {
    if (done > total) done = total;
    const double fraction = total ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
    const int filled = static_cast<int>(fraction * width);
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(width - filled), '.') + "] ";
    char counts[64];
    std::snprintf(counts, sizeof counts, "%3d%% %llu/%llu bytes", static_cast<int>(fraction * 100.0),
                  static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
    std::string text = bar + counts;
    if (elapsedSeconds > 0 && done > 0) {
        const double rate = static_cast<double>(done) / elapsedSeconds;
        text += "  " + HumanBytes(rate) + "/s";
        text += "  " + Duration(static_cast<double>(total - done) / rate) + " left";
    } else {
        text += "  --/s  --:-- left";
    }
    return text;
}

void ProgressBar::Update(std::uint64_t done, std::uint64_t total) {
    if (!enabled_) return;
    const double now = clock_();
    const bool newTransfer = done < lastDone_ || total != total_ || (completed_ && done < total);
    if (newTransfer) {
        if (drawn_) Finish();
        startedAt_ = now;
        lastDrawAt_ = -1;
        total_ = total;
        completed_ = false;
    }
    lastDone_ = done;
    if (completed_) return;  // the finished bar stays on its line
    const bool complete = done >= total;
    if (!complete && lastDrawAt_ >= 0 && now - lastDrawAt_ < kRedrawSeconds) return;
    lastDrawAt_ = now;
    std::string text = Format(done, total, now - startedAt_);
    // Pad over what a longer previous line left behind.
    std::string padded = text;
    if (padded.size() < drawnWidth_) padded.append(drawnWidth_ - padded.size(), ' ');
    out_ << '\r' << padded << std::flush;
    drawn_ = true;
    drawnWidth_ = text.size();
    if (complete) {
        out_ << '\n'
             << std::flush;
        drawn_ = false;
        drawnWidth_ = 0;
        completed_ = true;
    }
}

void ProgressBar::Clear() {
    if (!enabled_ || !drawn_) return;
    out_ << '\r' << std::string(drawnWidth_, ' ') << '\r' << std::flush;
    drawn_ = false;
    lastDrawAt_ = -1;  // draw again at the next update, below the new line
}

void ProgressBar::Finish() {
    if (!enabled_ || !drawn_) return;
    out_ << '\n'
         << std::flush;
    drawn_ = false;
    drawnWidth_ = 0;
    lastDone_ = 0;
    total_ = 0;
    completed_ = false;
}

}  // namespace orbvex::cli
