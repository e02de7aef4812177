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

    Status Send(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            DWORD written = 0;
            const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
            if (!WriteFile(line_, data, chunk, &written, nullptr))
                return Failure("the serial line failed (" + SystemError() + ")");
            if (written == 0) return Failure("the serial line takes no more bytes");  // the write timeout ran out
            data += written;
            size -= written;
        }
        return {};
    }

    // Returns what is in at once; else waits up to timeoutMs for the first byte.
    Result<std::size_t> Receive(std::uint8_t* buffer, std::size_t size, int timeoutMs) override {
        if (!WaitUpTo(timeoutMs)) return Failure("the serial line failed (" + SystemError() + ")");
        DWORD got = 0;
        const DWORD wanted = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        if (!ReadFile(line_, buffer, wanted, &got, nullptr))
            return Failure(GetLastError() == ERROR_OPERATION_ABORTED || GetLastError() == ERROR_ACCESS_DENIED
                               ? "the serial device went away"
                               : "the serial line failed (" + SystemError() + ")");
        return static_cast<std::size_t>(got);
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

Result<std::unique_ptr<ProbeStream>> OpenSerialStream(const std::string& device, int baud) {
    if (baud <= 0) return Failure("this system has no serial rate of " + std::to_string(baud) + " baud");
    const HANDLE line = CreateFileA(DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (line == INVALID_HANDLE_VALUE) return Failure("cannot open " + device + ": " + SystemError());
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!GetCommState(line, &settings)) {
        const std::string why = device + " is not a serial line: " + SystemError();
        CloseHandle(line);
        return Failure(why);
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
        const std::string why = "cannot set " + device + " to " + std::to_string(baud) + " baud, 8N1: " + SystemError();
        CloseHandle(line);
        return Failure(why);
    }
    PurgeComm(line, PURGE_RXCLEAR | PURGE_TXCLEAR);  // nothing a previous user left on the line
    return std::make_unique<Win32SerialStream>(line);
}

}  // namespace orbvex::probe

#endif
