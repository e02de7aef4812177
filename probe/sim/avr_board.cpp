// SPDX-License-Identifier: GPL-2.0-or-later
#include "probe/sim/avr_board.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <simavr/avr_ioport.h>
#include <simavr/avr_uart.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_cycle_timers.h>
#include <simavr/sim_elf.h>
#include <simavr/sim_io.h>
#include <simavr/sim_irq.h>
}

#include "port/cable_wiring.h"

namespace orbvex::probe {
namespace {

// Port B of the ATmega328P, data-space addresses.
constexpr std::uint16_t kPinB = 0x23;
constexpr std::uint16_t kDdrB = 0x24;
constexpr std::uint16_t kPortB = 0x25;
// The lines on port B sit on the parallel cable's data-register bits; TDO comes in on
// bit 4, the status register's.
constexpr std::uint8_t kCableLines = cable::kTms | cable::kTck | cable::kTdi | cable::kResetLine;
constexpr std::uint8_t kTdoPin = 0x10;
// USART0's divider and its double-speed bit.
constexpr std::uint16_t kUcsr0a = 0xC0;
constexpr std::uint16_t kUbrr0l = 0xC4;
constexpr std::uint16_t kUbrr0h = 0xC5;
constexpr std::uint8_t kU2x = 0x02;
constexpr std::uint16_t kSpl = 0x5D;  // the stack pointer
constexpr std::uint16_t kSph = 0x5E;
constexpr int kRamStart = 0x100;
constexpr int kBitsPerByte = 10;  // start, eight data bits, stop
// The chip holds one byte being read out and one more behind it.
constexpr unsigned kChipRxBytes = 2;

avr_uart_t* Uart(void* uart) { return static_cast<avr_uart_t*>(uart); }

unsigned FifoCount(const avr_uart_t* uart) {
    return static_cast<unsigned>((uart->input.write - uart->input.read) & (sizeof uart->input.buffer / sizeof uart->input.buffer[0] - 1));
}

void NoSleep(avr_t*, avr_cycle_count_t) {}  // the board runs as fast as it can

}  // namespace

// simavr keeps its interrupt lines' names and hooks, and the firmware's symbols, for the
// life of the process: not this program's to free, nor a leak of its own.
extern "C" const char* __lsan_default_suppressions() { return "leak:libsimavr.so\n"; }

AvrBoard::AvrBoard(PortBackend& target, std::uint16_t lptBase) : target_(target), base_(lptBase) {}

AvrBoard::~AvrBoard() {
    if (avr_) avr_terminate(avr_);
    // simavr keeps the core allocated with malloc in avr_make_mcu_by_name.
    free(avr_);
}

Status AvrBoard::Load(const std::string& elfPath) {
    elf_firmware_t firmware{};
    // simavr's loader says what it loaded on stdout, where the program's own first line
    // (the serial line's path) belongs: it is not wanted.
    std::fflush(stdout);
    const int out = dup(1);
    const int none = open("/dev/null", O_WRONLY);
    dup2(none, 1);
    close(none);
    const int loaded = elf_read_firmware(elfPath.c_str(), &firmware);
    std::fflush(stdout);
    dup2(out, 1);
    close(out);
    if (loaded != 0) return Failure("cannot read the firmware " + elfPath);
    avr_ = avr_make_mcu_by_name("atmega328p");
    if (!avr_) return Failure("this simavr has no ATmega328P");
    avr_init(avr_);
    avr_->log = LOG_ERROR;
    avr_->frequency = kClockHz;
    avr_->sleep = NoSleep;
    avr_load_firmware(avr_, &firmware);
    avr_->frequency = kClockHz;
    staticEnd_ = kRamStart + static_cast<int>(firmware.datasize + firmware.bsssize);
    free(firmware.flash);  // copied into the chip
    free(firmware.eeprom);

    for (avr_io_t* io = avr_->io_port; io; io = io->next) {
        if (std::string(io->kind) == "uart" && reinterpret_cast<avr_uart_t*>(io)->name == '0') uart_ = io;
    }
    if (!uart_) return Failure("this simavr's ATmega328P has no USART0");
    Uart(uart_)->flags &= ~AVR_UART_FLAG_STDIO;
    Uart(uart_)->flags &= ~AVR_UART_FLAG_POLL_SLEEP;
    serialIn_ = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT), OnSerialOut, this);
    avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ('B'), IOPORT_IRQ_REG_PORT), OnPort, this);
    avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ('B'), IOPORT_IRQ_DIRECTION_ALL), OnPort, this);
    // Every read of port B's input register reads TDO from the target first; the port's
    // own read then goes on as before.
    auto& read = avr_->io[AVR_DATA_TO_IO(kPinB)].r;
    pinRead_ = read.c;
    pinReadParam_ = read.param;
    read.c = OnPinRead;
    read.param = this;
    UpdateLines();
    return {};
}

