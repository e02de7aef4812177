// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "port/gpiod_api.h"
#include "port/port_backend.h"

namespace orbvex {

// GPIO chips in memory. They keep the character device's rules (a line is requested by
// one holder at a time, sets go to output requests only), fail on demand, and record
// every call in a line of its own ("open gpiochip0", "request out 11,25,10 orbvex_up",
// "request in 9 orbvex_up", "set 1,0,1", "get 9", "release 9", "close gpiochip0").
// Wired to a backend, the lines are the cable's pins with a receiver on the other end:
// a set writes the backend's data register (base) with each wired line's bit as the
// line stands, and the TDO read is bit 4 of its status register (base + 1).
class GpiodStandIn final : public GpiodApi {
public:
    // --- set-up and fault switches (errno values, 0 for none) ---
    void AddChip(const std::string& name, unsigned lines) { chips_[name].lineCount = lines; }
    // The line is held by a driver or another program under that name.
    void TakeLine(const std::string& chip, unsigned offset, const std::string& consumer) {
        chips_[chip].takenBy[offset] = consumer;
    }
    int openError = 0;       // for a chip that exists (EACCES, say)
    int requestError = 0;    // the next request fails with this ...
    int requestErrorAt = 0;  // ... the request with this index from 0
    void WireTo(PortBackend& backend, const std::map<unsigned, std::uint8_t>& bitOfLine, std::uint8_t unwiredBits = 0,
                std::uint16_t base = 0x378) {
        target_ = &backend;
        bitOfLine_ = bitOfLine;
        unwiredBits_ = unwiredBits;
        base_ = base;
    }
    bool record = true;  // off where millions of clocks run

    // --- what can be looked at ---
    std::vector<std::string> calls;
    std::uint64_t sets = 0, gets = 0;  // every value call, recorded or not
    int OpenChips() const { return openChips_; }
    int LiveRequests() const { return static_cast<int>(requests_.size()); }
    int Level(unsigned offset) const {
        auto it = levels_.find(offset);
        return it == levels_.end() ? 0 : it->second;
    }

    // --- GpiodApi ---
    int OpenChip(const char* chip, GpioChipHandle* opened) override;
    unsigned LineCount(GpioChipHandle chip) override;
    bool LineInUse(GpioChipHandle chip, unsigned offset, std::string* consumer) override;
    int RequestLines(GpioChipHandle chip, const unsigned* offsets, unsigned count, const char* consumer,
                     const int* initial, GpioRequestHandle* request) override;
    int SetValues(GpioRequestHandle request, const int* values) override;
    int GetValues(GpioRequestHandle request, int* values) override;
    void Release(GpioRequestHandle request) override;
    void CloseChip(GpioChipHandle chip) override;

private:
    struct Chip {
        unsigned lineCount = 0;
        std::map<unsigned, std::string> takenBy;
    };
    struct Request {
        Chip* chip;
        std::vector<unsigned> offsets;
        bool output;
    };

    void Note(const std::string& call) {
        if (record) calls.push_back(call);
    }
    Chip* ChipOf(GpioChipHandle handle);
    void DriveTarget();

    std::map<std::string, Chip> chips_;
    std::map<GpioChipHandle, std::string> openNames_;
    std::map<GpioRequestHandle, Request> requests_;
    std::map<unsigned, int> levels_;
    GpioChipHandle nextChip_ = 1;
    GpioRequestHandle nextRequest_ = 1;
    int requestCount_ = 0;
    int openChips_ = 0;
    PortBackend* target_ = nullptr;
    std::map<unsigned, std::uint8_t> bitOfLine_;
    std::uint8_t unwiredBits_ = 0;
    std::uint16_t base_ = 0x378;
};

}  // namespace orbvex
