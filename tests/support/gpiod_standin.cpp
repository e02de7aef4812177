// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/gpiod_standin.h"

#include <cerrno>

#include "port/cable_wiring.h"

namespace orbvex {
namespace {

std::string List(const unsigned* items, unsigned count) {
    std::string text;
    for (unsigned i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(items[i]);
    return text;
}

std::string List(const int* items, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(items[i]);
    return text;
}

}  // namespace

GpiodStandIn::Chip* GpiodStandIn::ChipOf(GpioChipHandle handle) {
    auto it = openNames_.find(handle);
    return it == openNames_.end() ? nullptr : &chips_[it->second];
}

int GpiodStandIn::OpenChip(const char* chip, GpioChipHandle* opened) {
    Note(std::string("open ") + chip);
    if (!chips_.count(chip)) return -ENOENT;
    if (openError) return -openError;
    *opened = nextChip_++;
    openNames_[*opened] = chip;
    ++openChips_;
    return 0;
}

unsigned GpiodStandIn::LineCount(GpioChipHandle chip) {
    Chip* c = ChipOf(chip);
    return c ? c->lineCount : 0;
}

bool GpiodStandIn::LineInUse(GpioChipHandle chip, unsigned offset, std::string* consumer) {
    Chip* c = ChipOf(chip);
    if (!c || !c->takenBy.count(offset)) return false;
    if (consumer) *consumer = c->takenBy[offset];
    return true;
}

int GpiodStandIn::RequestLines(GpioChipHandle chip, const unsigned* offsets, unsigned count, const char* consumer,
                               const int* initial, GpioRequestHandle* request) {
    Note(std::string("request ") + (initial ? "out " : "in ") + List(offsets, count) + " " + consumer);
    Chip* c = ChipOf(chip);
    if (!c) return -EINVAL;
    if (requestError && requestCount_++ == requestErrorAt) return -requestError;
    for (unsigned i = 0; i < count; ++i) {
        if (offsets[i] >= c->lineCount) return -EINVAL;
        if (c->takenBy.count(offsets[i])) return -EBUSY;
    }
    Request r{c, std::vector<unsigned>(offsets, offsets + count), initial != nullptr};
    for (unsigned i = 0; i < count; ++i) {
        c->takenBy[offsets[i]] = consumer;
        if (initial) levels_[offsets[i]] = initial[i] ? 1 : 0;
    }
    *request = nextRequest_++;
    requests_[*request] = std::move(r);
    if (initial) DriveTarget();
    return 0;
}

int GpiodStandIn::SetValues(GpioRequestHandle request, const int* values) {
    ++sets;
    auto it = requests_.find(request);
    if (record && it != requests_.end()) Note("set " + List(values, it->second.offsets.size()));
    if (it == requests_.end()) return -EINVAL;
    if (!it->second.output) return -EPERM;
    for (std::size_t i = 0; i < it->second.offsets.size(); ++i) levels_[it->second.offsets[i]] = values[i] ? 1 : 0;
    DriveTarget();
    return 0;
}

int GpiodStandIn::GetValues(GpioRequestHandle request, int* values) {
    ++gets;
    auto it = requests_.find(request);
    if (it == requests_.end()) return -EINVAL;
    if (record) Note("get " + List(it->second.offsets.data(), static_cast<unsigned>(it->second.offsets.size())));
    for (std::size_t i = 0; i < it->second.offsets.size(); ++i) {
        const unsigned line = it->second.offsets[i];
        if (target_ && !it->second.output)
            values[i] = (target_->Read(static_cast<std::uint16_t>(base_ + 1)) & cable::kTdoStatus) ? 1 : 0;
        else
            values[i] = Level(line);
    }
    return 0;
}

void GpiodStandIn::Release(GpioRequestHandle request) {
    auto it = requests_.find(request);
    if (it == requests_.end()) return;
    Note("release " + List(it->second.offsets.data(), static_cast<unsigned>(it->second.offsets.size())));
    for (unsigned line : it->second.offsets) it->second.chip->takenBy.erase(line);
    requests_.erase(it);
}

void GpiodStandIn::CloseChip(GpioChipHandle chip) {
    auto it = openNames_.find(chip);
    if (it == openNames_.end()) return;
    Note("close " + it->second);
    openNames_.erase(it);
    --openChips_;
}

void GpiodStandIn::DriveTarget() {
    if (!target_) return;
    std::uint8_t data = unwiredBits_;
    for (const auto& [line, bit] : bitOfLine_)
        if (Level(line)) data |= bit;
    target_->Write(base_, data);
}

}  // namespace orbvex
