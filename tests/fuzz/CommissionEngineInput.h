#pragma once

// The input of the commission_engine target, shared with the program that
// writes its seeds from runs in memory (commission_engine_seeds.cpp).
//
// Options (7 bytes): setupsAtOnce; the settle time-out in ms (2 bytes,
// big-endian, at most kLongestSettleMs); flags (kAwaitReturn, kWatch,
// kPortClosed); the watch's time-out and how long another program holds the
// port from the start, each in kOptionUnitMs (0: never, not at all); the
// interfaces whose setup datagrams go out nowhere (bit n: interface n).
//
// Then events, each a delay byte (up to kLargestExactDelay in ms, beyond in
// steps of kCoarseDelayMs), a kind byte (kKinds[byte & 15]) and the kind's
// fields:
//   Answer        selector, interface; below kRaw in the selector: task
//                 (selector & kTaskBits) with one field changed (a byte: the
//                 field in its low 3 bits, kChanges, the change above);
//                 with kRaw: a length (at most the largest record) and the
//                 record's bytes, its MAC replaced by the task's with kTaskMac
//   Confirmation  selector: below kRaw task (selector & kTaskBits), else a
//                 MAC of 6 bytes follows
//   IdWritten     task (its write, or the next task's that is under way), the
//                 channel code (signed), read-back mode (ReadBack), an ID
//   Add           flags (kSetupNeeded, kHasId, kDirect, interfaces above
//                 kInterfaceCountShift), MAC (6), IP, mask, gateway (4 each,
//                 big-endian), port (2), baud code, ID, the interfaces (a byte
//                 each), directTo (4, with kDirect)
//   Segment       the port busy for this many kOptionUnitMs from now, and the
//                 interfaces that fail from now
//   Wait, Stop, EndWatch, SegmentChanged: nothing more
// Every field read past the end is zero (FuzzInput.h).

#include <cstddef>
#include <cstdint>

namespace engine_input {

constexpr size_t kMostTasks = 16;
constexpr size_t kMostInterfaces = 7;
constexpr int kLongestSettleMs = 15000;
constexpr int kOptionUnitMs = 100;
constexpr uint8_t kLargestExactDelay = 0xBF;
constexpr int kCoarseDelayMs = 250;

constexpr uint8_t kAwaitReturn = 1;
constexpr uint8_t kWatch = 2;
constexpr uint8_t kPortClosed = 4;

enum Kind : uint8_t {
    Answer,
    Confirmation,
    IdWritten,
    Add,
    Wait,
    Stop,
    EndWatch,
    SegmentChanged,
    Segment
};
// Answers are the most of what a run hears; a stop ends it, so it is rare.
constexpr Kind kKinds[16] = {
    Answer, Answer, Answer, Answer, Confirmation, Confirmation, IdWritten,      IdWritten,
    Add,    Add,    Wait,   Wait,   Stop,         EndWatch,     SegmentChanged, Segment};

constexpr uint8_t kRaw = 0x80;
constexpr uint8_t kTaskMac = 0x40;
constexpr uint8_t kTaskBits = 0x1F;

// Which field of a task's own record an Answer changes (the low 3 bits).
enum Change : uint8_t { None, Ip, Mask, Gateway, Port, Baud, Version, Cut };

enum ReadBack : uint8_t { NoReadBack, AskedId, GivenId };

constexpr uint8_t kSetupNeeded = 1;
constexpr uint8_t kHasId = 2;
constexpr uint8_t kDirect = 4;
constexpr unsigned kInterfaceCountShift = 4;

// The delay a byte stands for.
constexpr int DelayMs(uint8_t code) {
    return code <= kLargestExactDelay ? code : (code - kLargestExactDelay) * kCoarseDelayMs;
}

}  // namespace engine_input
