// SPDX-License-Identifier: GPL-2.0-or-later
// A stand-in inpout32.dll: the library's three calls (stdcall, under their plain names),
// with a virtual receiver of its own behind LPT1's registers; other ports are an empty bus.
#include "sim/virtual_receiver.h"

static orbvex::sim::VirtualReceiver receiver;
static bool OnLpt1(short port) { return static_cast<unsigned short>(port) - 0x378u <= 2; }
extern "C" __declspec(dllexport) int __stdcall IsInpOutDriverOpen() { return 1; }
extern "C" __declspec(dllexport) short __stdcall Inp32(short port) { return OnLpt1(port) ? receiver.Read(port) : 0xFF; }
extern "C" __declspec(dllexport) void __stdcall Out32(short port, short data) {
    if (OnLpt1(port)) receiver.Write(port, data);
}
