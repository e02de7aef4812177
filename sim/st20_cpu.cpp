// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim/st20_cpu.h"

namespace orbvex::sim {
namespace {

// Direct functions: the high nibble of every instruction byte.
enum Function : unsigned {
    kJ = 0x0,
    kLdlp = 0x1,
    kPfix = 0x2,
    kLdnl = 0x3,
    kLdc = 0x4,
    kLdnlp = 0x5,
    kNfix = 0x6,
    kLdl = 0x7,
    kAdc = 0x8,
    kCall = 0x9,
    kCj = 0xA,
    kAjw = 0xB,
    kEqc = 0xC,
    kStl = 0xD,
    kStnl = 0xE,
    kOpr = 0xF,
};

// Operations: the operand of opr.
enum Operation : std::uint32_t {
    kRev = 0x00,
    kLb = 0x01,
    kBsub = 0x02,
    kDiff = 0x04,
    kAdd = 0x05,
    kGcall = 0x06,
    kProd = 0x08,
    kGt = 0x09,
    kWsub = 0x0A,
    kSub = 0x0C,
    kLdpi = 0x1B,
    kRet = 0x20,
    kNot = 0x32,
    kXor = 0x33,
    kSb = 0x3B,
    kShr = 0x40,
    kShl = 0x41,
    kMint = 0x42,
    kAnd = 0x46,
    kOr = 0x4B,
    kDup = 0x5A,
    kGtu = 0x5F,
    kPop = 0x79,
    kSsub = 0xC1,
    kSs = 0xC8,
    kLs = 0xCA,
    kDevlb = 0xF0,
    kDevsb = 0xF1,
    kDevls = 0xF2,
    kDevss = 0xF3,
    kDevlw = 0xF4,
    kDevsw = 0xF5,
    kLsx = 0xF9,
    kNop = 0xFFFFFFC0,  // table number 0x30, reached through nfix
    // Long arithmetic, checks, counts and the process's own flags and timer.
    kSeterr = 0x10,
    kCsub0 = 0x13,
    kLadd = 0x16,
    kNorm = 0x19,
    kLdiv = 0x1A,
    kXdble = 0x1D,
    kLdpri = 0x1E,
    kRem = 0x1F,
    kLend = 0x21,
    kLdtimer = 0x22,
    kTesterr = 0x29,
    kDiv = 0x2C,
    kLmul = 0x31,
    kBcnt = 0x34,
    kLshr = 0x35,
    kLshl = 0x36,
    kLsum = 0x37,
    kLsub = 0x38,
    kXword = 0x3A,
    kGajw = 0x3C,
    kWcnt = 0x3F,
    kMove = 0x4A,
    kCsngl = 0x4C,
    kCcnt1 = 0x4D,
    kLdiff = 0x4F,
    kSum = 0x52,
    kMul = 0x53,
    kSttimer = 0x54,
    kCword = 0x56,
    kClrhalterr = 0x57,
    kSethalterr = 0x58,
    kTesthalterr = 0x59,
    kBitcnt = 0x76,
    kBitrevword = 0x77,
    kBitrevnbits = 0x78,
    kXbword = 0xB8,
    kLbx = 0xB9,
    kXsword = 0xF8,
};

// The process started by the start series runs at low priority, whose timer ticks every
// 64 microseconds; taking one instruction as a microsecond, it ticks every 64 instructions
// of the receiver's clock, so time-outs built on it repeat exactly.
constexpr std::uint64_t kInstructionsPerTick = 64;
constexpr std::uint32_t kLowPriority = 1;

std::uint32_t ReverseBits(std::uint32_t value) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < 32; ++i, value >>= 1) reversed = (reversed << 1) | (value & 1);
    return reversed;
}

bool AddOverflows(std::uint32_t x, std::uint32_t y, std::uint32_t sum) { return ((~(x ^ y) & (x ^ sum)) >> 31) != 0; }
bool SubOverflows(std::uint32_t x, std::uint32_t y, std::uint32_t diff) { return (((x ^ y) & (x ^ diff)) >> 31) != 0; }

}  // namespace

