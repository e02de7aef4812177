// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim/nor_flash.h"

#include <algorithm>
#include <cstdio>

#include "util/image_file.h"

namespace orbvex::sim {
namespace {

const FlashTiming kDefaultTiming;
const FlashFaults kNoFaults;

const char* KindText(FlashViolation::Kind kind) {
    switch (kind) {
    case FlashViolation::Kind::NotACommand: return "not a command";
    case FlashViolation::Kind::ByteWrite: return "byte write on the 16-bit bus";
    case FlashViolation::Kind::ZeroToOne: return "program asks a 0 bit to become 1";
    case FlashViolation::Kind::WhileBusy: return "access refused while busy";
    case FlashViolation::Kind::OffBus: return "flash access before the memory interface is set up";
    }
    return "?";
}

}  // namespace

std::string Describe(const FlashViolation& violation) {
    char text[128];
    std::snprintf(text, sizeof text, "flash: %s at offset %06X, data %04X, instruction %llu", KindText(violation.kind),
                  static_cast<unsigned>(violation.offset), static_cast<unsigned>(violation.value),
                  static_cast<unsigned long long>(violation.at));
    return text;
}

NorFlash::NorFlash(std::uint32_t size, const SimClock* clock) : NorFlash(DefaultFlashModel(size), clock) {}

NorFlash::NorFlash(const FlashModel& model, const SimClock* clock)
    : model_(model), clock_(clock), timing_(&kDefaultTiming), faults_(&kNoFaults) {
    bytes_.assign(model.size, 0xFF);
    Rebuild();
}

NorFlash::~NorFlash() = default;

bool NorFlash::Contains(std::uint32_t address, std::uint32_t count) const {
    const std::uint64_t first = address;
    const std::uint64_t end = first + count;
    return first >= Base() && end <= kWindowEnd;
}

void NorFlash::SetModel(const FlashModel& model) {
    model_ = model;
    Resize(model.size);
    Rebuild();
}

void NorFlash::Rebuild() {
    unknown_ = UnknownVariant(model_);
    blocks_ = model_.Blocks();
    cfi_ = CfiTable(model_);
    switch (model_.commandSet) {
    case CommandSet::Amd: commands_ = MakeAmdCommandSet(*this); break;
    case CommandSet::Intel: commands_ = MakeIntelCommandSet(*this); break;
    case CommandSet::Sst: commands_ = MakeSstCommandSet(*this); break;
    }
}

void NorFlash::SetTiming(const FlashTiming* timing) { timing_ = timing ? timing : &kDefaultTiming; }
void NorFlash::SetFaults(const FlashFaults* faults) { faults_ = faults ? faults : &kNoFaults; }

std::uint16_t NorFlash::ReadHalf(std::uint32_t offset) { return commands_->Read(offset >> 1); }

void NorFlash::WriteHalf(std::uint32_t offset, std::uint16_t value) { commands_->Write(offset >> 1, value); }

std::uint8_t NorFlash::ReadByte(std::uint32_t offset) {
    if (commands_->ReadingArray()) return bytes_[offset];
    return static_cast<std::uint8_t>(ReadHalf(offset) >> (8 * (offset & 1u)));
}

void NorFlash::WriteByte(std::uint32_t offset, std::uint8_t value) { Record(FlashViolation::Kind::ByteWrite, offset, value); }

bool NorFlash::ReadingArray() { return commands_->ReadingArray(); }

void NorFlash::ClearViolations() {
    violations_.clear();
    violationCount_ = 0;
}

void NorFlash::Record(FlashViolation::Kind kind, std::uint32_t offset, std::uint16_t value) {
    ++violationCount_;
    if (violations_.size() < kViolationsKept) violations_.push_back({kind, offset, value, Now()});
}

void NorFlash::Resize(std::uint32_t size) { bytes_.resize(size, 0xFF); }

void NorFlash::EraseChip() { std::fill(bytes_.begin(), bytes_.end(), std::uint8_t{0xFF}); }

void NorFlash::Program(std::uint32_t offset, const std::uint8_t* data, std::uint32_t count) {
    std::uint8_t* cell = bytes_.data() + offset;
    for (std::uint32_t i = 0; i < count; ++i) cell[i] = static_cast<std::uint8_t>(cell[i] & data[i]);
}

bool NorFlash::Assign(const std::vector<std::uint8_t>& image) {
    if (image.size() > bytes_.size()) return false;
    std::copy(image.begin(), image.end(), bytes_.begin());
    std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(image.size()), bytes_.end(), std::uint8_t{0xFF});
    return true;
}

bool NorFlash::LoadFile(const std::string& path) {
    std::vector<std::uint8_t> image;
    return ReadWholeFile(path, bytes_.size(), image).Ok() && Assign(image);
}

bool NorFlash::SaveFile(const std::string& path) const { return SaveWholeFile(path, bytes_).Ok(); }

std::uint16_t NorFlash::Cell(std::uint32_t word) const {
    const std::uint32_t offset = (word << 1) % Size();
    return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

bool NorFlash::ProgramCell(std::uint32_t word, std::uint16_t value) {
    const std::uint32_t offset = (word << 1) % Size();
    std::uint16_t result = static_cast<std::uint16_t>(Cell(word) & value);
    const std::optional<StuckBit>& stuck = faults_->stuckBit;
    if (stuck && (stuck->offset & ~1u) == offset) {
        const auto mask = static_cast<std::uint16_t>(1u << (stuck->bit + 8 * (stuck->offset & 1u)));
        result = static_cast<std::uint16_t>(result | mask);
    }
    bytes_[offset] = static_cast<std::uint8_t>(result);
    bytes_[offset + 1] = static_cast<std::uint8_t>(result >> 8);
    return (result & ~value & 0xFFFFu) == 0;
}

void NorFlash::EraseBlock(const FlashBlock& block) {
    std::fill_n(bytes_.begin() + block.offset, block.size, std::uint8_t{0xFF});
}

std::size_t NorFlash::BlockOf(std::uint32_t offset) const {
    offset %= Size();
    const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), offset,
                                        [](std::uint32_t o, const FlashBlock& b) { return o < b.offset; });
    return static_cast<std::size_t>(after - blocks_.begin()) - 1;
}

std::uint8_t NorFlash::CfiByte(std::uint32_t word) const {
    word &= 0xFF;
    return word < cfi_.size() ? cfi_[word] : 0;
}

}  // namespace orbvex::sim
