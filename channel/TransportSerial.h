#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The serial transport's result codes stand with the channel's others.
#include "channel/ChannelResult.h"
// SerialDevicePath: the device path for a port name, per system.
#include "platform/SerialPort.h"

// The most bytes the receive loop takes in one read.
constexpr std::size_t kSerialMaxWaiting = 12000;
// The drain throws leftovers away in reads of at most this many bytes.
constexpr std::size_t kSerialDrainChunk = 1024;
