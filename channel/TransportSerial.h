#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Result codes of the serial transport.
constexpr int kSerialOpenFailed = -1;       // open: no such port, in use, or its name does not fit
constexpr int kSerialSettingsRefused = -2;  // open: the port refused the line settings
constexpr int kSerialTooMuchWaiting = -6;   // receive: more than a reply's worth waiting at once
constexpr int kSerialTimedOut = -10;        // receive: no complete reply within the time-out
constexpr int kSerialReadFailed = -17;      // receive: reading the port's state or bytes failed
constexpr int kSerialNotOpen = -26;         // drain: the port is not open
constexpr int kSerialIoFailed = -27;  // drain or send: the port's state, a read or the write failed

// The most bytes the receive loop takes in one read.
constexpr std::size_t kSerialMaxWaiting = 12000;
// The drain throws leftovers away in reads of at most this many bytes.
constexpr std::size_t kSerialDrainChunk = 1024;

// The device path for a port name held in a field of `fieldSize` bytes:
// "COMn" (n from 1) is /dev/ttyS(n-1), the name the other systems give the
// same port; any other name N is /dev/N. False when the field holds no
// terminating zero, so that a name is never cut to fit.
bool SerialDevicePath(const char* portName, std::size_t fieldSize, std::string* path);

// True when the line speed `rate` (bits per second) is one the port can be
// set to.
bool SerialRateSupported(uint32_t rate);
