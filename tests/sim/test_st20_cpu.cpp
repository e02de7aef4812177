// SPDX-License-Identifier: GPL-2.0-or-later
// The ST20-C2 core on a plain bus: small programs, given as the bytes the public
// documents spell out, and the registers, memory and records they must leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/st20_cpu.h"

namespace {

using orbvex::sim::St20Bus;
using orbvex::sim::St20Cpu;
using Event = St20Cpu::Event;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kCode = 0x80000000;
constexpr std::uint32_t kW0 = 0x80001000;
constexpr std::uint32_t kDevice = 0x100;  // outside RAM: every access is a bus cycle

// RAM at 0x80000000, reached directly; anything else is a device that logs its cycles.
class PlainBus : public St20Bus {
public:
    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(0x2000, 0);
    std::vector<std::string> cycles;
    std::map<std::uint32_t, std::uint32_t> device;
    std::uint64_t writes = 0;  // the RAM writes of others

    std::uint8_t ReadByte(std::uint32_t a) override { return Log("rb", a, device[a]) & 0xFF; }
    void WriteByte(std::uint32_t a, std::uint8_t v) override { device[a] = Log("wb", a, v); }
    std::uint16_t ReadHalf(std::uint32_t a) override { return Log("rh", a, device[a]) & 0xFFFF; }
    void WriteHalf(std::uint32_t a, std::uint16_t v) override { device[a] = Log("wh", a, v); }
    std::uint32_t ReadWord(std::uint32_t a) override { return Log("rw", a, device[a]); }
    void WriteWord(std::uint32_t a, std::uint32_t v) override { device[a] = Log("ww", a, v); }
    orbvex::sim::St20RamWindow Ram() override {
        return {kCode, ram.data(), static_cast<std::uint32_t>(ram.size()), writes};
    }

    std::uint32_t Word(std::uint32_t a) const {
        const std::uint8_t* p = &ram[a - kCode];
        return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }

private:
    std::uint32_t Log(const char* kind, std::uint32_t a, std::uint32_t v) {
        char text[32];
        std::snprintf(text, sizeof text, "%s %X %X", kind, a, v);
        cycles.emplace_back(text);
        return v;
    }
};

struct Program {
    PlainBus bus;
    St20Cpu cpu{&bus};

    // Runs the program until it leaves its own bytes at the end (or `end`), or stops.
    explicit Program(const Bytes& code, std::optional<std::uint32_t> end = std::nullopt) {
        std::copy(code.begin(), code.end(), bus.ram.begin());
        const std::uint32_t stop = kCode + end.value_or(static_cast<std::uint32_t>(code.size()));
        cpu.Start(kCode, kW0);
        for (int i = 0; i < 1000 && !cpu.Stopped(); ++i) {
            cpu.Run(1);
            if (cpu.Regs().iptr == stop) break;
        }
    }

