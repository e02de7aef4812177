// A stand-in for InpOut32's inpout32.dll: the three calls the program uses, with a
// virtual receiver of its own on the cable behind LPT1's registers. Other ports read
// as an empty bus and ignore writes. The exports carry the library's plain names.
#include <windows.h>

#include "sim/virtual_receiver.h"

namespace {

constexpr unsigned kLpt1Base = 0x378;

orbvex::sim::VirtualReceiver& Receiver() {
    static orbvex::sim::VirtualReceiver receiver;
    return receiver;
}

bool OnLpt1(short port) {
    const auto p = static_cast<unsigned short>(port);
    return p >= kLpt1Base && p <= kLpt1Base + 2;
}

}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI IsInpOutDriverOpen() { return TRUE; }

__declspec(dllexport) short WINAPI Inp32(short port) {
    return OnLpt1(port) ? Receiver().Read(static_cast<unsigned short>(port)) : 0xFF;
}

__declspec(dllexport) void WINAPI Out32(short port, short data) {
    if (OnLpt1(port)) Receiver().Write(static_cast<unsigned short>(port), static_cast<std::uint8_t>(data));
}

}  // extern "C"
