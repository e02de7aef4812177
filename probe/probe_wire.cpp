// SPDX-License-Identifier: GPL-2.0-or-later
#include "probe/probe_wire.h"

#include <algorithm>

namespace orbvex::probe {

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= static_cast<std::uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000u) ? (crc << 1) ^ 0x1021u : crc << 1);
    }
    return crc;
}

void AppendFrame(const Frame& frame, std::vector<std::uint8_t>& out) {
    const std::size_t begin = out.size();
    out.push_back(kStartByte);
    out.push_back(frame.version);
    out.push_back(frame.sequence);
    out.push_back(frame.type);
    PutU16(out, static_cast<std::uint32_t>(frame.body.size()));
    out.insert(out.end(), frame.body.begin(), frame.body.end());
    PutU16(out, Crc16(out.data() + begin + 1, out.size() - begin - 1));
}

FrameReader::Status FrameReader::Feed(const std::uint8_t* data, std::size_t size, std::size_t& used) {
    used = 0;
    if (damaged_) return Status::Damaged;
    while (true) {
        if (used == size) return Status::Incomplete;
        bytes_.push_back(data[used++]);
        if (bytes_.size() == 1 && bytes_[0] != kStartByte) break;
        if (bytes_.size() < kHeaderBytes) continue;
        const std::size_t body = GetU16(&bytes_[4]);
        if (body > maxBody_) break;
        if (bytes_.size() < kHeaderBytes + body + kCheckBytes) continue;
        const std::size_t checked = kHeaderBytes + body;
        if (GetU16(&bytes_[checked]) != Crc16(bytes_.data() + 1, checked - 1)) break;
        frame_.version = bytes_[1];
        frame_.sequence = bytes_[2];
        frame_.type = bytes_[3];
        frame_.body.assign(bytes_.begin() + kHeaderBytes, bytes_.begin() + static_cast<std::ptrdiff_t>(checked));
        bytes_.clear();
        return Status::Complete;
    }
    damaged_ = true;
    return Status::Damaged;
}

std::vector<std::uint8_t> EncodeAbilities(const Abilities& a) {
    std::vector<std::uint8_t> body{a.version, a.window};
    PutU16(body, a.receiveBuffer);
    PutU16(body, a.maxRequestBody);
    PutU16(body, a.maxRawClocks);
    body.push_back(a.abilities);
    PutU32(body, a.clockHz);
    const std::size_t nameLength = std::min<std::size_t>(a.name.size(), 48);
    body.push_back(static_cast<std::uint8_t>(nameLength));
    body.insert(body.end(), a.name.begin(), a.name.begin() + static_cast<std::ptrdiff_t>(nameLength));
    return body;
}

bool DecodeAbilities(const std::vector<std::uint8_t>& body, Abilities& out) {
    constexpr std::size_t kFixed = 14;
    if (body.size() < kFixed) return false;
    const std::uint8_t* p = body.data();
    out.version = p[0];
    out.window = p[1];
    out.receiveBuffer = static_cast<std::uint16_t>(GetU16(p + 2));
    out.maxRequestBody = static_cast<std::uint16_t>(GetU16(p + 4));
    out.maxRawClocks = static_cast<std::uint16_t>(GetU16(p + 6));
    out.abilities = p[8];
    out.clockHz = GetU32(p + 9);
    const std::size_t nameLength = p[13];
    if (body.size() < kFixed + nameLength) return false;
    out.name.assign(body.begin() + kFixed, body.begin() + static_cast<std::ptrdiff_t>(kFixed + nameLength));
    return true;
}

std::vector<std::uint8_t> ErrorBody(ErrorCode code, const std::string& text) {
    std::vector<std::uint8_t> body{code};
    body.insert(body.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(text.size(), 64)));
    return body;
}

std::string ErrorText(const std::vector<std::uint8_t>& body) {
    std::string text;
    for (std::size_t i = 1; i < body.size(); ++i) {
        const char c = static_cast<char>(body[i]);
        text.push_back(c >= 0x20 && c < 0x7F ? c : '?');  // a peer's text is shown, never obeyed
    }
    return text;
}

std::string OlderFirmwareNotice(const std::string& probeName) {
    const std::string ours = PROBE_FIRMWARE_NAME " ";
    if (probeName.compare(0, ours.size(), ours) != 0) return {};
    const std::string version = probeName.substr(ours.size());
    if (version.empty() || version.size() > 4 ||
        !std::all_of(version.begin(), version.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    if (std::stoi(version) >= PROBE_FIRMWARE_VERSION) return {};
    return "the probe runs firmware version " + version + ", older than this program's " +
           std::to_string(PROBE_FIRMWARE_VERSION) + ": put this program's " PROBE_FIRMWARE_NAME ".hex on the board (scripts/probe-install.sh, or avrdude as the README shows)";
}

}  // namespace orbvex::probe
