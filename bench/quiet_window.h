#pragma once
// A window for the benchmarks: it shows nothing, keeps the last log line for error
// reports, and answers the file dialogs with fixed paths (an empty one cancels).
#include <string>

#include "ops/window_services.h"

class QuietWindow final : public orbvex::WindowServices {
public:
    bool twoMegabytes = false;
    std::string openPath, savePath;
    std::string lastLine;

    void LogLine(const std::string& line) override { lastLine = line; }
    void ClearLog() override {}
    void SetAddressLabel(const std::string&) override {}
    void SetProgressPosition(int) override {}
    void SetProgressMaximum(int) override {}
    bool RunOpenDialog(const orbvex::FileDialogSetup&, std::string& chosen) override {
        chosen = openPath;
        return !chosen.empty();
    }
    bool RunSaveDialog(const orbvex::FileDialogSetup&, std::string& chosen) override {
        chosen = savePath;
        return !chosen.empty();
    }
    void ProcessMessages() override {}
    void ShowErrorBox(const std::string&) override {}
    void Beep(unsigned) override {}
    bool IsChecked(orbvex::Radio radio) const override {
        switch (radio) {
            case orbvex::Radio::F1: return !twoMegabytes;
            case orbvex::Radio::F2: return twoMegabytes;
            case orbvex::Radio::L1: return true;
            case orbvex::Radio::L2: return false;
        }
        return false;
    }
};
