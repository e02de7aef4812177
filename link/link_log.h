// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>

namespace orbvex {

// Where the link's own log lines ("Init JTAG", "Load Trap : LEN Ok", ...) go.
// The window's services implement it; so do the command-line tool and the tests.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void LogLine(const std::string& line) = 0;
};

// The sink that LinkLog writes to; null drops the lines.
void SetLinkLog(LogSink* sink);
LogSink* LinkLogSink();

// Appends one line to the log.
void LinkLog(const std::string& line);

// A number as every log line and the address label show it: eight upper-case
// hexadecimal digits, zero-padded, no prefix.
std::string Hex8(std::uint32_t value);

}  // namespace orbvex
