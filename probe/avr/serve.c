// SPDX-License-Identifier: GPL-2.0-or-later
#include "serve.h"

#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/wdt.h>
#include <string.h>

#include "dcu.h"
#include "jtag.h"
#include "uart.h"

#include "crc16_table.inc"

enum {
    kStartByte = PROBE_START_BYTE,
    kHeader = PROBE_HEADER_BYTES,
    kCheck = PROBE_CHECK_BYTES,
    kMaxBody = PROBE_MAX_REQUEST_BODY,
    kMaxRaw = 512,
    kWindow = 3,                  // requests sent ahead
    kBuffer = UART_RX_SIZE - 24,  // bytes of them: the ring, less a margin
    kQuietTicks = 1563,           // 100 ms of the 15625 Hz timer
};

enum { kHello = PROBE_HELLO,
       kClock = PROBE_CLOCK,
       kReset = PROBE_RESET,
       kRaw = PROBE_RAW,
       kReadBlock = PROBE_READ_BLOCK,
       kReadWord = PROBE_READ_WORD,
       kWriteBlock = PROBE_WRITE_BLOCK,
       kWriteWord = PROBE_WRITE_WORD,
       kAnswer = PROBE_ANSWER_BIT,
       kError = PROBE_ERROR };

enum { kDamaged = PROBE_DAMAGED,
       kOtherVersion = PROBE_OTHER_VERSION,
       kUnknownType = PROBE_UNKNOWN_REQUEST,
       kBadField = PROBE_BAD_REQUEST };

// Cycles a clock costs besides its spins, at the least: the rate named from them is
// never above the one the pins see.
#define CLOCK_CYCLES 8UL
#define SPIN_CYCLES 6UL  // two spins of three cycles per round

static uint8_t synced;  // a whole request has come at this rate since the line was last given up
static uint8_t sequence;
static uint16_t answer_check;
static uint16_t body_left;

// ---- the answer, streamed with its check ----

// A table step: a byte costs a dozen cycles, not the sixty of a bitwise loop, which
// counts at a byte per ten JTAG clocks.
static inline uint16_t crc_step(uint16_t crc, uint8_t byte) {
    return (uint16_t)((crc << 8) ^ pgm_read_word(&kCrcTable[(uint8_t)(crc >> 8) ^ byte]));
}

static void put_checked(uint8_t byte) {
    answer_check = crc_step(answer_check, byte);
    uart_put(byte);
}

static void begin_answer(uint8_t type, uint16_t length) {
    uart_put(kStartByte);
    answer_check = 0xFFFF;
    put_checked(PROBE_PROTOCOL_VERSION);
    put_checked(sequence);
    put_checked(type);
    put_checked((uint8_t)length);
    put_checked((uint8_t)(length >> 8));
}

static void put_u16(uint16_t value) {
    put_checked((uint8_t)value);
    put_checked((uint8_t)(value >> 8));
}

static void put_u32(uint32_t value) {
    put_u16((uint16_t)value);
    put_u16((uint16_t)(value >> 16));
}

static void end_answer(void) {
    const uint16_t check = answer_check;
    uart_put((uint8_t)check);
    uart_put((uint8_t)(check >> 8));
}

static void error_answer(uint8_t code, const char* text_P) {
    const uint8_t length = (uint8_t)strlen_P(text_P);
    begin_answer(kError, (uint16_t)(1 + length));
    put_checked(code);
    for (uint8_t i = 0; i < length; ++i) put_checked(pgm_read_byte(text_P + i));
    end_answer();
}

// ---- the request's body, read in place from the receive ring ----

static uint8_t get_u8(void) {
    --body_left;
    return uart_take();
}

static uint16_t get_u16(void) {
    const uint16_t low = get_u8();
    return (uint16_t)(low | ((uint16_t)get_u8() << 8));
}

static uint32_t get_u32(void) {
    const uint32_t low = get_u16();
    return low | ((uint32_t)get_u16() << 16);
}

// ---- the line ----

static void timer_restart(void) { TCNT1 = 0; }
static uint8_t timer_quiet(void) { return TCNT1 >= kQuietTicks; }

