// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "port/device_cable.h"
#include "port/ftdi_api.h"
#include "port/ftdi_encoding.h"
#include "port/ftdi_selection.h"

namespace orbvex {

// The cable played by an FTDI USB chip through libftdi: MPSSE on the channels that have
// it, synchronous bit-bang on the others (the FT232R, the FT2232C/D's B, the FT4232H's C
// and D). The link's register writes are queued as the chip's bytes and go out only when
// an answer is needed, before a delay or a reset-line change, or when the queue is long,
// so that a USB round trip is paid per answer the link waits for rather than per access.
// The pins the target sees are the link's, clock for clock.
class FtdiCable final : public LosableCable {
public:
    enum class Mode { Mpsse,
                      SyncBitbang };

    // Finds, opens and sets up the chip, pins low; or says why not and what to do: it is
    // missing, ambiguous, not ours to open, or of no use for JTAG. Nothing is left open then.
    static Result<std::unique_ptr<FtdiCable>> Open(FtdiApi& api, const FtdiSelection& selection);
    // Sends what is still queued (the release of the reset line, say) and closes the chip;
    // the pins keep their last state.
    ~FtdiCable() override;
    FtdiCable(const FtdiCable&) = delete;
    FtdiCable& operator=(const FtdiCable&) = delete;

    Mode CableMode() const { return mode_; }
    // "FT232H 0403:6014 serial FT5X2ABC interface A": the cable as messages name it.
    const std::string& Name() const { return name_; }
    std::uint32_t TckHz() const { return tckHz_; }

    std::uint8_t Read(std::uint16_t port) override;
    void Write(std::uint16_t port, std::uint8_t value) override;
    bool DefersReads() const override { return true; }
    void RequestRead(std::uint16_t port) override;
    std::uint8_t TakeRead() override;
    void Flush() override;

    struct ChipFacts;  // what one chip family can do

private:
    FtdiCable(FtdiApi& api, FtdiHandle handle, Mode mode, std::string name, std::uint32_t tckHz, std::size_t maxReplies);
    Status SetUp(const ChipFacts& facts, std::uint32_t divisor);
    Status CheckMpsse();
    void Send();
    void Exchange();
    bool ReadReplies(std::vector<std::uint8_t>& replies);
    void Lost(const std::string& what, int result);

    FtdiApi& api_;
    FtdiHandle handle_;
    Mode mode_;
    std::string name_;
    std::uint32_t tckHz_;
    std::size_t maxReplies_;  // reply bytes the chip can hold until they are read
    std::unique_ptr<ftdi::Encoder> encoder_;
    std::deque<bool> answers_;  // TDO answers in, not yet taken
};

}  // namespace orbvex