void AvrBoard::OnPort(avr_irq_t*, std::uint32_t, void* param) { static_cast<AvrBoard*>(param)->UpdateLines(); }

// A line set as an input (the firmware not started, or reset) is not driven: it reads as
// low at the receiver, as an unpowered cable's would.
void AvrBoard::UpdateLines() {
    const int lines = avr_->data[kPortB] & avr_->data[kDdrB] & kCableLines;
    if (lines == lines_) return;
    lines_ = lines;
    target_.Write(base_, static_cast<std::uint8_t>(lines));
}

std::uint8_t AvrBoard::OnPinRead(avr_t* avr, std::uint16_t addr, void* param) {
    auto* board = static_cast<AvrBoard*>(param);
    const bool tdo = (board->target_.Read(static_cast<std::uint16_t>(board->base_ + 1)) & cable::kTdoStatus) != 0;
    avr->data[kPinB] = static_cast<std::uint8_t>((avr->data[kPinB] & ~kTdoPin) | (tdo ? kTdoPin : 0));
    return board->pinRead_ ? board->pinRead_(avr, addr, board->pinReadParam_) : avr->data[kPinB];
}

std::uint32_t AvrBoard::FirmwareBaud() const {
    if (!avr_) return 0;
    const unsigned divider = avr_->data[kUbrr0l] | ((avr_->data[kUbrr0h] & 0x0F) << 8);
    const unsigned bitCycles = (divider + 1) * ((avr_->data[kUcsr0a] & kU2x) ? 8 : 16);
    return kClockHz / bitCycles;
}

// Within 3 %: what a UART's sampling in the middle of each bit takes over ten bits.
bool AvrBoard::RatesMeet() const {
    const double ratio = static_cast<double>(FirmwareBaud()) / hostBaud_;
    return std::fabs(ratio - 1.0) <= 0.03;
}

bool AvrBoard::BridgeCarries() const {
    return bridgeRates_.empty() || std::find(bridgeRates_.begin(), bridgeRates_.end(), hostBaud_) != bridgeRates_.end();
}

// simavr counts a parity bit that 8N1 does not send: the board's rate is set here from
// its divider, ten bits a byte.
std::uint64_t AvrBoard::ByteCycles() const {
    return static_cast<std::uint64_t>(kClockHz) * kBitsPerByte / std::max<std::uint32_t>(FirmwareBaud(), 1);
}

void AvrBoard::KeepUartInStep() {
    const std::uint64_t cycles = ByteCycles();
    if (Uart(uart_)->cycles_per_byte != cycles) Uart(uart_)->cycles_per_byte = cycles;
}

void AvrBoard::OnSerialOut(avr_irq_t*, std::uint32_t value, void* param) {
    auto* board = static_cast<AvrBoard*>(param);
    board->KeepUartInStep();
    if (!board->BridgeCarries() || !board->RatesMeet()) return;  // noise at the other end, which the host's check refuses
    board->received_.push_back(static_cast<char>(value & 0xFF));
    ++board->bytesToHost_;
}

