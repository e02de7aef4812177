// SPDX-License-Identifier: GPL-2.0-or-later
// --virtual: the virtual receiver inside this process, its flash kept in a file between
// runs when asked.
#include <filesystem>

#include "cables/cable.h"
#include "sim/flash_model.h"
#include "sim/virtual_receiver.h"
#include "util/image_file.h"

namespace orbvex::cables {
namespace {

std::string FlashName(std::uint32_t size) { return size == kFlash2M.size ? "2M" : "1M"; }

class InProcessCable final : public Cable {
public:
    InProcessCable(const CableSettings& settings)
        : receiver_(Config(settings.flashSize, settings.flashChip)), image_(settings.flashImage) {}

    // The image loaded, and its file checked for saving: refused now rather than after
    // the work it would lose.
    Status Load() {
        if (!image_) return {};
        const std::string& path = *image_;
        const auto size = static_cast<std::uint32_t>(receiver_.Flash().size());  // a named part's own size
        std::error_code unknown;                                                 // a path that cannot be looked at (a link loop) is refused below
        if (std::filesystem::exists(path, unknown)) {
            std::vector<std::uint8_t> flash;
            const FileReadResult read = ReadWholeFile(path, size, flash);
            if (read.status == FileReadStatus::TooLarge)
                return Failure("the virtual flash file " + path + " holds " + std::to_string(read.size) +
                               " bytes, more than the " + FlashName(size) + " flash");
            if (!read.Ok()) return Failure("cannot load the virtual flash from " + path + ": " + read.reason);
            // A short image would leave the rest of the flash erased and be saved back larger.
            if (read.size != size)
                return Failure("the virtual flash file " + path + " holds " + std::to_string(read.size) +
                               " bytes, not the " + std::to_string(size) + " of the " + FlashName(size) + " flash");
            receiver_.SetFlash(flash);
        }
        const Status usable = CheckSaveTarget(path);
        if (!usable) return Failure("cannot save the virtual flash: " + usable.Error());
        return {};
    }

    PortAccess& Access() override { return *access_; }
    PortBackend* Backend() override { return &receiver_; }

    // Saved whole or not at all: a failed save leaves the previous image in place.
    Status Finish() override {
        if (!image_) return {};
        const Status saved = SaveWholeFile(*image_, receiver_.Flash());
        if (!saved) return Failure("cannot save the virtual flash: " + saved.Error());
        return {};
    }

private:
    static sim::ReceiverConfig Config(std::uint32_t flashSize, const std::string& chip) {
        sim::ReceiverConfig config;
        config.flashSize = flashSize;
        config.flashChip = chip;
        return config;
    }

    sim::VirtualReceiver receiver_;
    std::optional<std::string> image_;
    std::unique_ptr<PortAccess> access_ = MakeUnrestrictedPortAccess();
};

class InProcessChoice final : public CableChoice {
public:
    Result<std::unique_ptr<Cable>> Open(const CableSettings& settings) const override {
        auto cable = std::make_unique<InProcessCable>(settings);
        if (const Status loaded = cable->Load(); !loaded) return Failure(loaded.Error());
        return cable;
    }
    bool InProcess() const override { return true; }
};

Result<std::unique_ptr<CableChoice>> Parse(const std::string&) { return std::make_unique<InProcessChoice>(); }

}  // namespace

std::unique_ptr<CableChoice> InProcessReceiver() { return std::make_unique<InProcessChoice>(); }

std::string CheckVirtualFlashChip(const std::string& name) {
    if (sim::FindFlashModel(name)) return {};
    std::string names;
    for (const sim::FlashModel& model : sim::FlashModels()) names += (names.empty() ? "" : ", ") + model.name;
    return "the virtual receiver carries no flash part named \"" + name + "\" (it knows " + names + ")";
}

extern const CableType kVirtualCable{"--virtual", nullptr,
                                     "Work on the built-in virtual receiver instead of a cable", Parse};

}  // namespace orbvex::cables
