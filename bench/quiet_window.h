// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A window for the benchmarks: it shows nothing and keeps the last log line for error
// reports. The operations' inputs for the virtual receiver come with it.
#include <string>

#include "ops/link_session.h"
#include "ops/operations.h"
#include "ops/window_services.h"

class QuietWindow final : public orbvex::WindowServices {
public:
    std::string lastLine;

    void LogLine(const std::string& line) override { lastLine = line; }
    void ClearLog() override {}
    void SetAddressLabel(const std::string&) override {}
    void SetProgressPosition(int) override {}
    void SetProgressMaximum(int) override {}
    void ProcessMessages() override {}
    void ShowErrorBox(const std::string&) override {}
    void Beep(unsigned) override {}
};

inline orbvex::StartInputs VirtualStart() { return {orbvex::kLpt1Base, ORBVEX_VIRTUAL_TRAP_IMAGE}; }

// A file chooser that always answers with path and flash.
inline orbvex::FileChooser Answer(const std::string& path, orbvex::FlashRange flash) {
    return [path, flash] { return std::optional<orbvex::ChosenFile>(orbvex::ChosenFile{path, flash}); };
}
