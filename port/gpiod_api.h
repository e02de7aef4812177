// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>

namespace orbvex {

// The GPIO character-device calls the GPIO cable makes, one method per libgpiod call
// (or pair of calls) it needs. On Linux they go to libgpiod (port/posix/gpiod_linux.cpp);
// elsewhere every call fails; the tests put a recording stand-in in their place.
// Results fold the error in: 0 (or a count) on success, minus the errno value on failure.
using GpioChipHandle = std::uintptr_t;     // 0: none
using GpioRequestHandle = std::uintptr_t;  // 0: none

class GpiodApi {
public:
    virtual ~GpiodApi() = default;

    // gpiod_chip_open_lookup: a name ("gpiochip0"), a number ("0"), a path or a label.
    virtual int OpenChip(const char* chip, GpioChipHandle* opened) = 0;
    // gpiod_chip_num_lines.
    virtual unsigned LineCount(GpioChipHandle chip) = 0;
    // gpiod_chip_get_line, gpiod_line_is_used and gpiod_line_consumer: whether someone
    // (a driver or another program) holds the line, and under which name.
    virtual bool LineInUse(GpioChipHandle chip, unsigned offset, std::string* consumer) = 0;
    // gpiod_chip_get_lines and gpiod_line_request_bulk_output (initial holds one value
    // per line) or gpiod_line_request_bulk_input (initial null): the lines in one request,
    // which later calls set or read together.
    virtual int RequestLines(GpioChipHandle chip, const unsigned* offsets, unsigned count,
                             const char* consumer, const int* initial,
                             GpioRequestHandle* request) = 0;
    // gpiod_line_set_value_bulk: one value per line of the request, in its order; one
    // system call.
    virtual int SetValues(GpioRequestHandle request, const int* values) = 0;
    // gpiod_line_get_value_bulk: one value per line of the request; one system call.
    virtual int GetValues(GpioRequestHandle request, int* values) = 0;
    // gpiod_line_release_bulk.
    virtual void Release(GpioRequestHandle request) = 0;
    // gpiod_chip_close.
    virtual void CloseChip(GpioChipHandle chip) = 0;
};

// libgpiod on Linux; on other systems calls that fail with ENOSYS.
GpiodApi& SystemGpiodApi();

}  // namespace orbvex