    std::vector<Event> Events() const {
        std::vector<Event> events;
        for (const auto& r : cpu.Records()) events.push_back(r.event);
        return events;
    }
};

struct Row {
    const char* name;
    Bytes code;
    std::optional<std::uint32_t> a, b;
    std::vector<Event> records = {};
    std::optional<std::pair<std::uint32_t, std::uint32_t>> word = {};  // address, value
    std::optional<unsigned> undefined = {};
    std::optional<std::uint32_t> end = {};
    std::optional<bool> error = {};
};

constexpr unsigned kA = St20Cpu::kUndefA, kB = St20Cpu::kUndefB, kC = St20Cpu::kUndefC;

const std::vector<Row> kRows = {
    // Operands built by prefixes, as the data sheet's table gives them.
    {"ldc #987", {0x29, 0x28, 0x47}, 0x987, {}},
    {"ldc -31", {0x61, 0x41}, 0xFFFFFFE1, {}},
    {"ldc #35, ldc #3: a push", {0x23, 0x45, 0x43}, 3, 0x35, {}, {}, kC},
    // Arithmetic and logic take B op A and pop B.
    {"add", {0x43, 0x45, 0xF5}, 8, {}, {}, {}, kB | kC},
    {"sub", {0x4A, 0x43, 0xFC}, 7, {}},
    {"diff wraps", {0x43, 0x4A, 0xF4}, 0xFFFFFFF9, {}},
    {"prod", {0x46, 0x47, 0xF8}, 42, {}},
    {"and", {0x4C, 0x4A, 0x24, 0xF6}, 8, {}},
    {"or", {0x4C, 0x4A, 0x24, 0xFB}, 14, {}},
    {"xor", {0x4C, 0x4A, 0x23, 0xF3}, 6, {}},
    {"not", {0x40, 0x23, 0xF2}, 0xFFFFFFFF, {}},
    {"shl", {0x41, 0x44, 0x24, 0xF1}, 16, {}},
    {"shr is logical", {0x24, 0xF2, 0x4F, 0x24, 0xF0}, 0x10000, {}},
    {"gt is signed", {0x60, 0x4F, 0x41, 0xF9}, 0, {}},
    {"gtu is unsigned", {0x60, 0x4F, 0x41, 0x25, 0xFF}, 1, {}},
    {"mint", {0x24, 0xF2}, 0x80000000, {}},
    {"bsub", {0x43, 0x21, 0x20, 0x40, 0xF2}, 0x103, {}},
    {"wsub", {0x43, 0x21, 0x20, 0x40, 0xFA}, 0x10C, {}},
    {"ssub", {0x43, 0x21, 0x20, 0x40, 0x2C, 0xF1}, 0x106, {}},
    {"eqc", {0x45, 0xC5}, 1, {}},
    {"adc -1", {0x44, 0x60, 0x8F}, 3, {}},
    {"ldnlp", {0x44, 0x52}, 12, {}},
    // Stack shuffles.
    {"rev", {0x41, 0x42, 0xF0}, 1, 2},
    {"dup", {0x47, 0x25, 0xFA}, 7, 7},
    {"pop", {0x41, 0x42, 0x27, 0xF9}, 1, {}, {}, {}, kB | kC},
    {"nop", {0x45, 0x63, 0xF0}, 5, {}},
    // Workspace and memory.
    {"stl, ldl", {0x21, 0x45, 0xD1, 0x71}, 0x15, {}, {}, {{kW0 + 4, 0x15}}},
    {"ldlp", {0x12}, kW0 + 8, {}},
    {"stnl stores B at A and leaves C", {0x21, 0x22, 0x23, 0x44, 0x10, 0xE1}, {}, {}, {}, {{kW0 + 4, 0x1234}}, kA | kB | kC},
    {"ldnl", {0x21, 0x45, 0xD1, 0x10, 0x31}, 0x15, {}},
    {"sb, lb", {0x2A, 0x4B, 0x10, 0x23, 0xFB, 0x10, 0xF1}, 0xAB, {}, {}, {{kW0, 0xAB}}},
    {"ss, ls", {0x28, 0x20, 0x20, 0x41, 0x10, 0x2C, 0xF8, 0x10, 0x2C, 0xFA}, 0x8001, {}},
    {"ss, lsx sign-extends", {0x28, 0x20, 0x20, 0x41, 0x10, 0x2C, 0xF8, 0x10, 0x2F, 0xF9}, 0xFFFF8001, {}},
    {"devsw, devlw", {0x47, 0x10, 0x2F, 0xF5, 0x10, 0x2F, 0xF4}, 7, {}, {}, {{kW0, 7}}},
    // Control flow.
    {"cj taken keeps A", {0x40, 0xA1, 0x49, 0x45}, 5, 0},
    {"cj not taken pops", {0x48, 0x42, 0xA1, 0x49, 0x45}, 5, 9},
    {"ldpi, gcall", {0x42, 0x21, 0xFB, 0xF6, 0x00}, kCode + 4, {}, {}, {}, {}, 5},
    {"call saves the frame, ret returns", {0x47, 0x91, 0x00, 0x22, 0xF0}, kCode + 2, {}, {}, {{kW0 - 12, 7}}, {}, 2},
    {"ajw", {0xB2, 0x10}, kW0 + 8, {}},
    // What the documents leave open, read strictly.
    {"shl by 32 gives 0", {0x41, 0x22, 0x40, 0x24, 0xF1}, 0, {}, {Event::ShiftBeyondWord}},
    {"nothing survives a j", {0x41, 0x00, 0x24, 0xF1}, {}, {}, {Event::UndefinedShift}},
    {"cj on A left undefined", {0xA0}, {}, {}, {Event::UndefinedCondition}},
    {"ldnl through A left undefined", {0x30}, {}, {}, {Event::UndefinedAddress}},
    {"gcall to A left undefined", {0x24, 0xF2, 0x00, 0xF6}, {}, {}, {Event::UndefinedTarget}, {}, {}, 0},
    {"undefined B stored outside RAM", {0x21, 0x20, 0x40, 0x2F, 0xF3}, {}, {}, {Event::UndefinedData}},
    {"a store leaves C in A", {0x41, 0x42, 0x10, 0x23, 0xFB}, 1, {}, {}, {}, kB | kC},
    {"misaligned word clears its low bits", {0x41, 0xD0, 0x10, 0x82, 0x2F, 0xF4}, 1, {}, {Event::Misaligned}},
    {"misaligned half clears bit 0", {0x28, 0x20, 0x20, 0x41, 0x10, 0x2C, 0xF8, 0x10, 0x81, 0x2C, 0xFA}, 0x8001, {}, {Event::Misaligned}},
    // Long arithmetic: B op A with the carry in C; results low in A, high or carry in B.
    {"ladd adds the carry", {0x41, 0x45, 0x47, 0x21, 0xF6}, 13, {}},
    {"lsum carries out", {0x41, 0x24, 0xF2, 0x24, 0xF2, 0x23, 0xF7}, 1, 1},
    {"lsub takes the borrow", {0x41, 0x4A, 0x43, 0x23, 0xF8}, 6, {}},
    {"ldiff borrows out", {0x40, 0x43, 0x45, 0x24, 0xFF}, 0xFFFFFFFE, 1},
    {"lmul adds C", {0x41, 0x24, 0xF2, 0x42, 0x23, 0xF1}, 1, 1},
    {"ldiv divides C:B", {0x41, 0x40, 0x44, 0x21, 0xFA}, 0x40000000, 0},
    {"lshl shifts C:B", {0x40, 0x24, 0xF2, 0x41, 0x23, 0xF6}, 0, 1},
    {"lshr shifts C:B", {0x41, 0x40, 0x44, 0x23, 0xF5}, 0x10000000, 0},
    {"norm", {0x40, 0x41, 0x21, 0xF9}, 0, 0x80000000},
    {"sum does not check", {0x24, 0xF2, 0x24, 0xF2, 0x25, 0xF2}, 0, {}, {}, {}, {}, {}, false},
    {"mul is signed and checked", {0x46, 0x60, 0x49, 0x25, 0xF3}, 0xFFFFFFD6, {}, {}, {}, {}, {}, false},
    {"div truncates", {0x60, 0x49, 0x42, 0x22, 0xFC}, 0xFFFFFFFD, {}},
    {"rem keeps the sign", {0x60, 0x49, 0x42, 0x21, 0xFF}, 0xFFFFFFFF, {}},
    // Checks set the error flag and leave B in A.
    {"csub0 in range", {0x43, 0x45, 0x21, 0xF3}, 3, {}, {}, {}, {}, {}, false},
    {"ccnt1 of 0", {0x40, 0x45, 0x24, 0xFD}, 0, {}, {}, {}, {}, {}, true},
    {"cword", {0x21, 0x20, 0x40, 0x28, 0x40, 0x25, 0xF6}, 0x100, {}, {}, {}, {}, {}, true},
    {"csngl", {0x40, 0x60, 0x4F, 0x24, 0xFC}, 0xFFFFFFFF, {}, {}, {}, {}, {}, true},
    {"seterr, testerr", {0x21, 0xF0, 0x22, 0xF9}, 0, {}, {}, {}, {}, {}, false},
    {"testerr clears", {0x24, 0xF2, 0x60, 0x8F, 0x22, 0xF9, 0x22, 0xF9}, 1, 0},
    {"sethalterr, clrhalterr", {0x25, 0xF8, 0x25, 0xF9, 0x25, 0xF7, 0x25, 0xF9}, 0, 1},
    // Sign extension and counts.
    {"xword", {0x2F, 0x4F, 0x28, 0x40, 0x23, 0xFA}, 0xFFFFFFFF, {}},
    {"xbword", {0x28, 0x40, 0x2B, 0xF8}, 0xFFFFFF80, {}},
    {"xsword", {0x28, 0x20, 0x20, 0x40, 0x2F, 0xF8}, 0xFFFF8000, {}},
    {"lbx", {0x28, 0x40, 0x10, 0x23, 0xFB, 0x10, 0x2B, 0xF9}, 0xFFFFFF80, {}},
    {"xdble", {0x60, 0x4E, 0x21, 0xFD}, 0xFFFFFFFE, 0xFFFFFFFF},
    {"bcnt", {0x43, 0x23, 0xF4}, 12, {}},
    {"wcnt", {0x4B, 0x23, 0xFF}, 2, 3},
    {"bitcnt adds B", {0x42, 0x47, 0x27, 0xF6}, 5, {}},
    {"bitrevword", {0x41, 0x27, 0xF7}, 0x80000000, {}},
    {"bitrevnbits", {0x41, 0x44, 0x27, 0xF8}, 8, {}},
    // The process's own state.
    {"gajw swaps A and Wptr", {0x14, 0x23, 0xFC, 0x10}, kW0 + 16, kW0},
    {"ldpri: low priority", {0x21, 0xFE}, 1, {}},
    {"sttimer sets what ldtimer reads", {0x45, 0x25, 0xF4, 0x22, 0xF2}, 5, {}},
    {"move copies C to B", {0x21, 0x22, 0x23, 0x44, 0xD0, 0x10, 0x12, 0x44, 0x24, 0xFA}, {}, {}, {}, {{kW0 + 8, 0x1234}}},
    {"lend loops while the count stays above 0", {0x40, 0xD0, 0x43, 0xD1, 0x10, 0x44, 0x22, 0xF1}, {}, {}, {}, {{kW0, 2}}},
};

TEST(St20Cpu, ProgramsLeaveTheirResults) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        Program run(row.code, row.end);
        EXPECT_FALSE(run.cpu.Stopped());
        if (row.a) {
            EXPECT_EQ(run.cpu.Regs().a, *row.a);
        }
        if (row.b) {
            EXPECT_EQ(run.cpu.Regs().b, *row.b);
        }
        if (row.word) {
            EXPECT_EQ(run.bus.Word(row.word->first), row.word->second);
        }
        if (row.undefined) {
            EXPECT_EQ(run.cpu.Undefined(), *row.undefined);
        }
        if (row.error) {
            EXPECT_EQ(run.cpu.ErrorFlag(), *row.error);
        }
        EXPECT_EQ(run.Events(), row.records);
    }
}

