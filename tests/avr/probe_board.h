// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The simulated probe board driven straight from a test, frame by frame, without a
// serial line: the frames are built and read here, from the protocol's document.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "probe/sim/avr_board.h"

namespace orbvex::test {

using Bytes = std::vector<std::uint8_t>;

inline std::uint16_t Crc16(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

inline Bytes Frame(std::uint8_t sequence, std::uint8_t type, const Bytes& body, std::uint8_t version = 1) {
    Bytes frame{0xA5, version, sequence, type, static_cast<std::uint8_t>(body.size()), static_cast<std::uint8_t>(body.size() >> 8)};
    frame.insert(frame.end(), body.begin(), body.end());
    const std::uint16_t crc = Crc16(frame.data() + 1, frame.size() - 1);
    frame.push_back(static_cast<std::uint8_t>(crc));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

inline void PutU32(Bytes& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The message head: selection and the start wait's budget.
inline Bytes Head(bool select, std::uint32_t address) {
    Bytes body{static_cast<std::uint8_t>(select ? 1 : 0)};
    PutU32(body, 2024);
    PutU32(body, address);
    return body;
}

struct Answer {
    bool whole = false;  // a frame with a good check came
    std::uint8_t sequence = 0, type = 0;
    Bytes body;
    std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(body.at(at) | (body.at(at + 1) << 8)); }
};

inline Answer ParseAnswer(const std::string& stream) {
    Answer answer;
    if (stream.size() < 8 || static_cast<std::uint8_t>(stream[0]) != 0xA5) return answer;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    const std::size_t length = bytes[4] | (bytes[5] << 8);
    if (stream.size() != 8 + length) return answer;
    const std::uint16_t crc = bytes[6 + length] | (bytes[7 + length] << 8);
    answer.whole = bytes[1] == 1 && Crc16(bytes + 1, 5 + length) == crc;
    answer.sequence = bytes[2];
    answer.type = bytes[3];
    answer.body.assign(bytes + 6, bytes + 6 + length);
    return answer;
}

class ProbeBoard {
public:
    explicit ProbeBoard(PortBackend& target) : board(target) {
        const Status loaded = board.Load(ORBVEX_PROBE_ELF);
        EXPECT_TRUE(loaded) << loaded.Error();
        board.Run(kPatience);  // starts, and sleeps waiting for the host
    }

    // Sends the bytes and runs the board until it sleeps again; what it sent meanwhile.
    std::string Exchange(const Bytes& bytes) {
        board.HostSend(bytes.data(), bytes.size());
        board.Run(kPatience);
        return board.TakeReceived();
    }
    Answer Ask(std::uint8_t type, const Bytes& body) { return ParseAnswer(Exchange(Frame(sequence_++, type, body))); }

    probe::AvrBoard board;

private:
    static constexpr std::uint64_t kPatience = 16000000ull * 60;  // a minute of the board's time
    std::uint8_t sequence_ = 0;
};

}  // namespace orbvex::test
