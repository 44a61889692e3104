#include "sim/SimFrame.h"

namespace {

// Request offsets.
constexpr size_t kRequestSequenceAt = 1;
constexpr size_t kRequestAddressAt = 2;
constexpr size_t kRequestFunctionAt = 6;
constexpr size_t kRequestCheckAt = 7;
constexpr size_t kRequestShortCountAt = 8;
constexpr size_t kRequestShortHeader = 9;  // start marker up to the short count
constexpr size_t kRequestLongCountAt = 9;
constexpr size_t kRequestLongHeader = 11;  // start marker up to the long count

// Reply offsets.
constexpr size_t kReplyAnyAt = 1;
constexpr size_t kReplyAddressAt = 2;
constexpr size_t kReplySequenceAt = 6;
constexpr size_t kReplyResultAt = 7;
constexpr size_t kReplyCheckAt = 8;
constexpr size_t kReplyShortCountAt = 9;
constexpr size_t kReplyShortHeader = 10;
constexpr size_t kReplyLongHeader = 12;

constexpr size_t kAddressBytes = 4;
constexpr size_t kCrcBytes = 2;
constexpr size_t kTrailerBytes = kCrcBytes + 1;  // CRC and end marker
constexpr uint8_t kLongFormMark = 0x00;
constexpr uint32_t kLargestShortCount = 255;
constexpr uint8_t kCheckXor = 0xFF;
// A request frame is at most 4100 bytes long: the long form's 11 header
// bytes, the count, the CRC and the end marker.
constexpr uint32_t kMostRequestCount = 4100 - kRequestLongHeader - kTrailerBytes;

constexpr uint16_t kCrcPolynomial = 0xA001;
// Reply start markers of both marker rows, kept out of noise.
constexpr uint8_t kOtherRowReplyStart = 0x9A;
constexpr uint8_t kNoiseStandIn = 0x55;

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < kAddressBytes; ++i) {
        value |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    }
    return value;
}

void WriteLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < kAddressBytes; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint8_t LowByte(uint32_t value) {
    return static_cast<uint8_t>(value & 0xFF);
}

uint8_t HighByte(uint32_t value) {
    return static_cast<uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

uint16_t SimCrc16Arc(const uint8_t* bytes, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? static_cast<uint16_t>((crc >> 1) ^ kCrcPolynomial)
                                  : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

void SimRequestReader::Feed(const uint8_t* bytes, size_t length,
                            std::vector<SimFrameSeen>* frames) {
    for (size_t i = 0; i < length; ++i) {
        if (pending_.empty() && bytes[i] != simframe::kRequestStart) {
            continue;
        }
        pending_.push_back(bytes[i]);
        SimFrameSeen frame;
        if (TakeFrame(&frame)) {
            frames->push_back(std::move(frame));
            pending_.clear();
        }
    }
}

bool SimRequestReader::TakeFrame(SimFrameSeen* frame) {
    if (pending_.size() < kRequestShortHeader) {
        return false;
    }
    uint32_t count = pending_[kRequestShortCountAt];
    size_t header = kRequestShortHeader;
    uint8_t check = static_cast<uint8_t>(count ^ kCheckXor);
    if (count == kLongFormMark) {
        if (pending_.size() < kRequestLongHeader) {
            return false;
        }
        const uint8_t low = pending_[kRequestLongCountAt];
        const uint8_t high = pending_[kRequestLongCountAt + 1];
        count = low | (static_cast<uint32_t>(high) << 8);
        header = kRequestLongHeader;
        check = static_cast<uint8_t>((low ^ high) ^ kCheckXor);
    }
    // A count that cannot be right gives no length to wait for: the frame
    // ends here, and the next start marker is looked for after it.
    if (pending_[kRequestCheckAt] != check || count == 0 || count > kMostRequestCount) {
        frame->bytes = pending_;
        frame->valid = false;
        return true;
    }
    const size_t total = header + count + kTrailerBytes;
    if (pending_.size() < total) {
        return false;
    }
    frame->bytes = pending_;
    const size_t crcAt = header + count;
    const uint16_t crc = SimCrc16Arc(pending_.data(), crcAt);
    frame->valid = pending_[crcAt] == LowByte(crc) && pending_[crcAt + 1] == HighByte(crc) &&
                   pending_[crcAt + kCrcBytes] == simframe::kEnd;
    SimRequest& request = frame->request;
    request.sequence = pending_[kRequestSequenceAt];
    request.address = ReadLe32(pending_, kRequestAddressAt);
    request.function = pending_[kRequestFunctionAt];
    request.command = pending_[header];
    request.data.assign(pending_.begin() + static_cast<long>(header) + 1,
                        pending_.begin() + static_cast<long>(crcAt));
    return true;
}

std::vector<uint8_t> BuildSimReply(const SimRequest& request, const SimTcpBehaviour& behaviour,
                                   uint8_t result, const std::vector<uint8_t>& data) {
    const uint32_t count =
        behaviour.forceCount ? behaviour.count : static_cast<uint32_t>(data.size());
    const bool longForm = behaviour.forceCount || behaviour.longForm || count > kLargestShortCount;
    const size_t header = longForm ? kReplyLongHeader : kReplyShortHeader;

    std::vector<uint8_t> frame(header, 0);
    frame[0] = simframe::kReplyStart;
    frame[kReplyAnyAt] = request.function;
    WriteLe32(frame, kReplyAddressAt, behaviour.forceAddress ? behaviour.address : request.address);
    frame[kReplySequenceAt] = static_cast<uint8_t>(request.sequence + behaviour.sequenceShift);
    frame[kReplyResultAt] = result;
    if (longForm) {
        frame[kReplyShortCountAt] = kLongFormMark;
        frame[kReplyShortCountAt + 1] = LowByte(count);
        frame[kReplyShortCountAt + 2] = HighByte(count);
        frame[kReplyCheckAt] = static_cast<uint8_t>((LowByte(count) ^ HighByte(count)) ^ kCheckXor);
    } else {
        frame[kReplyShortCountAt] = LowByte(count);
        frame[kReplyCheckAt] = static_cast<uint8_t>(LowByte(count) ^ kCheckXor);
    }
    if (behaviour.badCountCheck) {
        frame[kReplyCheckAt] = static_cast<uint8_t>(~frame[kReplyCheckAt]);
    }
    frame.insert(frame.end(), data.begin(), data.end());

    const uint16_t crc = SimCrc16Arc(frame.data(), frame.size());
    frame.push_back(behaviour.badCrc ? static_cast<uint8_t>(~LowByte(crc)) : LowByte(crc));
    frame.push_back(HighByte(crc));
    frame.push_back(behaviour.endMarker);
    return frame;
}

std::vector<uint8_t> SimReplyData(uint8_t id, uint32_t size) {
    std::vector<uint8_t> data{id};
    for (uint32_t n = 1; n < size; ++n) {
        data.push_back(static_cast<uint8_t>(n & 0xFF));
    }
    return data;
}

uint8_t SimNoiseByte(size_t n) {
    const uint8_t byte = static_cast<uint8_t>(n & 0xFF);
    return byte == simframe::kReplyStart || byte == kOtherRowReplyStart ? kNoiseStandIn : byte;
}
