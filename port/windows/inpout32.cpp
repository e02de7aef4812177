// SPDX-License-Identifier: GPL-2.0-or-later
// InpOut32: the free port library whose own signed driver gives 32-bit programs the
// parallel port on 64-bit Windows. It is loaded when needed, never linked, so that the
// program runs without it.
#include "port/windows/inpout32.h"

#include <windows.h>

#include "port/program_dir.h"

namespace orbvex {
namespace {

constexpr const char* kLibraryName = "inpout32.dll";

using IsDriverOpenFn = BOOL(WINAPI*)();
using Inp32Fn = short(WINAPI*)(short port);
using Out32Fn = void(WINAPI*)(short port, short data);

class InpOut32Port final : public PortBackend {
public:
    InpOut32Port(HMODULE module, Inp32Fn inp, Out32Fn out) : module_(module), inp_(inp), out_(out) {}
    ~InpOut32Port() override { FreeLibrary(module_); }
    InpOut32Port(const InpOut32Port&) = delete;
    InpOut32Port& operator=(const InpOut32Port&) = delete;

    std::uint8_t Read(std::uint16_t port) override {
        return static_cast<std::uint8_t>(inp_(static_cast<short>(port)));
    }
    void Write(std::uint16_t port, std::uint8_t value) override { out_(static_cast<short>(port), value); }

private:
    HMODULE module_;
    Inp32Fn inp_;
    Out32Fn out_;
};

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::vector<std::string> InpOut32Places() {
    std::vector<std::string> places{ProgramDirectory() + kLibraryName};
    char system[MAX_PATH];
    const UINT length = GetSystemDirectoryA(system, sizeof system);
    if (length > 0 && length < sizeof system) places.push_back(std::string(system) + "\\" + kLibraryName);
    return places;
}

PortLibrary LoadInpOut32(const std::vector<std::string>& places) {
    PortLibrary result;
    for (const std::string& place : places) {
        // Its own dependencies are looked for beside it, not beside the program.
        HMODULE module = LoadLibraryExA(place.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module) {
            if (GetFileAttributesA(place.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
            result.why = place + " could not be loaded (error " + std::to_string(GetLastError()) +
                         "): the 32-bit inpout32.dll is needed, not inpoutx64.dll";
            return result;
        }
        const auto isOpen = Lookup<IsDriverOpenFn>(module, "IsInpOutDriverOpen");
        const auto inp = Lookup<Inp32Fn>(module, "Inp32");
        const auto out = Lookup<Out32Fn>(module, "Out32");
        if (!isOpen || !inp || !out) {
            FreeLibrary(module);
            result.why = place + " is not InpOut32 (it lacks IsInpOutDriverOpen, Inp32 or Out32)";
            return result;
        }
        if (!isOpen()) {
            FreeLibrary(module);
            result.why = "InpOut32 (" + place +
                         ") could not open its driver: run the program once as an administrator so that it can "
                         "install it";
            return result;
        }
        result.port = std::make_unique<InpOut32Port>(module, inp, out);
        result.note = "The parallel port is reached through InpOut32 (" + place + ")";
        return result;
    }
    result.why = "no inpout32.dll beside the program or in the system folder: on 64-bit Windows install InpOut32";
    return result;
}

}  // namespace orbvex
