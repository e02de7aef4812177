#pragma once
#include <cstdint>
#include <string>

// The target-side trap program: loading it into RAM, starting it, calling it.

extern std::uint32_t TrapSize;  // size of the trap file as last opened
extern std::uint32_t TrapWptr;  // trap workspace pointer word, as last read (the mailbox)
extern std::uint32_t TrapIptr;  // trap instruction pointer word, as last read

// Copies the file into target RAM from loadAddress on. A plain name is looked up in
// the program's folder; an absolute path is taken as it is.
bool LoadTrapFile(std::uint32_t loadAddress, const std::string& fileName);
bool StartTrap(std::uint32_t loadAddress);
bool TrapCall(std::uint32_t flashBase);
void WriteWordLogged(std::uint32_t address, std::uint32_t value);
