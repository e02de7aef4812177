/* SPDX-License-Identifier: GPL-2.0-or-later */
#pragma once
/* The probe protocol's numbers (docs/PROBE.md), written once for both ends: the host's
   C++ (probe/probe_wire.h) and the board's C firmware (probe/avr/) include this. */

#define PROBE_START_BYTE 0xA5
#define PROBE_PROTOCOL_VERSION 1
#define PROBE_HEADER_BYTES 6 /* start, version, sequence, type, body length */
#define PROBE_CHECK_BYTES 2
#define PROBE_MAX_REQUEST_BODY 262 /* a 252-byte block write */
#define PROBE_MAX_ANSWER_BODY 261  /* a 256-byte block read */

/* Message types; an answer carries its request's type with PROBE_ANSWER_BIT set. */
#define PROBE_HELLO 0x01
#define PROBE_CLOCK 0x02
#define PROBE_RESET 0x03
#define PROBE_RAW 0x04
#define PROBE_READ_BLOCK 0x10
#define PROBE_READ_WORD 0x11
#define PROBE_WRITE_BLOCK 0x12
#define PROBE_WRITE_WORD 0x13
#define PROBE_ANSWER_BIT 0x80
#define PROBE_ERROR 0xFF

/* Error answers' codes. */
#define PROBE_DAMAGED 1
#define PROBE_OTHER_VERSION 2
#define PROBE_UNKNOWN_REQUEST 3
#define PROBE_BAD_REQUEST 4
#define PROBE_BUSY 5
#define PROBE_CABLE_LOST 6
#define PROBE_UNSUPPORTED 7

/* HELLO's ability bits. */
#define PROBE_CAN_RAW 1
#define PROBE_CAN_RESET 2
#define PROBE_CAN_CLOCK 4
#define PROBE_CAN_MESSAGES 8

/* How the board's firmware names itself in HELLO: its name, a space and its version. A
   host compares the version it hears with the one it was built with, so that a board
   left on an older firmware is told apart from one running another program. Raise the
   version with any change a host could notice. */
#define PROBE_FIRMWARE_NAME "orbvex_probe_atmega328p"
#define PROBE_FIRMWARE_VERSION 1
#define PROBE_TEXT_(x) #x
#define PROBE_TEXT(x) PROBE_TEXT_(x)
#define PROBE_FIRMWARE_FULL_NAME PROBE_FIRMWARE_NAME " " PROBE_TEXT(PROBE_FIRMWARE_VERSION)