// Waits until count bytes are in; false when the line went quiet for 100 ms first.
static uint8_t await_bytes(uint16_t count) {
    uint16_t seen = uart_rx_count();
    timer_restart();
    while (seen < count) {
        wdt_reset();
        const uint16_t now = uart_rx_count();
        if (now != seen) {
            seen = now;
            timer_restart();
        } else if (timer_quiet()) {
            return 0;
        }
    }
    return 1;
}

// Throws away what comes until the line has been quiet for 100 ms.
static void discard_until_quiet(void) {
    timer_restart();
    while (!timer_quiet()) {
        wdt_reset();
        const uint16_t count = uart_rx_count();
        if (count) {
            uart_skip(count);
            timer_restart();
        }
    }
}

// A damaged request. Until one has come whole, the host may be speaking at another
// rate: the probe says nothing and listens at the next one (the host says HELLO again
// every 250 ms). Once in step, the host hears why.
static void damaged(uint8_t code, const char* text_P) {
    if (!synced) {
        discard_until_quiet();
        uart_next_baud();
        return;
    }
    error_answer(code, text_P);
    discard_until_quiet();
    synced = 0;
    jtag_rest &= (uint8_t)~PIN_LED;
}

// ---- the requests ----

static void hello(void) {
    static const char name[] PROGMEM = PROBE_FIRMWARE_FULL_NAME;
    const uint8_t length = (uint8_t)strlen_P(name);
    begin_answer(kHello | kAnswer, (uint16_t)(14 + length));
    put_checked(PROBE_PROTOCOL_VERSION);
    put_checked(kWindow);
    put_u16(kBuffer);
    put_u16(kMaxBody);
    put_u16(kMaxRaw);
    put_checked(PROBE_CAN_RAW | PROBE_CAN_RESET | PROBE_CAN_CLOCK | PROBE_CAN_MESSAGES);
    put_u32(jtag_delay == 0 ? 0 : F_CPU / (CLOCK_CYCLES + SPIN_CYCLES * jtag_delay));
    put_checked(length);
    for (uint8_t i = 0; i < length; ++i) put_checked(pgm_read_byte(name + i));
    end_answer();
}

static uint32_t clock_rate(void) { return F_CPU / (CLOCK_CYCLES + SPIN_CYCLES * jtag_delay); }

static void clock(void) {
    const uint32_t asked = get_u32();
    uint32_t rounds = 0;
    if (asked != 0 && asked < F_CPU / CLOCK_CYCLES) {
        const uint32_t cycles = (F_CPU + asked - 1) / asked;
        rounds = (cycles - CLOCK_CYCLES + SPIN_CYCLES - 1) / SPIN_CYCLES;
        if (rounds > 255) rounds = 255;
    }
    jtag_delay = (uint8_t)rounds;
    begin_answer(kClock | kAnswer, 4);
    put_u32(clock_rate());
    end_answer();
}

static void reset(void) {
    const uint8_t level = get_u8();
    const uint16_t hold = get_u16();
    if (level < 2) jtag_set_reset(level);
    delay_ms(hold);
    begin_answer(kReset | kAnswer, 0);
    end_answer();
}

// The three bit fields lie in the ring one after the other; bit i of a field is read in
// place, so a run needs no buffer of its own.
static uint8_t field_bit(uint16_t field, uint16_t i) { return (uint8_t)((uart_peek(field + (i >> 3)) >> (i & 7u)) & 1u); }

static void raw(uint16_t clocks, uint8_t flags) {
    const uint16_t bytes = (uint16_t)((clocks + 7u) >> 3);
    uint16_t samples = (flags & 1u) ? 1u : 0u;
    for (uint16_t i = 0; i < clocks; ++i) samples += field_bit((uint16_t)(2u * bytes), i);
    begin_answer(kRaw | kAnswer, (uint16_t)((samples + 7u) >> 3));
    uint8_t packed = 0, count = 0;
    for (uint16_t i = 0; i < clocks; ++i) {
        const uint8_t lines = (uint8_t)((field_bit(0, i) ? PIN_TMS : 0) | (field_bit(bytes, i) ? PIN_TDI : 0));
        const uint8_t capture = field_bit((uint16_t)(2u * bytes), i);
        const uint8_t tdo = jtag_step(lines, capture);
        if (capture) {
            packed |= (uint8_t)(tdo << count);
            if (++count == 8) {
                put_checked(packed);
                packed = 0;
                count = 0;
            }
        }
        if ((i & 63u) == 0) wdt_reset();
    }
    if (flags & 1u) {
        packed |= (uint8_t)(((PINB & PIN_TDO) ? 1u : 0u) << count);
        ++count;
    }
    if (count) put_checked(packed);
    end_answer();
}

