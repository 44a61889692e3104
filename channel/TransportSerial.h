#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The serial transport's result codes stand with the channel's others.
#include "channel/ChannelResult.h"

// The most bytes the receive loop takes in one read.
constexpr std::size_t kSerialMaxWaiting = 12000;
// The drain throws leftovers away in reads of at most this many bytes.
constexpr std::size_t kSerialDrainChunk = 1024;

// The device path for a port name held in a field of `fieldSize` bytes:
// "COMn" (n from 1) is /dev/ttyS(n-1), the name the other systems give the
// same port; any other name N is /dev/N. False when the field holds no
// terminating zero, so that a name is never cut to fit.
bool SerialDevicePath(const char* portName, std::size_t fieldSize, std::string* path);
