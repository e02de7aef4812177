// SPDX-License-Identifier: GPL-2.0-or-later
#include "probe/probe_server.h"

#include "link/dcu.h"
#include "link/jtag.h"
#include "port/cable_wiring.h"
#include "port/kqportio.h"

namespace orbvex::probe {
namespace {

constexpr std::size_t kHeadBytes = 5;  // a message's flags and start wait limit
constexpr int kMaxBlockWrite = 252;

Frame Error(const Frame& request, ErrorCode code, const std::string& text) {
    return Frame{kProtocolVersion, request.sequence, kError, ErrorBody(code, text)};
}

std::size_t BitBytes(std::size_t bits) { return (bits + 7) / 8; }
bool Bit(const std::uint8_t* field, std::size_t i) { return (field[i / 8] >> (i % 8)) & 1u; }

// Puts a message's head in place: where the TAP stands and the start wait's budget.
void TakeHead(const std::vector<std::uint8_t>& body) {
    JtagSelected = (body[0] & kSelectFlag) == 0;
    Link::SetStartWaitLimit(static_cast<std::int32_t>(GetU32(&body[1])));
}

std::vector<std::uint8_t> RunRaw(const std::vector<std::uint8_t>& body) {
    const std::size_t clocks = GetU16(body.data());
    const std::uint8_t flags = body[2];
    const std::size_t field = BitBytes(clocks);
    const std::uint8_t* tms = body.data() + 3;
    const std::uint8_t* tdi = tms + field;
    const std::uint8_t* capture = tdi + field;
    std::vector<std::uint8_t> samples;
    std::size_t taken = 0;
    auto keep = [&](bool tdo) {
        if (taken % 8 == 0) samples.push_back(0);
        if (tdo) samples.back() |= static_cast<std::uint8_t>(1u << (taken % 8));
        ++taken;
    };
    for (std::size_t i = 0; i < clocks; ++i) {
        const bool tdo = JtagStep(Bit(tms, i), Bit(tdi, i), Bit(capture, i));
        if (Bit(capture, i)) keep(tdo);
    }
    if (flags & kTrailingSample) keep((PortRead(static_cast<std::uint16_t>(LptBase + 1)) & cable::kTdoStatus) != 0);
    JtagFlush();
    return samples;
}

}  // namespace

EngineState EngineState::Current() { return {Link::Settings(), ResetLineLevel, LastDataValue, JtagSelected}; }

void EngineState::Install() const {
    Link::Apply(link);
    ResetLineLevel = resetLine;
    LastDataValue = lastData;
    JtagSelected = selected;
}

ProbeServer::ProbeServer(EngineState engine, Abilities abilities, CableLost lost)
    : engine_(engine), abilities_(std::move(abilities)), lost_(std::move(lost)), reader_(abilities_.maxRequestBody) {}

std::vector<std::uint8_t> ProbeServer::BusyAnswer() {
    std::vector<std::uint8_t> out;
    AppendFrame(Frame{kProtocolVersion, 0, kError, ErrorBody(kBusy, "another client is being served")}, out);
    return out;
}

bool ProbeServer::Take(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    while (size > 0) {
        std::size_t used = 0;
        const FrameReader::Status status = reader_.Feed(data, size, used);
        data += used;
        size -= used;
        if (status == FrameReader::Status::Incomplete) return true;
        if (status == FrameReader::Status::Damaged) {
            AppendFrame(Error(Frame{}, kDamaged, "a request arrived damaged"), out);
            return false;
        }
        const Frame& request = reader_.Current();
        if (request.version != kProtocolVersion) {
            AppendFrame(Error(request, kOtherVersion, "this probe speaks version 1"), out);
            return false;
        }
        AppendFrame(Answer(request), out);
    }
    return true;
}

// Runs a request with the target's engine in place, and puts the host's back after.
Frame ProbeServer::Answer(const Frame& request) {
    if (!lostWhy_.empty()) return Error(request, kCableLost, lostWhy_);
    const EngineState host = EngineState::Current();
    engine_.Install();
    Frame answer = Run(request);
    engine_ = EngineState::Current();
    host.Install();
    if (const Status cable = lost_ ? lost_() : Status(); !cable) {
        lostWhy_ = cable.Error().empty() ? "the cable is gone" : cable.Error();
        return Error(request, kCableLost, lostWhy_);
    }
    return answer;
}

Frame ProbeServer::Run(const Frame& request) {
    const std::vector<std::uint8_t>& body = request.body;
    Frame answer{kProtocolVersion, request.sequence, static_cast<std::uint8_t>(request.type | kAnswerBit), {}};
    auto sized = [&](std::size_t expected) { return body.size() == expected; };
    const Frame refused = Error(request, kBadRequest, "the body does not fit the request");
    switch (request.type) {
    case kHello:
        answer.body = EncodeAbilities(abilities_);
        return answer;
    case kClock:
        return Error(request, kUnsupported, "set a clock rate");
    case kReset: {
        if (!sized(3) || body[0] > kResetUnchanged) return refused;
        if (body[0] != kResetUnchanged) JtagSetTrst(body[0] == 1);
        const std::uint32_t hold = GetU16(&body[1]);
        if (hold > 0) DelayMs(hold);
        return answer;
    }
    case kRaw: {
        if (body.size() < 3) return refused;
        const std::size_t clocks = GetU16(body.data());
        if (clocks > abilities_.maxRawClocks || !sized(3 + 3 * BitBytes(clocks))) return refused;
        answer.body = RunRaw(body);
        return answer;
    }
    case kReadBlock: {
        if (!sized(kHeadBytes + 4)) return refused;
        TakeHead(body);
        std::uint8_t buffer[257] = {};
        const std::int32_t n = DcuReadBlock(GetU32(&body[kHeadBytes]), buffer);
        answer.body.push_back(static_cast<std::uint8_t>(n & 0xFC));
        answer.body.insert(answer.body.end(), buffer, buffer + n);
        PutU16(answer.body, static_cast<std::uint32_t>(n));
        PutU16(answer.body, static_cast<std::uint32_t>(n));
        return answer;
    }
    case kReadWord: {
        if (!sized(kHeadBytes + 4)) return refused;
        TakeHead(body);
        std::uint32_t word = 0;
        answer.body.push_back(DcuReadWord(GetU32(&body[kHeadBytes]), word) ? 1 : 0);
        PutU32(answer.body, word);
        return answer;
    }
    case kWriteBlock: {
        if (body.size() < kHeadBytes + 5) return refused;
        const std::uint8_t length = body[kHeadBytes + 4];
        if (length > kMaxBlockWrite || !sized(kHeadBytes + 5 + length)) return refused;
        TakeHead(body);
        const std::int32_t n = DcuWriteBlock(GetU32(&body[kHeadBytes]), body.data() + kHeadBytes + 5, length);
        answer.body.push_back(static_cast<std::uint8_t>(n));
        return answer;
    }
    case kWriteWord: {
        if (!sized(kHeadBytes + 8)) return refused;
        TakeHead(body);
        answer.body.push_back(DcuWriteWord(GetU32(&body[kHeadBytes]), GetU32(&body[kHeadBytes + 4])) ? 1 : 0);
        return answer;
    }
    default:
        return Error(request, kUnknownRequest, "unknown request");
    }
}

}  // namespace orbvex::probe
