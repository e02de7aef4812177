// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/readings.h"

#include <algorithm>
#include <cmath>

#include "ops/flash_range.h"

namespace orbvex {
namespace {

constexpr std::size_t kLeastVotes = 3;
constexpr std::size_t kLeastVotesForExpected = 2;
constexpr std::size_t kLeastVotesAgainstExpected = 4;

// The reading-th term of 1/2, 1/4, 3/4, 1/8, 3/8, ...: each new one falls between the
// earlier ones, so any number of readings spread over the block.
double SpreadFraction(std::size_t reading) {
    double fraction = 0, half = 0.5;
    for (std::size_t n = reading; n > 0; n >>= 1, half /= 2)
        if (n & 1) fraction += half;
    return fraction;
}

std::size_t Votes(const std::vector<Reading>& readings, std::size_t i, std::uint8_t value) {
    return static_cast<std::size_t>(
        std::count_if(readings.begin(), readings.end(), [&](const Reading& r) { return r[i] == value; }));
}

// The one value that can hold a majority at byte i (Boyer-Moore's vote).
std::uint8_t Candidate(const std::vector<Reading>& readings, std::size_t i) {
    std::uint8_t candidate = readings.front()[i];
    int lead = 0;
    for (const Reading& r : readings) {
        if (lead == 0) candidate = r[i];
        lead += r[i] == candidate ? 1 : -1;
    }
    return candidate;
}

}  // namespace

std::uint32_t CutLead(std::size_t reading, std::uint32_t blockLength) {
    return static_cast<std::uint32_t>(SpreadFraction(reading) * blockLength) & ~std::uint32_t{3};
}

bool LinkNoise::Vouches(std::size_t k, std::size_t votes) const {
    if (turned <= 0) return true;
    double ways = 1;  // k choose votes: which readings the link may have turned alike
    for (std::size_t i = 0; i < votes; ++i) ways = ways * static_cast<double>(k - i) / static_cast<double>(i + 1);
    return bytes * ways * std::pow(turned, static_cast<double>(votes)) < mostDoubt;
}

std::optional<Reading> SettledContent(const std::vector<Reading>& readings, const std::uint8_t* expected,
                                      const LinkNoise& noise) {
    const std::size_t k = readings.size();
    if (k == 0) return std::nullopt;
    Reading settled(readings.front().size());
    for (std::size_t i = 0; i < settled.size(); ++i) {
        const std::uint8_t value = Candidate(readings, i);
        const std::size_t votes = Votes(readings, i, value);
        bool agreed = votes * 2 > k && votes >= kLeastVotes;
        if (expected && value == expected[i]) {
            agreed = votes * 2 > k && votes >= kLeastVotesForExpected;
        } else if (expected) {
            agreed = agreed && votes >= kLeastVotesAgainstExpected && Votes(readings, i, expected[i]) == 0;
        }
        if (!agreed || !noise.Vouches(k, votes)) return std::nullopt;
        settled[i] = value;
    }
    return settled;
}

Reading MostCommonContent(const std::vector<Reading>& readings) {
    Reading content(readings.front());
    for (std::size_t i = 0; i < content.size(); ++i) {
        const std::uint8_t value = Candidate(readings, i);
        if (Votes(readings, i, value) > Votes(readings, i, content[i])) content[i] = value;
    }
    return content;
}

std::optional<Reading> ReadUntilSettled(std::uint32_t start, std::vector<Reading>& readings, std::uint32_t blockLength,
                                        int maxRereads, const std::uint8_t* expected, const LinkNoise& noise) {
    const auto length = static_cast<std::uint32_t>(readings.front().size());
    std::optional<Reading> settled = SettledContent(readings, expected, noise);
    for (int tries = 0; !settled && tries < maxRereads; ++tries) {
        Reading again;
        if (!ReadTargetRange(start, length, again, {}, CutLead(readings.size(), blockLength)).ok) break;
        readings.push_back(std::move(again));
        settled = SettledContent(readings, expected, noise);
    }
    return settled;
}

}  // namespace orbvex
