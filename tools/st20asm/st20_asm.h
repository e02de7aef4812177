// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// An assembler for the ST20-C2 instruction set, small enough to run at build time: the
// receiver's target-side programs are kept as source and turned into their images here.
//
// Source: one statement a line; `label:` before it or alone; comments after `;`, or a
// line starting with `#`. Statements:
//   j ldlp pfix ldnl ldc ldnlp nfix ldl adc call cj ajw eqc stl stnl opr  EXPR
//   an operation by name (add, rev, devss, ...), no operand
//   .word EXPR, ...      32-bit little-endian words
//   .byte EXPR, ...      bytes (-128..255)
//   .align N             zero bytes up to the next multiple of N
//   .space N             N zero bytes
//   .equ NAME, EXPR      a named value
//   .include "FILE"      the statements of FILE, as the reader given to Assemble finds it
// EXPR: numbers (decimal, 0x.. or #.. hexadecimal), labels, names, + - * / ( ) ~.
// A label's value is its address: the origin plus its offset in the image. The operand
// of j, cj and call that names one label is taken relative to the address after the
// whole instruction, prefixes included; a plain number there is the offset itself.
// Every operand gets the shortest pfix/nfix chain that gives it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orbvex::st20asm {

struct Diagnostic {
    int line = 0;  // 1-based
    std::string message;
};

struct ListingLine {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
    int line = 0;
};

struct Assembly {
    std::vector<std::uint8_t> image;
    std::vector<Diagnostic> errors;  // the image is valid only when this is empty
    std::vector<ListingLine> listing;
};

// Finds an included file's text by the name the source gives; nullopt when it cannot.
using IncludeReader = std::function<std::optional<std::string>(const std::string& name)>;

Assembly Assemble(const std::string& source, std::uint32_t origin = 0, const IncludeReader& reader = {});

// The bytes of direct function `function` (0..15) with `operand`, taken as a 32-bit
// value: the shortest of its signed and unsigned readings that decodes back to it.
std::vector<std::uint8_t> EncodeDirect(unsigned function, std::int64_t operand);

}  // namespace orbvex::st20asm