void St20Cpu::Start(std::uint32_t iptr, std::uint32_t wptr) {
    r_ = Registers{};
    r_.iptr = iptr;
    r_.wptr = wptr;
    undef_ = kUndefA | kUndefB | kUndefC;
    error_ = false;
    stopped_ = false;
    start_ = iptr;
    loopValid_ = false;
    Touch();
}

std::uint64_t St20Cpu::Run(std::uint64_t count) {
    if (stopped_) return 0;
    const St20RamWindow ram = bus_->Ram();
    if (ram.bytes != ram_.bytes || ram.size != ram_.size || ram.writes != ram_.writes) {
        Touch();
        loopValid_ = false;
    }
    ram_ = ram;
    runStart_ = executed_;
    const std::uint64_t first = executed_;
    const std::uint64_t end = executed_ + count;
    while (executed_ < end && !stopped_) {
        if (period_ != 0) {
            Replay(end);
            break;
        }
        Step();
        if (stopped_) break;
        ++executed_;
        if (tracing_) Trace();
        if (jumpedBack_) LoopClosed();
    }
    return executed_ - first;
}

// Called after a backward jump. When the state is the one at the previous backward jump
// and nothing but registers changed in between, the round repeats: the next round is
// traced, and once a traced round closes the same way, the loop is known and replayed.
void St20Cpu::LoopClosed() {
    jumpedBack_ = false;
    const bool same = loopValid_ && !effect_ && loop_.r.a == r_.a && loop_.r.b == r_.b && loop_.r.c == r_.c &&
                      loop_.r.wptr == r_.wptr && loop_.r.iptr == r_.iptr && loop_.r.oreg == r_.oreg &&
                      loop_.undef == undef_ && loop_.error == error_;
    if (same && tracing_ && round_.size() == executed_ - loopAt_) period_ = executed_ - loopAt_;
    tracing_ = same && period_ == 0;
    if (tracing_) round_.clear();
    loop_ = {r_, undef_, error_};
    loopAt_ = executed_;
    loopValid_ = true;
    effect_ = false;
}

void St20Cpu::Trace() {
    if (round_.size() == kMaxRound) {
        tracing_ = false;
        return;
    }
    round_.push_back({r_, undef_, error_});
}

// Moves a known loop on to `end` without running it: the state there is the traced one
// at the same place in the round, exactly what running every instruction would leave.
void St20Cpu::Replay(std::uint64_t end) {
    const std::uint64_t place = (end - loopAt_) % period_;
    const Snapshot& state = place == 0 ? loop_ : round_[place - 1];
    r_ = state.r;
    undef_ = state.undef;
    error_ = state.error;
    start_ = r_.iptr;
    loopAt_ = end - place;
    executed_ = end;
}

void St20Cpu::Note(Event event, std::uint32_t value) {
    Touch();
    ++recordCount_;
    if (records_.size() < kMaxRecords) records_.push_back({event, start_, value});
}

void St20Cpu::Push(std::uint32_t value, unsigned undefined) {
    r_.c = r_.b;
    r_.b = r_.a;
    r_.a = value;
    undef_ = ((undef_ << 1) & (kUndefB | kUndefC)) | undefined;
}

void St20Cpu::Pop() {
    r_.a = r_.b;
    r_.b = r_.c;
    undef_ = (undef_ >> 1) | kUndefC;
}

// A := B op A; B := C; C undefined. The result is as defined as both operands.
void St20Cpu::Binary(std::uint32_t result) {
    const unsigned resultUndefined = (undef_ & (kUndefA | kUndefB)) ? kUndefA : 0;
    r_.a = result;
    r_.b = r_.c;
    undef_ = resultUndefined | ((undef_ >> 1) & kUndefB) | kUndefC;
}

// The documents disagree on what a store leaves on the stack; the stricter reading wins:
// A := C, and B and C undefined. A program that reloads after every store works either way.
void St20Cpu::AfterStore() {
    r_.a = r_.c;
    undef_ = ((undef_ >> 2) & kUndefA) | kUndefB | kUndefC;
}

std::uint32_t St20Cpu::Address(std::uint32_t address, unsigned undefinedBit) {
    if (undef_ & undefinedBit) Note(Event::UndefinedAddress, address);
    return address;
}

