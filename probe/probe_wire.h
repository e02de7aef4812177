// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The probe's frames (docs/PROBE.md): both ends build and read them with these, and
// nothing else of the project.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "probe/wire_numbers.h"

namespace orbvex::probe {

inline constexpr std::uint8_t kStartByte = PROBE_START_BYTE;
inline constexpr std::uint8_t kProtocolVersion = PROBE_PROTOCOL_VERSION;
inline constexpr std::size_t kHeaderBytes = PROBE_HEADER_BYTES;
inline constexpr std::size_t kCheckBytes = PROBE_CHECK_BYTES;
inline constexpr std::size_t kMaxRequestBody = PROBE_MAX_REQUEST_BODY;
inline constexpr std::size_t kMaxAnswerBody = PROBE_MAX_ANSWER_BODY;
// Bodies past this are not ours, whatever a peer announces: a length that large is noise.
inline constexpr std::size_t kMaxBodyBytes = 4096;

enum Type : std::uint8_t {
    kHello = PROBE_HELLO,
    kClock = PROBE_CLOCK,
    kReset = PROBE_RESET,
    kRaw = PROBE_RAW,
    kReadBlock = PROBE_READ_BLOCK,
    kReadWord = PROBE_READ_WORD,
    kWriteBlock = PROBE_WRITE_BLOCK,
    kWriteWord = PROBE_WRITE_WORD,
    kAnswerBit = PROBE_ANSWER_BIT,
    kError = PROBE_ERROR,
};

enum ErrorCode : std::uint8_t {
    kDamaged = PROBE_DAMAGED,
    kOtherVersion = PROBE_OTHER_VERSION,
    kUnknownRequest = PROBE_UNKNOWN_REQUEST,
    kBadRequest = PROBE_BAD_REQUEST,
    kBusy = PROBE_BUSY,
    kCableLost = PROBE_CABLE_LOST,
    kUnsupported = PROBE_UNSUPPORTED,
};

enum Ability : std::uint8_t {
    kCanRaw = PROBE_CAN_RAW,
    kCanReset = PROBE_CAN_RESET,
    kCanClock = PROBE_CAN_CLOCK,
    kCanMessages = PROBE_CAN_MESSAGES,
};

inline constexpr std::uint8_t kSelectFlag = 1;      // message head: select the DCU first
inline constexpr std::uint8_t kTrailingSample = 1;  // RAW flags: one more sample, no clock
inline constexpr std::uint8_t kResetUnchanged = 2;

// CRC-16, polynomial 0x1021, initial 0xFFFF, not reflected, no final xor.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0xFFFF);

struct Frame {
    std::uint8_t version = kProtocolVersion;
    std::uint8_t sequence = 0;
    std::uint8_t type = 0;
    std::vector<std::uint8_t> body;
};

// The frame's bytes, appended to out.
void AppendFrame(const Frame& frame, std::vector<std::uint8_t>& out);

// Takes bytes as they come and gives back whole frames. A frame is damaged when its
// start byte or check is wrong or its length is past the bound given: the reader then
// stops, and says so, until Reset.
class FrameReader {
public:
    explicit FrameReader(std::size_t maxBody = kMaxBodyBytes) : maxBody_(maxBody) {}
    enum class Status { Incomplete,
                        Complete,
                        Damaged };
    // Reads from data on; used says how many bytes it took (the rest belong to later frames).
    Status Feed(const std::uint8_t* data, std::size_t size, std::size_t& used);
    const Frame& Current() const { return frame_; }
    // Mid-frame: bytes of a frame taken and the frame not yet whole.
    bool MidFrame() const { return !bytes_.empty(); }
    void Reset() {
        bytes_.clear();
        damaged_ = false;
    }

private:
    std::size_t maxBody_;
    std::vector<std::uint8_t> bytes_;
    Frame frame_;
    bool damaged_ = false;
};

// Little-endian fields.
inline void PutU16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    PutU16(out, v & 0xFFFFu);
    PutU16(out, v >> 16);
}
inline std::uint32_t GetU16(const std::uint8_t* p) { return p[0] | (static_cast<std::uint32_t>(p[1]) << 8); }
inline std::uint32_t GetU32(const std::uint8_t* p) { return GetU16(p) | (GetU16(p + 2) << 16); }

// What a probe says of itself in its HELLO answer.
struct Abilities {
    std::uint8_t version = kProtocolVersion;
    std::uint8_t window = 1;
    std::uint16_t receiveBuffer = 270;
    std::uint16_t maxRequestBody = kMaxRequestBody;
    std::uint16_t maxRawClocks = 64;
    std::uint8_t abilities = kCanRaw | kCanReset | kCanMessages;
    std::uint32_t clockHz = 0;
    std::string name;
};
std::vector<std::uint8_t> EncodeAbilities(const Abilities& a);
bool DecodeAbilities(const std::vector<std::uint8_t>& body, Abilities& out);

// An error answer's body, and its parts.
std::vector<std::uint8_t> ErrorBody(ErrorCode code, const std::string& text);
std::string ErrorText(const std::vector<std::uint8_t>& body);

// The line a user needs when the probe names itself as our board's firmware at a version
// older than the one built with this program (it works, but lacks what came since); empty
// for the same or a newer version, and for any other probe.
std::string OlderFirmwareNotice(const std::string& probeName);

}  // namespace orbvex::probe
