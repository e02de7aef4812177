// SPDX-License-Identifier: GPL-2.0-or-later
// --ftdi: an FTDI USB chip as the cable, in MPSSE or synchronous bit-bang mode.
#include "cables/cable.h"
#include "cables/backend_cable.h"
#include "port/ftdi_cable.h"
#include "port/ftdi_selection.h"

namespace orbvex::cables {
namespace {

class FtdiChoice final : public CableChoice {
public:
    explicit FtdiChoice(FtdiSelection selection) : selection_(std::move(selection)) {}
    Result<std::unique_ptr<Cable>> Open(const CableSettings& settings) const override {
        Result<std::unique_ptr<FtdiCable>> opened = FtdiCable::Open(*settings.devices.ftdi, selection_);
        if (!opened) return Failure(opened.Error());
        std::unique_ptr<FtdiCable> chip = std::move(opened).Value();
        if (settings.note)
            settings.note("using FTDI cable " + chip->Name() + " (" +
                          (chip->CableMode() == FtdiCable::Mode::Mpsse ? "MPSSE" : "synchronous bit-bang") + ", TCK " +
                          std::to_string(chip->TckHz()) + " Hz)");
        return std::make_unique<BackendCable>(std::move(chip));
    }

private:
    FtdiSelection selection_;
};

Result<std::unique_ptr<CableChoice>> Parse(const std::string& value) {
    Result<FtdiSelection> selection = ParseFtdiSelection(value);
    if (!selection) return Failure(selection.Error());
    return std::make_unique<FtdiChoice>(std::move(selection).Value());
}

}  // namespace

extern const CableType kFtdiCable{
    "--ftdi", "[VID:PID][,serial=S][,interface=A|B|C|D][,freq=HZ]|auto",
    "An FTDI USB chip as the cable (Linux), or auto for the only one plugged in; e.g. 0403:6014,freq=6M", Parse};

}  // namespace orbvex::cables
