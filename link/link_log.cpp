// SPDX-License-Identifier: GPL-2.0-or-later
#include "link/link_log.h"

#include <cstdio>

namespace orbvex {
namespace {
LogSink* g_sink = nullptr;
}

void SetLinkLog(LogSink* sink) { g_sink = sink; }
LogSink* LinkLogSink() { return g_sink; }

void LinkLog(const std::string& line) {
    if (g_sink) g_sink->LogLine(line);
}

std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace orbvex