TEST(St20Cpu, CallAndRetKeepTheWorkspace) {
    Program run({0x47, 0x91, 0x00, 0x22, 0xF0}, 2);
    EXPECT_EQ(run.bus.Word(kW0 - 16), kCode + 2);
    EXPECT_EQ(run.cpu.Regs().wptr, kW0);
}

TEST(St20Cpu, DeviceAccessesAreSingleBusCyclesOfTheirWidth) {
    // ldc #1234; ldc #100; devss; ldc #100; devls; ldc #AB; ldc #101; devsb; ldc #104; devlw
    Program run({0x21, 0x22, 0x23, 0x44, 0x21, 0x20, 0x40, 0x2F, 0xF3, 0x21, 0x20, 0x40, 0x2F, 0xF2,
                 0x2A, 0x4B, 0x21, 0x20, 0x41, 0x2F, 0xF1, 0x21, 0x20, 0x44, 0x2F, 0xF4});
    EXPECT_EQ(run.bus.cycles, (std::vector<std::string>{"wh 100 1234", "rh 100 1234", "wb 101 AB", "rw 104 0"}));
    EXPECT_EQ(run.cpu.Regs().a, 0u);
    EXPECT_TRUE(run.Events().empty());
}

TEST(St20Cpu, UnknownInstructionStopsWhereItBegan) {
    // ldc 3, then operation #17 behind its prefix: the record names the prefix's address.
    Program run({0x43, 0x21, 0xF7, 0x44});
    ASSERT_TRUE(run.cpu.Stopped());
    ASSERT_EQ(run.cpu.Records().size(), 1u);
    EXPECT_EQ(run.cpu.Records()[0].event, Event::UnknownInstruction);
    EXPECT_EQ(run.cpu.Records()[0].iptr, kCode + 1);
    EXPECT_EQ(run.cpu.Records()[0].value, 0x17u);
    EXPECT_EQ(run.cpu.Regs().iptr, kCode + 1);
    EXPECT_EQ(run.cpu.Regs().a, 3u);
    EXPECT_EQ(run.cpu.Executed(), 2u);  // ldc and the prefix
    EXPECT_EQ(run.cpu.Run(100), 0u);
}