void AvrBoard::HostSend(const std::uint8_t* data, std::size_t size) {
    toBoard_.insert(toBoard_.end(), data, data + size);
    if (avr_) ScheduleDelivery();
}

void AvrBoard::ScheduleDelivery() {
    if (delivering_ || toBoard_.empty()) return;
    delivering_ = true;
    avr_cycle_timer_register(avr_, ByteCycles(), DeliverNext, this);
}

// One byte a byte time. A byte at another rate arrives broken (a framing error); one that
// finds the chip's two-byte buffer full is lost (an overrun).
std::uint64_t AvrBoard::DeliverNext(avr_t*, std::uint64_t when, void* param) {
    auto* board = static_cast<AvrBoard*>(param);
    board->KeepUartInStep();
    if (board->toBoard_.empty()) {
        board->delivering_ = false;
        return 0;
    }
    const std::uint8_t byte = board->toBoard_.front();
    board->toBoard_.pop_front();
    auto* uart = Uart(board->uart_);
    const bool rxOn = (board->avr_->data[uart->rxen.reg] >> uart->rxen.bit) & 1;
    if (!board->BridgeCarries()) {
        // the bridge does not take the host's rate: nothing reaches the board
    } else if (rxOn && FifoCount(uart) >= kChipRxBytes) {
        ++board->overruns_;
    } else if (board->RatesMeet()) {
        avr_raise_irq(board->serialIn_, byte);
        ++board->bytesFromHost_;
    } else {
        avr_raise_irq(board->serialIn_, UART_INPUT_FE | 0x00);
    }
    if (board->toBoard_.empty()) {
        board->delivering_ = false;
        return 0;
    }
    return when + board->ByteCycles();
}

std::string AvrBoard::TakeReceived() {
    std::string bytes;
    bytes.swap(received_);
    return bytes;
}

bool AvrBoard::Idle() const {
    if (!avr_ || Stopped()) return true;
    const auto* uart = Uart(uart_);
    return avr_->state == cpu_Sleeping && toBoard_.empty() && FifoCount(uart) == 0 && uart->tx_cnt == 0;
}

bool AvrBoard::Stopped() const { return avr_ && (avr_->state == cpu_Done || avr_->state == cpu_Crashed); }

void AvrBoard::Run(std::uint64_t cycles) {
    if (!avr_) return;
    RestartDelivery();
    const std::uint64_t end = avr_->cycle + cycles;
    while (avr_->cycle < end && !Idle()) {
        avr_run(avr_);
        if (avr_->pc == 0) Restarted();
        const int stack = avr_->data[kSpl] | (avr_->data[kSph] << 8);
        if (stack < lowestStack_) lowestStack_ = stack;
    }
    RestartDelivery();
}

void AvrBoard::Restarted() {
    ++resets_;
    if (hungAt_ < 0) return;
    avr_->flash[hungAt_] = static_cast<std::uint8_t>(hungWord_);
    avr_->flash[hungAt_ + 1] = static_cast<std::uint8_t>(hungWord_ >> 8);
    hungAt_ = -1;
}

void AvrBoard::HangHere() {
    hungAt_ = avr_->pc;
    hungWord_ = static_cast<std::uint16_t>(avr_->flash[hungAt_] | (avr_->flash[hungAt_ + 1] << 8));
    avr_->flash[hungAt_] = 0xFF;  // rjmp .-2: to itself
    avr_->flash[hungAt_ + 1] = 0xCF;
}

// A reset (the watchdog's, or the button) drops the chip's timers, the line's among them.
void AvrBoard::RestartDelivery() {
    if (delivering_ && avr_cycle_timer_status(avr_, DeliverNext, this) == 0) {
        delivering_ = false;
        ScheduleDelivery();
    }
}

void AvrBoard::Reset() {
    if (!avr_) return;
    avr_reset(avr_);
    Restarted();
    UpdateLines();
    RestartDelivery();
}

std::uint64_t AvrBoard::Cycles() const { return avr_ ? avr_->cycle : 0; }

}  // namespace orbvex::probe
