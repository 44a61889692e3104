// A comm port opened for this program alone, switched to the channel's line
// format, and read only as far as ClearCommError reports bytes waiting.
//
// The calls are chosen to behave alike on Windows and under wine, where the
// serial tests run: a wait for the next byte is a one-byte ReadFile with a
// total time-out alone (0/0/N), which returns with the byte as soon as it
// arrives on both. Not used: the MAXDWORD/MAXDWORD/N time-out (under wine it
// waits the full N ms even when a byte came at once), an overlapped
// WaitCommEvent (wine fails it at once, error 995) and GetCommModemStatus
// (fails on the pseudo-terminals the tests use).

#include "platform/SerialPort.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";
// Between the waits a read never waits: it returns at once with what has
// arrived, so a read of bytes that are not there fails instead of hanging.
constexpr COMMTIMEOUTS kReadsDoNotWait = {MAXDWORD, 0, 0, 0, 0};

// The settings as they were before the open, given back at the close.
struct SavedPort {
    DCB line;
    COMMTIMEOUTS timeouts;
};
static_assert(sizeof(SavedPort) <= kSerialPortSettingsSize,
              "the saved settings must hold the platform's line settings");

HANDLE HandleOf(SerialPortHandle port) {
    return reinterpret_cast<HANDLE>(port);
}

// The channel's line format on top of what the port had. Binary mode and no
// parity check, error character, null stripping or XON/XOFF: each would
// change or swallow frame bytes (0x11 and 0x13 can be any CRC byte), and an
// abort on error would fail every read after a framing error until the
// next ClearCommError. Hardware flow control and the modem lines stay as
// the port had them.
void ApplyLineFormat(DCB* line, uint32_t rate) {
    line->BaudRate = rate;
    line->ByteSize = 8;
    line->Parity = NOPARITY;
    line->StopBits = ONESTOPBIT;
    line->fBinary = TRUE;
    line->fParity = FALSE;
    line->fErrorChar = FALSE;
    line->fNull = FALSE;
    line->fOutX = FALSE;
    line->fInX = FALSE;
    line->fAbortOnError = FALSE;
}

// A driver may take part of a change and still report success, so what was
// asked for is read back.
bool LineFormatTaken(HANDLE handle, uint32_t rate) {
    DCB now{};
    now.DCBlength = sizeof now;
    return GetCommState(handle, &now) && now.BaudRate == rate && now.ByteSize == 8 &&
           now.Parity == NOPARITY && now.StopBits == ONESTOPBIT;
}

}  // namespace

const char* SerialPortNameExamples() {
    return "COM3, as the Device Manager names it";
}

const char* SerialOpenAdvice() {
    return "a COM port opens for one program at a time: is another one using it?";
}

bool SerialDevicePath(const char* portName, std::size_t fieldSize, std::string* path) {
    const void* terminator = std::memchr(portName, '\0', fieldSize);
    if (terminator == nullptr) {
        return false;
    }
    *path = kDevicePrefix + std::string(portName, static_cast<const char*>(terminator));
    return true;
}

SerialOpenResult OpenSerialPort(const std::string& path, uint32_t rate, SerialPortHandle* port,
                                void* saved) {
    // Not shared: a second open fails while this one holds the port.
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return SerialOpenResult::OpenFailed;
    }
    SavedPort original{};
    original.line.DCBlength = sizeof original.line;
    if (!GetCommState(handle, &original.line) || !GetCommTimeouts(handle, &original.timeouts) ||
        rate == 0) {
        CloseHandle(handle);
        return SerialOpenResult::SettingsRefused;
    }
    DCB wanted = original.line;
    ApplyLineFormat(&wanted, rate);
    if (!SetCommState(handle, &wanted) || !LineFormatTaken(handle, rate)) {
        SetCommState(handle, &original.line);
        CloseHandle(handle);
        return SerialOpenResult::SettingsRefused;
    }
    COMMTIMEOUTS timeouts = kReadsDoNotWait;
    if (!SetCommTimeouts(handle, &timeouts)) {
        SetCommState(handle, &original.line);
        CloseHandle(handle);
        return SerialOpenResult::OpenFailed;
    }
    std::memcpy(saved, &original, sizeof original);
    *port = reinterpret_cast<SerialPortHandle>(handle);
    return SerialOpenResult::Opened;
}

void CloseSerialPort(SerialPortHandle port, const void* saved) {
    SavedPort original{};
    std::memcpy(&original, saved, sizeof original);
    SetCommTimeouts(HandleOf(port), &original.timeouts);
    SetCommState(HandleOf(port), &original.line);
    CloseHandle(HandleOf(port));
}

bool SerialBytesWaiting(SerialPortHandle port, std::size_t* waiting) {
    DWORD errors = 0;
    COMSTAT status{};
    *waiting = 0;
    if (!ClearCommError(HandleOf(port), &errors, &status)) {
        return false;
    }
    *waiting = status.cbInQue;
    return true;
}

bool ReadSerialBytes(SerialPortHandle port, uint8_t* buffer, std::size_t count) {
    std::size_t got = 0;
    while (got < count) {
        DWORD n = 0;
        if (!ReadFile(HandleOf(port), buffer + got, static_cast<DWORD>(count - got), &n, nullptr) ||
            n == 0) {
            return false;
        }
        got += n;
    }
    return true;
}

bool WriteSerialBytes(SerialPortHandle port, const uint8_t* bytes, std::size_t count) {
    std::size_t sent = 0;
    while (sent < count) {
        DWORD n = 0;
        if (!WriteFile(HandleOf(port), bytes + sent, static_cast<DWORD>(count - sent), &n,
                       nullptr) ||
            n == 0) {
            return false;
        }
        sent += n;
    }
    return true;
}

bool AwaitSerialByte(SerialPortHandle port, uint32_t waitMs, uint8_t* taken,
                     std::size_t* takenCount) {
    *takenCount = 0;
    // 0/0/0 would mean no time-out at all.
    if (waitMs == 0) {
        return true;
    }
    COMMTIMEOUTS oneByte = {0, 0, waitMs, 0, 0};
    COMMTIMEOUTS between = kReadsDoNotWait;
    DWORD got = 0;
    const bool read = SetCommTimeouts(HandleOf(port), &oneByte) &&
                      ReadFile(HandleOf(port), taken, 1, &got, nullptr);
    const bool restored = SetCommTimeouts(HandleOf(port), &between);
    *takenCount = read ? got : 0;
    return read && restored;
}