TEST(St20Cpu, CountsEveryInstructionByteOfALoop) {
    Program run({0x60, 0x0E}, 100);  // j -2: a loop of one prefixed jump
    EXPECT_EQ(run.cpu.Executed(), 1000u);
    EXPECT_EQ(run.cpu.Regs().iptr, kCode);
}

// A loop that only reads RAM is counted rather than run; the result must be what running
// it one instruction at a time gives, also when someone else writes the word it waits on.
TEST(St20Cpu, SkippedLoopsEndWhereSteppedOnesDo) {
    // wait: ldl 0; cj wait; ldl 0; adc 1; stl 1; j wait  (counts how often it saw a command)
    const Bytes code = {0x70, 0x60, 0xAD, 0x70, 0x81, 0xD1, 0x60, 0x08};
    Program stepped(code, 0), skipped(code, 0);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 20 * 997; ++i) {
            ++stepped.bus.writes;  // nothing may be replayed: every instruction runs
            stepped.cpu.Run(1);
        }
        for (int i = 0; i < 997; ++i) skipped.cpu.Run(20);
        EXPECT_EQ(stepped.cpu.Executed(), skipped.cpu.Executed());
        EXPECT_EQ(stepped.cpu.Regs().iptr, skipped.cpu.Regs().iptr);
        EXPECT_EQ(stepped.cpu.Regs().a, skipped.cpu.Regs().a);
        EXPECT_EQ(stepped.bus.Word(kW0 + 4), skipped.bus.Word(kW0 + 4));
        for (Program* p : {&stepped, &skipped}) {
            p->bus.ram[kW0 - kCode] = static_cast<std::uint8_t>(round + 1);
            ++p->bus.writes;
        }
    }
    EXPECT_EQ(skipped.bus.Word(kW0 + 4), 3u);
}

}  // namespace
