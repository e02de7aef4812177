#pragma once
// A window for the operations under test: it records what they show and answers their
// questions (radio buttons, dialogs) as the test arranged, and can press Abort at the
// n-th message processing.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ops/operations.h"
#include "ops/window_services.h"

namespace orbvex::test {

class FakeWindow : public WindowServices {
public:
    // What the window shows.
    std::vector<std::string> lines;
    std::vector<std::string> labels;
    int progressPosition = 0;
    int progressMaximum = 100;
    std::vector<int> progressPositions;
    std::vector<unsigned> beeps;
    std::vector<std::string> errorBoxes;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> transfer;
    int clears = 0;
    int processCalls = 0;

    // What the operator does.
    bool f2 = false;  // F1 (1 MB) unless set
    bool l2 = false;  // L1 unless set
    std::optional<std::string> openChoice;  // nullopt: the open dialog is cancelled
    std::optional<std::string> saveChoice;
    int abortAtProcessCall = 0;  // press Abort during this ProcessMessages call (1-based); 0 never
    std::function<void(int call)> onProcessMessages;  // anything else a click could start
    std::vector<FileDialogSetup> dialogs;

    void LogLine(const std::string& line) override { lines.push_back(line); }
    void ClearLog() override {
        lines.clear();
        ++clears;
    }
    void SetAddressLabel(const std::string& text) override { labels.push_back(text); }
    void SetProgressPosition(int position) override {
        progressPosition = position;
        progressPositions.push_back(position);
    }
    void SetProgressMaximum(int maximum) override { progressMaximum = maximum; }
    bool RunOpenDialog(const FileDialogSetup& setup, std::string& chosen) override {
        return Answer(setup, openChoice, chosen);
    }
    bool RunSaveDialog(const FileDialogSetup& setup, std::string& chosen) override {
        return Answer(setup, saveChoice, chosen);
    }
    void ProcessMessages() override {
        ++processCalls;
        if (processCalls == abortAtProcessCall) RunAbort(*this);
        if (onProcessMessages) onProcessMessages(processCalls);
    }
    void ShowErrorBox(const std::string& text) override { errorBoxes.push_back(text); }
    void Beep(unsigned type) override { beeps.push_back(type); }
    bool IsChecked(Radio radio) const override {
        switch (radio) {
            case Radio::F1: return !f2;
            case Radio::F2: return f2;
            case Radio::L1: return !l2;
            case Radio::L2: return l2;
        }
        return false;
    }
    void TransferProgress(std::uint64_t done, std::uint64_t total) override {
        transfer.emplace_back(done, total);
    }

    std::string Label() const { return labels.empty() ? "00000000" : labels.back(); }
    std::string LastLine() const { return lines.empty() ? std::string() : lines.back(); }
    void Forget() {
        lines.clear();
        labels.clear();
        progressPositions.clear();
        beeps.clear();
        errorBoxes.clear();
        transfer.clear();
        dialogs.clear();
        processCalls = 0;
    }

private:
    bool Answer(const FileDialogSetup& setup, const std::optional<std::string>& choice,
                std::string& chosen) {
        dialogs.push_back(setup);
        if (!choice) return false;
        chosen = *choice;
        return true;
    }
};

}  // namespace orbvex::test
