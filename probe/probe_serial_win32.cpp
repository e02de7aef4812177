// SPDX-License-Identifier: GPL-2.0-or-later
// A probe on a Windows COM port (an Arduino's USB serial port, say): raw, 8N1, at the
// rate asked, through the Win32 communications API.
#if defined(_WIN32)

#include <windows.h>

#include <string>

#include "probe/probe_stream.h"

namespace orbvex::probe {
namespace {

std::string SystemError() {
    const DWORD code = GetLastError();
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                   sizeof text, nullptr);
    std::string said(text, n);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.')) said.pop_back();
    return said.empty() ? "error " + std::to_string(code) : said;
}

// COM10 and above are reached only through the device namespace; it serves COM1 to
// COM9 as well.
std::string DevicePath(const std::string& device) {
    if (device.rfind("\\\\.\\", 0) == 0) return device;
    return "\\\\.\\" + device;
}

class Win32SerialStream final : public ProbeStream {
public:
    explicit Win32SerialStream(HANDLE line) : line_(line) {}
    ~Win32SerialStream() override { CloseHandle(line_); }

    bool Send(const std::uint8_t* data, std::size_t size, std::string& why) override {
        while (size > 0) {
            DWORD written = 0;
            const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
            if (!WriteFile(line_, data, chunk, &written, nullptr)) {
                why = "the serial line failed (" + SystemError() + ")";
                return false;
            }
            if (written == 0) {  // the write timeout ran out
                why = "the serial line takes no more bytes";
                return false;
            }
            data += written;
            size -= written;
        }
        return true;
    }

    // Returns what is in at once; else waits up to timeoutMs for the first byte.
    long Receive(std::uint8_t* buffer, std::size_t size, int timeoutMs, std::string& why) override {
        if (!WaitUpTo(timeoutMs)) {
            why = "the serial line failed (" + SystemError() + ")";
            return -1;
        }
        DWORD got = 0;
        const DWORD wanted = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        if (!ReadFile(line_, buffer, wanted, &got, nullptr)) {
            why = GetLastError() == ERROR_OPERATION_ABORTED || GetLastError() == ERROR_ACCESS_DENIED
                      ? "the serial device went away"
                      : "the serial line failed (" + SystemError() + ")";
            return -1;
        }
        return static_cast<long>(got);
    }
    bool MayBeBooting() const override { return true; }

private:
    // ReadIntervalTimeout and ReadTotalTimeoutMultiplier at MAXDWORD with a constant:
    // a read returns at once with what is there, or waits for the first byte that long.
    bool WaitUpTo(int timeoutMs) {
        const DWORD wait = timeoutMs <= 0 ? 1 : static_cast<DWORD>(timeoutMs);
        if (wait == readWait_) return true;
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = wait;
        timeouts.WriteTotalTimeoutConstant = kSendWaitMs;
        if (!SetCommTimeouts(line_, &timeouts)) return false;
        readWait_ = wait;
        return true;
    }

    static constexpr DWORD kSendWaitMs = 10000;
    HANDLE line_;
    DWORD readWait_ = 0;
};

}  // namespace

std::unique_ptr<ProbeStream> OpenSerialStream(const std::string& device, int baud, std::string& why) {
    if (baud <= 0) {
        why = "this system has no serial rate of " + std::to_string(baud) + " baud";
        return nullptr;
    }
    const HANDLE line = CreateFileA(DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (line == INVALID_HANDLE_VALUE) {
        why = "cannot open " + device + ": " + SystemError();
        return nullptr;
    }
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!GetCommState(line, &settings)) {
        why = device + " is not a serial line: " + SystemError();
        CloseHandle(line);
        return nullptr;
    }
    settings.BaudRate = static_cast<DWORD>(baud);
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDsrSensitivity = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fNull = FALSE;
    settings.fAbortOnError = FALSE;
    // DTR and RTS up, as a terminal program leaves them: a board reset by DTR starts once.
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(line, &settings)) {
        why = "cannot set " + device + " to " + std::to_string(baud) + " baud, 8N1: " + SystemError();
        CloseHandle(line);
        return nullptr;
    }
    PurgeComm(line, PURGE_RXCLEAR | PURGE_TXCLEAR);  // nothing a previous user left on the line
    return std::make_unique<Win32SerialStream>(line);
}

}  // namespace orbvex::probe

#endif
