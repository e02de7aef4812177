// SPDX-License-Identifier: GPL-2.0-or-later
// START: identify the CPU, halt it, install and start the trap program, set up the
// memory interface and check that the trap program took over.
#include <cstdint>
#include <optional>

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/trap.h"
#include "ops/common.h"
#include "ops/operations.h"
#include "port/kqportio.h"

namespace orbvex {
namespace {

constexpr std::uint32_t kDcuControl = 0x3004;
constexpr std::uint32_t kHaltRequest = 0x80000000;
constexpr std::uint32_t kTrapAreaStart = 0x80000000;
constexpr int kTrapAreaWords = 80;  // exactly up to the load address
constexpr std::uint32_t kTrapAreaFill = 0x80000000;
constexpr std::uint32_t kTrapLoadAddress = 0x80000140;
constexpr std::uint32_t kEmiRegister = 0x2030;
constexpr std::uint32_t kEmiValue = 0x000016D1;
constexpr std::uint32_t kJtiptrRegister = 0x3080;

struct RegisterWrite {
    std::uint32_t address;
    std::uint32_t value;
};

// Starts the trap program: the CPU leaves its halt through these DCU control states.
constexpr RegisterWrite kStartTrapSeries[] = {
    {0x308C, 0x00010000},
    {kDcuControl, 0x20000000},
    {kDcuControl, 0x00000000},
    {kDcuControl, 0x40000000},
    {kDcuControl, 0x48000000},
    {kDcuControl, 0x4C000000},
    {kDcuControl, 0xCC000000},
    {kDcuControl, 0x4C000000},
    {kDcuControl, 0x44000000},
    {kDcuControl, 0x40000000},
    {kDcuControl, 0x60000000},
    {kDcuControl, 0x40000000},
    {kDcuControl, 0x00000000},
};

void ReadyWindow(WindowServices& window) {
    window.SetProgressPosition(0);
    AbortRequested = false;
}

void IdentifyCpu(WindowServices& window) {
    std::uint32_t idcode = ReadIdcode();
    window.LogLine("IDCODE : " + Hex8(idcode));
    std::string cpu = CpuLine(idcode);
    if (!cpu.empty()) window.LogLine(cpu);
}

// The decision rests on the read-back alone, never on the halt write's own result.
bool HaltCpu(WindowServices& window) {
    if (DcuWriteWord(kDcuControl, kHaltRequest)) window.LogLine("Stop CPU");
    std::uint32_t control = 0;
    if (!DcuReadWord(kDcuControl, control)) {
        window.LogLine("Fail DCU, Plesae Restart or Reset CPU Box");
        JtagRelease();
        return false;
    }
    if (control != kHaltRequest) {
        window.LogLine("Fail DCU Control, Plesae Restart or Reset CPU Box");
        JtagRelease();
        return false;
    }
    return true;
}

// A stop asked for on the command line ends START between its DCU exchanges; the CPU
// stays as far as START had brought it.
bool Interrupted(WindowServices& window) {
    if (!window.StopRequested()) return false;
    window.LogLine("START interrupted: the receiver is not ready, press START again");
    return true;
}

bool ClearTrapArea(WindowServices& window) {
    window.LogLine("Clear Trap : Please Wait...");
    for (int i = 0; i < kTrapAreaWords; ++i) {
        if (Interrupted(window)) return false;
        std::uint32_t address = kTrapAreaStart + 4u * static_cast<std::uint32_t>(i);
        if (!DcuWriteWord(address, kTrapAreaFill)) {
            window.LogLine("FAIL WRITE ADR[" + Hex8(address) + "]=" + Hex8(kTrapAreaFill));
            return false;
        }
    }
    return true;
}

// A trap file too large for RAM below its mailbox, or for any trap program, is refused
// before a single clock: loading it would take minutes and then fail, or overwrite the
// mailbox.
bool TrapFileFits(WindowServices& window, const std::string& trapFile) {
    const std::optional<std::uint64_t> size = TrapFileSize(trapFile);
    const std::uint32_t room = MaxTrapSize(kTrapLoadAddress);
    if (!size || *size <= room) return true;
    const std::string why = room == kTrapFileLimit ? " is the most a trap program may have"
                                                   : " fit below the mailbox in target RAM";
    window.LogLine("Trap file too large: " + std::to_string(*size) + " bytes, but " + std::to_string(room) + why +
                   ": nothing sent");
    return false;
}

bool InstallTrap(WindowServices& window, const std::string& trapFile) {
    window.LogLine("Load Trap -> Ram : Please Wait...");
    if (!LoadTrapFile(kTrapLoadAddress, trapFile, [&window] { return window.StopRequested(); })) {
        if (Interrupted(window)) return false;
        window.LogLine("Trap :(");
        JtagRelease();
        return false;
    }
    window.LogLine("Init Trap : Please Wait...");
    if (!StartTrap(kTrapLoadAddress)) {
        window.LogLine("Fail Trap adr set Trap_Iptr:" + Hex8(TrapIptr));
        JtagRelease();
        return false;
    }
    return true;
}

// From here on every write is only logged when it fails: the verdict is JTiptr's.
void RunTrapAndSetUpEmi(WindowServices& window) {
    // Both flash sizes take the same EMI value.
    window.LogLine("Start Trap  : Please Wait...");
    for (const RegisterWrite& w : kStartTrapSeries) WriteWordLogged(w.address, w.value);
    window.LogLine("Load EMI : Please Wait...");
    WriteWordLogged(kEmiRegister, kEmiValue);
}

// While the trap program runs, JTiptr points into it.
bool CheckJtiptr(WindowServices& window) {
    std::uint32_t jtiptr = 0;
    bool ok = false;
    if (!DcuReadWord(kJtiptrRegister, jtiptr)) {
        window.LogLine("Init Fail (fail read JTiptr)");
    } else if (jtiptr > 0x80000100 && jtiptr < 0x80000300) {
        window.LogLine("Init OK :)");
        ok = true;
    } else {
        window.LogLine("Init Fail JTiptr : " + Hex8(jtiptr));
    }
    EndOperation(window);
    return ok;
}

}  // namespace

std::string CpuLine(std::uint32_t idcode) {
    switch ((idcode >> 12) & 0x3FF) {
    case 1:
    case 6:
    case 7: return "CPU : STi5512";
    case 2: return "CPU : STi5508";
    case 5: return "CPU : STi5518";
    case 201:
    case 473: return "CPU : STi5500";
    case 203: return "CPU : STi5505";
    case 205: return "CPU : STi5510";
    case 403: return "CPU : ST20-TP2";
    case 408: return "CPU : ST20-TP4";
    default: return {};
    }
}

bool RunStart(Link& link, WindowServices& window, const StartInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;

    ReadyWindow(window);
    if (!UsePort(link, window, in.lptBase)) return false;
    window.ClearLog();
    window.ProcessMessages();  // let the emptied log repaint
    if (!TrapFileFits(window, in.trapFile)) return false;
    JtagInit();
    SelectDcu();

    IdentifyCpu(window);
    if (Interrupted(window) || !HaltCpu(window)) return false;
    if (!ClearTrapArea(window)) return false;
    if (Interrupted(window) || !InstallTrap(window, in.trapFile)) return false;
    if (Interrupted(window)) return false;
    RunTrapAndSetUpEmi(window);
    return CheckJtiptr(window);
}

}  // namespace orbvex
