#pragma once

// Room of exactly the size the code under test is given, without a malloc
// and a free per input, which under AddressSanitizer cost more than some of
// the parsers do. The room is one fixed block for the whole run; the
// sanitizer is told that only the bytes taken may be touched, so a read or a
// write past either end is caught as it is in a heap block of that size
// (reported as a use-after-poison). The fuzz build always has
// AddressSanitizer; without it nothing is caught.

#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>

template <size_t kLargest>
class ExactRoom {
public:
    // The only `size` bytes (at most kLargest) that may be touched until the
    // next Take; what they hold is left from before.
    uint8_t* Take(size_t size) {
        ASAN_POISON_MEMORY_REGION(block_, sizeof block_);
        // The start is aligned to the sanitizer's granule and the end is
        // exact, so neither side has a byte to spare.
        uint8_t* room = block_ + kGuard;
        ASAN_UNPOISON_MEMORY_REGION(room, size < kLargest ? size : kLargest);
        return room;
    }

private:
    // As wide as a heap block's redzone, on both sides.
    static constexpr size_t kGuard = 64;
    alignas(kGuard) uint8_t block_[kGuard + kLargest + kGuard];
};
