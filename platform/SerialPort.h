#pragma once

// The port operations of the serial transport, one file per system: a tty
// with termios on Linux, a comm port with a DCB on Windows. What the channel
// does with them (the drain, the reads of what is waiting, the bounds) is
// the transport's, the same on both.

#include <cstddef>
#include <cstdint>
#include <string>

// A file descriptor on Linux, a HANDLE on Windows; -1 is also Windows'
// INVALID_HANDLE_VALUE.
using SerialPortHandle = std::intptr_t;
constexpr SerialPortHandle kNoSerialPort = -1;

// Room for the port's line settings as they were before the open (termios,
// DCB), kept by the caller so that the close can give the port back as it
// was.
constexpr std::size_t kSerialPortSettingsSize = 128;

// The device path for a port name held in a field of `fieldSize` bytes.
// Linux: "COMn" (n from 1, the prefix in any case) is /dev/ttyS(n-1), the
// name the other systems give the same port; any other name N is /dev/N
// (ttyUSB0, pts/3). Windows: \\.\ and the name, so "COM3" is \\.\COM3, and
// so are the ports from COM10 on, which only that form reaches. False when
// the field holds no terminating zero, so that a name is never cut to fit.
bool SerialDevicePath(const char* portName, std::size_t fieldSize, std::string* path);

// For people: port names as this system has them ("ttyUSB0, /dev/ttyS0,
// COM1 for ttyS0"; "COM3"), and what to try when a port does not open.
const char* SerialPortNameExamples();
const char* SerialOpenAdvice();

enum class SerialOpenResult {
    Opened,
    OpenFailed,       // no such port, in use, or not a port
    SettingsRefused,  // the port would not take the rate and 8N1
};

// Opens the port for reading and writing, for this program alone, at `rate`
// with 8 data bits, no parity and one stop bit, and the character
// processing and software flow control off (either would change or swallow
// frame bytes); hardware flow control and the modem lines stay as the port
// had them. `saved` (kSerialPortSettingsSize bytes) receives the settings
// as they were.
SerialOpenResult OpenSerialPort(const std::string& path, uint32_t rate, SerialPortHandle* port,
                                void* saved);
// Gives the settings back and closes the port.
void CloseSerialPort(SerialPortHandle port, const void* saved);

// How many received bytes wait to be read.
bool SerialBytesWaiting(SerialPortHandle port, std::size_t* waiting);
// Reads exactly `count` bytes; meant for bytes that are already waiting.
bool ReadSerialBytes(SerialPortHandle port, uint8_t* buffer, std::size_t count);
// Writes every byte, waiting for the port to take them.
bool WriteSerialBytes(SerialPortHandle port, const uint8_t* bytes, std::size_t count);

// Waits at most `waitMs` for a byte to arrive, without spinning. Linux
// sleeps in poll() and leaves the byte waiting; Windows can only wait for a
// byte by reading it, so the byte it read is stored at `*taken` and
// `*takenCount` is 1 (0 otherwise). False when the port can no longer be
// waited on.
bool AwaitSerialByte(SerialPortHandle port, uint32_t waitMs, uint8_t* taken,
                     std::size_t* takenCount);