// The message head: the selection and the start wait's budget. The host keeps the
// selection, as its own engine would: the DCU is selected exactly when it says so.
static void message_head(void) {
    const uint8_t flags = get_u8();
    const int32_t limit = (int32_t)get_u32();
    dcu_start_wait_limit = limit;
    jtag_selected = (flags & 1u) ? 0 : 1;
    jtag_select_dcu();
}

static uint8_t word_bytes[4];
static uint8_t word_count;
static uint8_t header_sent;
static uint16_t slots;  // data bytes the answer carries

static void stream_byte(uint8_t byte) { put_checked(byte); }
static void keep_word_byte(uint8_t byte) {
    if (word_count < 4) word_bytes[word_count++] = byte;
}

// The answer's header goes out once the length byte is in: slots follow only when the
// request succeeded, and they stream as the DCU sends them.
static void read_started(uint8_t request_ok, uint8_t length_byte, uint16_t n) {
    slots = request_ok ? n : 0u;
    begin_answer(kReadBlock | kAnswer, (uint16_t)(1u + slots + 4u));
    put_checked(length_byte);
    header_sent = 1;
}

static void read_block(void) {
    message_head();
    const uint32_t address = get_u32();
    uint16_t received = 0;
    header_sent = 0;
    const uint16_t result = dcu_read_block(address, read_started, stream_byte, &received);
    if (!header_sent) read_started(0, 0, 0);  // the drain gave up: nothing was asked
    // Slots the DCU did not fill read 0.
    for (uint16_t i = received; i < slots; ++i) put_checked(0);
    put_u16(received);
    put_u16(result);
    end_answer();
}

static void no_header(uint8_t request_ok, uint8_t length_byte, uint16_t n) {
    (void)request_ok;
    (void)length_byte;
    (void)n;
}

static void read_word(void) {
    message_head();
    const uint32_t address = get_u32();
    uint16_t received = 0;
    word_count = 0;
    memset(word_bytes, 0, sizeof word_bytes);
    const uint8_t ok = dcu_read_block(address, no_header, keep_word_byte, &received) != 0;
    begin_answer(kReadWord | kAnswer, 5);
    put_checked(ok);
    for (uint8_t i = 0; i < 4; ++i) put_checked(ok ? word_bytes[i] : 0);
    end_answer();
}

// A block's data, out of the ring into one piece: the sends then read it at a cycle or
// two a byte.
static uint8_t block_data[252];

static void write_block(uint8_t length) {
    message_head();
    const uint32_t address = get_u32();
    get_u8();  // the length, checked already
    for (uint8_t i = 0; i < length; ++i) block_data[i] = uart_peek(i);
    uart_skip(length);
    body_left = (uint16_t)(body_left - length);
    const uint8_t result = dcu_write_block(address, block_data, length);
    begin_answer(kWriteBlock | kAnswer, 1);
    put_checked(result);
    end_answer();
}

static void write_word(void) {
    message_head();
    const uint32_t address = get_u32();
    const uint32_t value = get_u32();
    const uint8_t ok = dcu_write_word(address, value);
    begin_answer(kWriteWord | kAnswer, 1);
    put_checked(ok);
    end_answer();
}

