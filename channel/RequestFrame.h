#pragma once

#include <cstddef>
#include <cstdint>

#include "channel/COM_Class.h"
#include "channel/FrameFormat.h"

class Rc4;

// Request frame layout. The counted region is the command code followed by
// the data; its count (data length + 1) travels in the short form up to 255
// and in the long form above, each form with its own check byte.
//
//   short form                      long form
//   0     start marker              0     start marker
//   1     sequence number           1     sequence number
//   2..5  target address (LE)       2..5  target address (LE)
//   6     function code             6     function code
//   7     count XOR 0xFF            7     (count low XOR count high) XOR 0xFF
//   8     count                     8     0x00, the long-form mark
//   9     command code              9..10 count (LE)
//   10..  data                      11    command code
//                                   12..  data
//   then CRC-16/ARC of every byte before it (LE), then the end marker.
constexpr std::size_t kRequestStartOffset = 0;
constexpr std::size_t kRequestSequenceOffset = 1;
constexpr std::size_t kRequestAddressOffset = 2;
constexpr std::size_t kRequestFunctionOffset = 6;
constexpr std::size_t kRequestCountCheckOffset = 7;
constexpr std::size_t kRequestShortCountOffset = 8;
constexpr std::size_t kRequestShortCommandOffset = 9;
constexpr std::size_t kRequestLongMarkOffset = 8;
constexpr std::size_t kRequestLongCountOffset = 9;
constexpr std::size_t kRequestLongCommandOffset = 11;
constexpr std::size_t kCommandSize = 1;

// The most data bytes one request carries: a long-form frame of exactly
// kRequestFrameSize bytes.
constexpr uint32_t kMaxRequestData =
    kRequestFrameSize - kRequestLongCommandOffset - kCommandSize - kFrameTrailerSize;
static_assert(kMaxRequestData == 4085, "request frame capacity");

// Everything a request frame says.
struct RequestFields {
    uint8_t sequence;
    uint32_t address;
    uint8_t function;
    uint8_t command;
    const uint8_t* data;  // `length` bytes; may be null when length is 0
    uint32_t length;
};

// Builds one request frame into `frame`, which holds kRequestFrameSize bytes,
// and returns its length; 0 when `fields.length` exceeds kMaxRequestData
// (nothing is written then). With a cipher, the counted region is
// enciphered in place before the CRC is computed, so the CRC covers the bytes
// as they travel.
std::size_t BuildRequestFrame(uint8_t* frame, const FrameMarkers& markers,
                              const RequestFields& fields, Rc4* cipher);
