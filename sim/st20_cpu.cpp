#include "sim/st20_cpu.h"

namespace orbvex::sim {
namespace {

// Direct functions: the high nibble of every instruction byte.
enum Function : unsigned {
    kJ = 0x0, kLdlp = 0x1, kPfix = 0x2, kLdnl = 0x3, kLdc = 0x4, kLdnlp = 0x5, kNfix = 0x6, kLdl = 0x7,
    kAdc = 0x8, kCall = 0x9, kCj = 0xA, kAjw = 0xB, kEqc = 0xC, kStl = 0xD, kStnl = 0xE, kOpr = 0xF,
};

// Operations: the operand of opr.
enum Operation : std::uint32_t {
    kRev = 0x00, kLb = 0x01, kBsub = 0x02, kDiff = 0x04, kAdd = 0x05, kGcall = 0x06, kProd = 0x08,
    kGt = 0x09, kWsub = 0x0A, kSub = 0x0C, kLdpi = 0x1B, kRet = 0x20, kNot = 0x32, kXor = 0x33,
    kSb = 0x3B, kShr = 0x40, kShl = 0x41, kMint = 0x42, kAnd = 0x46, kOr = 0x4B, kDup = 0x5A,
    kGtu = 0x5F, kPop = 0x79, kSsub = 0xC1, kSs = 0xC8, kLs = 0xCA, kDevlb = 0xF0, kDevsb = 0xF1,
    kDevls = 0xF2, kDevss = 0xF3, kDevlw = 0xF4, kDevsw = 0xF5, kLsx = 0xF9,
    kNop = 0xFFFFFFC0,  // table number 0x30, reached through nfix
};

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
    const std::uint64_t first = executed_;
    const std::uint64_t end = executed_ + count;
    if (period_ != 0) executed_ += count / period_ * period_;
    while (executed_ < end && !stopped_) {
        Step();
        if (stopped_) break;
        ++executed_;
        if (jumpedBack_ && LoopClosed()) executed_ += (end - executed_) / period_ * period_;
    }
    return executed_ - first;
}

// Called after a backward jump: true when the state is the one at the previous backward
// jump and nothing but registers changed in between, so the round repeats from here on.
bool St20Cpu::LoopClosed() {
    jumpedBack_ = false;
    const bool same = loopValid_ && !effect_ && loop_.r.a == r_.a && loop_.r.b == r_.b && loop_.r.c == r_.c &&
                      loop_.r.wptr == r_.wptr && loop_.r.iptr == r_.iptr && loop_.r.oreg == r_.oreg &&
                      loop_.undef == undef_ && loop_.error == error_;
    if (same) period_ = executed_ - loopAt_;
    loop_ = {r_, undef_, error_};
    loopAt_ = executed_;
    loopValid_ = true;
    effect_ = false;
    return same;
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
        stopped_ = true;
        r_.iptr = start_;
        Note(Event::UnknownInstruction, operation);
        return;
    }
}

}  // namespace orbvex::sim