// Whether the body's length fits its type, looking into the body where the length
// depends on it; 0 with a reason when not.
static const char* body_misfits(uint8_t type, uint16_t length) {
    static const char kLength[] PROGMEM = "the body's length does not fit the request";
    static const char kLevel[] PROGMEM = "reset level out of range";
    static const char kRun[] PROGMEM = "raw run longer than 512 clocks";
    static const char kBlock[] PROGMEM = "write longer than 252 bytes";
    switch (type) {
    case kHello: return length == 0 ? 0 : kLength;
    case kClock: return length == 4 ? 0 : kLength;
    case kReset:
        if (length != 3) return kLength;
        return uart_peek(kHeader) <= 2 ? 0 : kLevel;
    case kRaw: {
        if (length < 3) return kLength;
        const uint16_t clocks = (uint16_t)(uart_peek(kHeader) | (uart_peek(kHeader + 1) << 8));
        if (clocks > kMaxRaw) return kRun;
        return length == 3u + 3u * ((clocks + 7u) >> 3) ? 0 : kLength;
    }
    case kReadBlock:
    case kReadWord: return length == 9 ? 0 : kLength;
    case kWriteBlock: {
        if (length < 10) return kLength;
        const uint8_t count = uart_peek(kHeader + 9);
        if (count > 252) return kBlock;
        return length == 10u + count ? 0 : kLength;
    }
    case kWriteWord: return length == 13 ? 0 : kLength;
    }
    return 0;
}

static uint8_t known(uint8_t type) {
    return type == kHello || type == kClock || type == kReset || type == kRaw || (type >= kReadBlock && type <= kWriteWord);
}

static void run(uint8_t type, uint16_t length) {
    switch (type) {
    case kHello: hello(); break;
    case kClock: clock(); break;
    case kReset: reset(); break;
    case kRaw: {
        const uint16_t clocks = get_u16();
        const uint8_t flags = get_u8();
        raw(clocks, flags);
        break;
    }
    case kReadBlock: read_block(); break;
    case kReadWord: read_word(); break;
    case kWriteBlock: write_block((uint8_t)(length - 10u)); break;
    case kWriteWord: write_word(); break;
    }
}

void serve_init(void) {
    // Timer 1 counts at 16 MHz / 1024 for the line's quiet spells.
    TCCR1A = 0;
    TCCR1B = _BV(CS12) | _BV(CS10);
}

void serve_one(void) {
    // Idle between requests: asleep, and the watchdog with it (nothing can lock up here).
    wdt_disable();
    while (uart_rx_count() == 0) uart_sleep();
    wdt_enable(WDTO_500MS);

    if (uart_broken() || uart_peek(0) != kStartByte) {
        static const char kStart[] PROGMEM = "no start byte";
        sequence = 0;
        damaged(kDamaged, kStart);
        return;
    }
    if (!await_bytes(kHeader)) {  // a partial request is forgotten
        uart_skip(uart_rx_count());
        return;
    }
    sequence = uart_peek(2);
    if (uart_peek(1) != PROBE_PROTOCOL_VERSION) {
        static const char kVersion[] PROGMEM = "this probe speaks protocol version 1";
        if (!synced) {
            damaged(kOtherVersion, kVersion);
            return;
        }
        error_answer(kOtherVersion, kVersion);
        discard_until_quiet();
        return;
    }
    const uint8_t type = uart_peek(3);
    const uint16_t length = (uint16_t)(uart_peek(4) | (uart_peek(5) << 8));
    if (length > kMaxBody) {
        static const char kLong[] PROGMEM = "body longer than 262 bytes";
        error_answer(kBadField, kLong);
        discard_until_quiet();
        return;
    }
    if (!await_bytes((uint16_t)(kHeader + length + kCheck))) {
        uart_skip(uart_rx_count());
        return;
    }
    uint16_t check = 0xFFFF;
    for (uint16_t i = 1; i < kHeader + length; ++i) check = crc_step(check, uart_peek(i));
    const uint16_t sent = (uint16_t)(uart_peek(kHeader + length) | (uart_peek(kHeader + length + 1) << 8));
    if (check != sent || uart_broken()) {
        static const char kCheckText[] PROGMEM = "check does not match";
        damaged(kDamaged, kCheckText);
        return;
    }
    synced = 1;
    jtag_rest |= PIN_LED;
    if (!known(type)) {
        static const char kType[] PROGMEM = "unknown request type";
        error_answer(kUnknownType, kType);
    } else {
        const char* misfit = body_misfits(type, length);
        if (misfit) {
            error_answer(kBadField, misfit);
        } else {
            uart_skip(kHeader);
            body_left = length;
            run(type, length);
            uart_skip((uint16_t)(body_left + kCheck));
            return;
        }
    }
    uart_skip((uint16_t)(kHeader + length + kCheck));
}
