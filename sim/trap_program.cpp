#include "sim/trap_program.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace orbvex::sim {

TrapProgram::TrapProgram(TargetMemory* memory, NorFlash* flash, const ReceiverConfig* config,
                         const ReceiverFaults* faults)
    : memory_(memory), flash_(flash), config_(config), faults_(faults) {}

void TrapProgram::Start(std::uint32_t workspace) {
    running_ = true;
    workspace_ = workspace;
    pending_ = Pending::None;
}

void TrapProgram::Stop() {
    running_ = false;
    pending_ = Pending::None;
}

std::uint32_t TrapProgram::MailboxWord(std::uint32_t offset) const { return memory_->PeekWord(workspace_ + offset); }

void TrapProgram::SetCommandWord(std::uint32_t value) { memory_->PokeWord(workspace_, value); }

void TrapProgram::Refuse() {
    pending_ = Pending::None;
    SetCommandWord(MailboxWord(0) | kErrorBit);
}

void TrapProgram::OnCommandWritten() {
    if (!running_) return;
    const std::uint32_t command = MailboxWord(0);
    pending_ = Pending::None;
    if (command == 0 || (command & kDoneBit) != 0) return;
    if (command == kEraseCommand) {
        if (!flash_->Contains(MailboxWord(0x10), 1)) return Refuse();
        pending_ = Pending::Erase;
        busyLeft_ = std::max(0, config_->eraseBusyPolls);
        return;
    }
    if (command == kProgramCommand) {
        flashAddress_ = MailboxWord(0x04);
        bufferAddress_ = MailboxWord(0x08);
        count_ = MailboxWord(0x0C);
        if (count_ == 0 || count_ > kMaxProgramCount || !flash_->Contains(flashAddress_, count_) ||
            !memory_->InRam(bufferAddress_, count_)) {
            return Refuse();
        }
        pending_ = Pending::Program;
        busyLeft_ = std::max(0, config_->programBusyPolls);
        return;
    }
    Refuse();
}

void TrapProgram::OnCommandPolled() {
    if (!running_ || pending_ == Pending::None || faults_->trapNeverDone) return;
    if (busyLeft_ > 0) {
        --busyLeft_;
        return;
    }
    Execute();
}

void TrapProgram::Execute() {
    // Without the memory interface set up the flash chip is not on the bus.
    if (!memory_->FlashEnabled()) return Refuse();
    if (pending_ == Pending::Erase) {
        flash_->EraseChip();
    } else {
        flash_->Program(flashAddress_ - flash_->Base(), memory_->RamAt(bufferAddress_), count_);
    }
    pending_ = Pending::None;
    SetCommandWord(MailboxWord(0) | kDoneBit);
}

namespace {

constexpr std::size_t kImageSize = 512;
constexpr char kImageBanner[] =
    "ORBVEX VIRTUAL RECEIVER TRAP IMAGE\r\n"
    "This is the virtual receiver's own trap image, not CPU code. Only the virtual\r\n"
    "receiver runs it; a real receiver needs the trap.bin supplied by its owner.\r\n";

}  // namespace

std::vector<std::uint8_t> VirtualTrapImage() {
    std::vector<std::uint8_t> image(kImageSize, 0);
    const std::size_t bannerLength = sizeof(kImageBanner) - 1;
    std::memcpy(image.data(), kImageBanner, bannerLength);
    image[bannerLength] = 0x1A;  // end of text for anyone who types the file
    // The rest is a fixed pattern, so that an image cut short or altered on its way into
    // RAM is told apart from the real one.
    std::uint32_t x = 0x9E3779B9u;
    for (std::size_t i = bannerLength + 1; i < image.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        image[i] = static_cast<std::uint8_t>(x >> 24);
    }
    return image;
}

}  // namespace orbvex::sim