std::uint32_t St20Cpu::Aligned(std::uint32_t address, std::uint32_t mask) {
    if ((address & mask) == 0) return address;
    Note(Event::Misaligned, address);
    return address & ~mask;
}

std::uint8_t St20Cpu::Fetch(std::uint32_t address) {
    if (InRam(address, 1)) return *RamAt(address);
    Touch();
    return bus_->ReadByte(address);
}

std::uint32_t St20Cpu::LoadWord(std::uint32_t address) {
    address = Aligned(address, 3);
    if (!InRam(address, 4)) {
        Touch();
        return bus_->ReadWord(address);
    }
    const std::uint8_t* p = RamAt(address);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void St20Cpu::StoreWord(std::uint32_t address, std::uint32_t value, bool undefined) {
    Touch();
    address = Aligned(address, 3);
    if (!InRam(address, 4)) {
        if (undefined) Note(Event::UndefinedData, address);
        return bus_->WriteWord(address, value);
    }
    std::uint8_t* p = RamAt(address);
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint16_t St20Cpu::LoadHalf(std::uint32_t address) {
    address = Aligned(address, 1);
    if (!InRam(address, 2)) {
        Touch();
        return bus_->ReadHalf(address);
    }
    const std::uint8_t* p = RamAt(address);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void St20Cpu::StoreHalf(std::uint32_t address, std::uint16_t value, bool undefined) {
    Touch();
    address = Aligned(address, 1);
    if (!InRam(address, 2)) {
        if (undefined) Note(Event::UndefinedData, address);
        return bus_->WriteHalf(address, value);
    }
    std::uint8_t* p = RamAt(address);
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint8_t St20Cpu::LoadByte(std::uint32_t address) {
    if (InRam(address, 1)) return *RamAt(address);
    Touch();
    return bus_->ReadByte(address);
}

void St20Cpu::StoreByte(std::uint32_t address, std::uint8_t value, bool undefined) {
    Touch();
    if (InRam(address, 1)) {
        *RamAt(address) = value;
        return;
    }
    if (undefined) Note(Event::UndefinedData, address);
    bus_->WriteByte(address, value);
}

// The documents disagree on counts of 32 and more (0, or the count taken modulo 32);
// the strict reading gives 0 and records the shift.
std::uint32_t St20Cpu::Shift(bool left) {
    const std::uint32_t count = r_.a;
    if (undef_ & kUndefA) Note(Event::UndefinedShift, count);
    if (count >= 32) {
        Note(Event::ShiftBeyondWord, count);
        return 0;
    }
    return left ? r_.b << count : r_.b >> count;
}

void St20Cpu::Step() {
    const std::uint32_t at = r_.iptr;
    const std::uint8_t byte = Fetch(at);
    const std::uint32_t next = at + 1;
    const std::uint32_t operand = r_.oreg | (byte & 0x0Fu);
    r_.iptr = next;
    switch (byte >> 4) {
    case kPfix:
        r_.oreg = operand << 4;
        return;
    case kNfix:
        r_.oreg = ~operand << 4;
        return;
    default:
        break;
    }
    r_.oreg = 0;
    switch (byte >> 4) {
    case kJ:
        r_.iptr = next + operand;
        jumpedBack_ = r_.iptr <= at;
        // Whether j may deschedule, and what A, B, C hold after it, is left open: nothing
        // is promised across a j.
        undef_ = kUndefA | kUndefB | kUndefC;
        break;
    case kLdlp: Push(r_.wptr + 4 * operand); break;
    case kLdnl: r_.a = LoadWord(Address(r_.a + 4 * operand, kUndefA)); break;
    case kLdc: Push(operand); break;
    case kLdnlp: r_.a += 4 * operand; break;
    case kLdl: Push(LoadWord(r_.wptr + 4 * operand)); break;
    case kAdc: {
        const std::uint32_t sum = r_.a + operand;
        if (AddOverflows(r_.a, operand, sum)) error_ = true;
        r_.a = sum;
        break;
    }
    case kCall: {
        const std::uint32_t w = r_.wptr - 16;
        StoreWord(w, next, false);
        StoreWord(w + 4, r_.a, false);
        StoreWord(w + 8, r_.b, false);
        StoreWord(w + 12, r_.c, false);
        r_.wptr = w;
        r_.a = next;
        undef_ = kUndefB | kUndefC;
        r_.iptr = next + operand;
        break;
    }
    case kCj:
        if (undef_ & kUndefA) Note(Event::UndefinedCondition, r_.a);
        if (r_.a == 0) {
            r_.iptr = next + operand;
            jumpedBack_ = r_.iptr <= at;
        } else {
            Pop();
        }
        break;
    case kAjw: r_.wptr += 4 * operand; break;
    case kEqc: r_.a = r_.a == operand ? 1 : 0; break;
    case kStl:
        StoreWord(r_.wptr + 4 * operand, r_.a, (undef_ & kUndefA) != 0);
        Pop();
        break;
    case kStnl:
        StoreWord(Address(r_.a + 4 * operand, kUndefA), r_.b, (undef_ & kUndefB) != 0);
        AfterStore();
        break;
    case kOpr: Operate(operand, next); break;
    }
    if (!stopped_) start_ = r_.iptr;
}

void St20Cpu::Operate(std::uint32_t operation, std::uint32_t next) {
    const std::uint32_t a = r_.a, b = r_.b;
    const bool dataUndefined = (undef_ & kUndefB) != 0;
    switch (operation) {
    case kRev:
        r_.a = b;
        r_.b = a;
        undef_ = (undef_ & kUndefC) | ((undef_ & kUndefA) << 1) | ((undef_ & kUndefB) >> 1);
        return;
    case kDup: Push(a, undef_ & kUndefA); return;
    case kPop: Pop(); return;
    case kAdd:
        if (AddOverflows(b, a, b + a)) error_ = true;
        return Binary(b + a);
    case kSub:
        if (SubOverflows(b, a, b - a)) error_ = true;
        return Binary(b - a);
    case kDiff: return Binary(b - a);
    case kProd: return Binary(b * a);
    case kAnd: return Binary(b & a);
    case kOr: return Binary(b | a);
    case kXor: return Binary(b ^ a);
    case kNot: r_.a = ~a; return;
    case kShl: return Binary(Shift(true));
    case kShr: return Binary(Shift(false));
    case kGt: return Binary(static_cast<std::int32_t>(b) > static_cast<std::int32_t>(a) ? 1 : 0);
    case kGtu: return Binary(b > a ? 1 : 0);
    case kMint: Push(0x80000000u); return;
    case kBsub: return Binary(a + b);
    case kWsub: return Binary(a + 4 * b);
    case kSsub: return Binary(a + 2 * b);
    case kLdpi: r_.a = next + a; return;
    case kLb:
    case kDevlb: r_.a = LoadByte(Address(a, kUndefA)); return;
    case kLs:
    case kDevls: r_.a = LoadHalf(Address(a, kUndefA)); return;
    case kLsx: r_.a = static_cast<std::uint32_t>(static_cast<std::int16_t>(LoadHalf(Address(a, kUndefA)))); return;
    case kDevlw: r_.a = LoadWord(Address(a, kUndefA)); return;
    case kSb:
    case kDevsb:
        StoreByte(Address(a, kUndefA), static_cast<std::uint8_t>(b), dataUndefined);
        return AfterStore();
    case kSs:
    case kDevss:
        StoreHalf(Address(a, kUndefA), static_cast<std::uint16_t>(b), dataUndefined);
        return AfterStore();
    case kDevsw:
        StoreWord(Address(a, kUndefA), b, dataUndefined);
        return AfterStore();
    case kGcall:
        if (undef_ & kUndefA) Note(Event::UndefinedTarget, a);
        r_.iptr = a;
        r_.a = next;
        undef_ &= ~kUndefA;
        return;
    case kRet:
        r_.iptr = LoadWord(r_.wptr);
        r_.wptr += 16;
        return;
    case kNop: return;
    default:
        if (Extended(operation)) return;
        stopped_ = true;
        r_.iptr = start_;
        Note(Event::UnknownInstruction, operation);
        return;
    }
}

// A := low and B := high of a double-length result of A, B and C; C undefined.
void St20Cpu::Double(std::uint32_t low, std::uint32_t high) {
    const unsigned resultUndefined = (undef_ & (kUndefA | kUndefB | kUndefC)) ? kUndefA | kUndefB : 0;
    r_.a = low;
    r_.b = high;
    undef_ = resultUndefined | kUndefC;
}

// A check: the error flag when it fails, and B moves up into A.
void St20Cpu::Check(bool fails) {
    if (fails) error_ = true;
    Pop();
}

std::uint32_t St20Cpu::Timer() const {
    const std::uint64_t now = clock_ ? clock_->instructions + (executed_ - runStart_) : executed_;
    return static_cast<std::uint32_t>(now / kInstructionsPerTick) + timerOffset_;
}

// The block copy moves bytes one by one from C to B, ascending: the documents leave
// overlapping blocks open, and a count above 2^31 (negative) moves nothing.
void St20Cpu::Move() {
    const std::uint32_t count = r_.a;
    const std::uint32_t to = Address(r_.b, kUndefB), from = Address(r_.c, kUndefC);
    Touch();
    if (static_cast<std::int32_t>(count) > 0) {
        for (std::uint32_t i = 0; i < count; ++i) StoreByte(to + i, LoadByte(from + i), false);
    }
    undef_ = kUndefA | kUndefB | kUndefC;
}

// The loop end: B points at the index and the count; while the count stays above 0 the
// index steps and the loop jumps A bytes back from the next instruction.
void St20Cpu::LoopEnd() {
    const std::uint32_t block = Address(r_.b, kUndefB);
    const std::uint32_t count = LoadWord(block + 4) - 1;
    StoreWord(block + 4, count, false);
    if (static_cast<std::int32_t>(count) > 0) {
        StoreWord(block, LoadWord(block) + 1, false);
        r_.iptr -= r_.a;
        jumpedBack_ = r_.iptr <= start_;
    }
    undef_ = kUndefA | kUndefB | kUndefC;
}

bool St20Cpu::Extended(std::uint32_t operation) {
    const std::uint32_t a = r_.a, b = r_.b, c = r_.c, carry = r_.c & 1;
    const std::int32_t sa = static_cast<std::int32_t>(a), sb = static_cast<std::int32_t>(b);
    const std::uint64_t wide = (static_cast<std::uint64_t>(c) << 32) | b;
    switch (operation) {
    case kSum: Binary(b + a); return true;
    case kMul: {
        const std::int64_t product = static_cast<std::int64_t>(sb) * sa;
        if (product != static_cast<std::int32_t>(product)) error_ = true;
        Binary(b * a);
        return true;
    }
    case kDiv:
    case kRem: {
        const bool fails = a == 0 || (sa == -1 && b == 0x80000000u);
        if (fails) error_ = true;
        Binary(fails ? 0 : static_cast<std::uint32_t>(operation == kDiv ? sb / sa : sb % sa));
        if (fails) undef_ |= kUndefA;
        return true;
    }
    case kLadd:
    case kLsub: {
        const std::int64_t exact = operation == kLadd ? std::int64_t{sb} + sa + carry : std::int64_t{sb} - sa - carry;
        if (exact != static_cast<std::int32_t>(exact)) error_ = true;
        Double(static_cast<std::uint32_t>(exact), 0);
        undef_ |= kUndefB;
        return true;
    }
    case kLsum: {
        const std::uint64_t total = std::uint64_t{b} + a + carry;
        Double(static_cast<std::uint32_t>(total), static_cast<std::uint32_t>(total >> 32));
        return true;
    }
    case kLdiff: {
        const std::uint64_t total = std::uint64_t{b} - a - carry;
        Double(static_cast<std::uint32_t>(total), static_cast<std::uint32_t>(total >> 32) & 1);
        return true;
    }
    case kLmul: {
        const std::uint64_t total = std::uint64_t{b} * a + c;
        Double(static_cast<std::uint32_t>(total), static_cast<std::uint32_t>(total >> 32));
        return true;
    }
    case kLdiv: {
        // The quotient must fit a word; when it does not, the flag is set and both are undefined.
        const bool fails = c >= a;
        if (fails) error_ = true;
        Double(fails ? 0 : static_cast<std::uint32_t>(wide / a), fails ? 0 : static_cast<std::uint32_t>(wide % a));
        if (fails) undef_ |= kUndefA | kUndefB;
        return true;
    }
    case kLshl:
    case kLshr: {
        if (undef_ & kUndefA) Note(Event::UndefinedShift, a);
        const std::uint64_t shifted = a >= 64 ? 0 : operation == kLshl ? wide << a
                                                                       : wide >> a;
        Double(static_cast<std::uint32_t>(shifted), static_cast<std::uint32_t>(shifted >> 32));
        return true;
    }
    case kNorm: {
        std::uint64_t value = (static_cast<std::uint64_t>(b) << 32) | a;
        std::uint32_t places = 0;
        if (value == 0) places = 64;
        while (value != 0 && (value >> 63) == 0) value <<= 1, ++places;
        r_.a = static_cast<std::uint32_t>(value);
        r_.b = static_cast<std::uint32_t>(value >> 32);
        r_.c = places;
        undef_ = (undef_ & (kUndefA | kUndefB)) ? kUndefA | kUndefB | kUndefC : 0;
        return true;
    }
    case kCsub0: Check(b >= a); return true;
    case kCcnt1: Check(b == 0 || b > a); return true;
    case kCword: Check(sb >= sa || sb < -sa); return true;
    case kCsngl:
        if (b != (sa < 0 ? 0xFFFFFFFFu : 0)) error_ = true;
        r_.b = c;
        undef_ = (undef_ & kUndefA) | ((undef_ >> 1) & kUndefB) | kUndefC;
        return true;
    case kXword: Binary((b ^ a) - a); return true;
    case kXbword: r_.a = static_cast<std::uint32_t>(static_cast<std::int8_t>(a)); return true;
    case kXsword: r_.a = static_cast<std::uint32_t>(static_cast<std::int16_t>(a)); return true;
    case kLbx:
        r_.a = static_cast<std::uint32_t>(static_cast<std::int8_t>(LoadByte(Address(a, kUndefA))));
        return true;
    case kXdble:
        r_.c = b;
        r_.b = sa < 0 ? 0xFFFFFFFFu : 0;
        undef_ = (undef_ & kUndefA) | ((undef_ & kUndefA) << 1) | ((undef_ & kUndefB) << 1);
        return true;
    case kBcnt: r_.a = a * 4; return true;
    case kWcnt:
        Push(static_cast<std::uint32_t>(sa >> 2), undef_ & kUndefA);
        r_.b = a & 3;
        return true;
    case kBitcnt: Binary(static_cast<std::uint32_t>(__builtin_popcount(a)) + b); return true;
    case kBitrevword: r_.a = ReverseBits(a); return true;
    case kBitrevnbits:
        if (a > 32) Note(Event::ShiftBeyondWord, a);
        Binary(a == 0 || a > 32 ? 0 : ReverseBits(b) >> (32 - a));
        return true;
    case kGajw:
        r_.a = r_.wptr;
        r_.wptr = Aligned(Address(a, kUndefA), 3);
        undef_ &= ~kUndefA;
        return true;
    default: return Process(operation);
    }
}

// The operations on the process's own state: its error flags, priority, timer and loops.
bool St20Cpu::Process(std::uint32_t operation) {
    switch (operation) {
    case kSeterr: error_ = true; return true;
    case kTesterr:
        Push(error_ ? 0 : 1);
        error_ = false;
        return true;
    // The core keeps the halt-on-error flag for testhalterr; setting the error flag never halts it.
    // A loop is replayed from its registers alone, so a change of the flag ends any replay.
    case kClrhalterr:
    case kSethalterr:
        Touch();
        haltOnError_ = operation == kSethalterr;
        return true;
    case kTesthalterr: Push(haltOnError_ ? 1 : 0); return true;
    case kLdpri: Push(kLowPriority); return true;
    case kLdtimer:
        Touch();  // time moves on while a loop's registers repeat: never skip over a read of it
        Push(Timer());
        return true;
    case kSttimer:
        timerOffset_ = 0;
        timerOffset_ = r_.a - Timer();
        Pop();
        return true;
    case kMove: Move(); return true;
    case kLend: LoopEnd(); return true;
    default: return false;
    }
}

}  // namespace orbvex::sim
