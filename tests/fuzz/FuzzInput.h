#pragma once

// Reads a fuzzer's input from the front, field by field. Every read past the
// end gives zeros (or fewer bytes), so any input is a valid one, and the seed
// files stay readable: the fields come in the order they are written.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// For the second readings that the targets check against: they are not what
// is fuzzed, so they carry no coverage instrumentation, which keeps both the
// fuzzer's guidance and its speed on the code under test.
#define FUZZ_MODEL __attribute__((no_sanitize("coverage")))

// Bytes of the input, in place: a view costs no copy and no allocation.
struct ByteSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

FUZZ_MODEL inline bool operator==(ByteSpan a, ByteSpan b) {
    if (a.size != b.size) {
        return false;
    }
    for (size_t i = 0; i < a.size; ++i) {
        if (a.data[i] != b.data[i]) {
            return false;
        }
    }
    return true;
}

FUZZ_MODEL inline bool operator!=(ByteSpan a, ByteSpan b) {
    return !(a == b);
}

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Left() const { return size_ - position_; }

    uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }

    uint16_t BigEndian16() {
        const uint16_t high = Byte();
        return static_cast<uint16_t>((high << 8) | Byte());
    }

    uint32_t LittleEndian32() {
        uint32_t value = 0;
        for (unsigned shift = 0; shift < 32; shift += 8) {
            value |= static_cast<uint32_t>(Byte()) << shift;
        }
        return value;
    }

    // Up to `count` bytes, fewer when the input ends first.
    std::vector<uint8_t> Bytes(size_t count) {
        const size_t taken = count < Left() ? count : Left();
        std::vector<uint8_t> bytes(data_ + position_, data_ + position_ + taken);
        position_ += taken;
        return bytes;
    }

    std::vector<uint8_t> Rest() { return Bytes(Left()); }

    // As Bytes, without the copy: the view lives as long as the input.
    ByteSpan View(size_t count) {
        const size_t taken = count < Left() ? count : Left();
        const ByteSpan view{data_ + position_, taken};
        position_ += taken;
        return view;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// An invariant that does not hold is a finding: say which, and stop so that
// libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
