#pragma once

// HID devices seen report by report: the level at which the HID transport
// meets the system (hidapi over hidraw on Linux; SetupAPI, HidD_ and
// overlapped ReadFile/WriteFile on Windows), and at which tests put a device
// tree of their own in place.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Every report that crosses the HID transport is this long, report
// identifier included.
constexpr std::size_t kHidReportSize = 64;

// The three outcomes of one report transfer. They never blur: a device that
// went away, or any other failure of the system call, is Failed, never
// TimedOut.
enum class HidIoResult {
    Ok,        // the whole report went out, or an input report arrived
    TimedOut,  // nothing happened within the time-out
    Failed,    // the device refused the transfer or is gone
};

// One open HID device, seen report by report. Destroying it releases the
// device and anything the open created for it.
class HidReportDevice {
public:
    virtual ~HidReportDevice() = default;

    // Writes one output report of kHidReportSize bytes (byte 0 is the report
    // identifier) and waits at most timeoutMs for it to go out.
    virtual HidIoResult WriteReport(const uint8_t* report, uint32_t timeoutMs) = 0;

    // Waits at most timeoutMs for one input report and copies it into
    // `report` (kHidReportSize bytes of room). On Ok, *received is the number
    // of bytes that arrived (at most kHidReportSize); otherwise it is 0.
    virtual HidIoResult ReadReport(uint8_t* report, std::size_t* received, uint32_t timeoutMs) = 0;
};

// A HID device that is present now, as the system lists it.
struct HidDeviceInfo {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string path;  // the system's name for it; only the backend reads it
};

// The system's HID devices: what is present and how to open one.
class HidBackend {
public:
    virtual ~HidBackend() = default;

    // The present devices in the system's order; empty when none or when the
    // list cannot be read.
    virtual std::vector<HidDeviceInfo> ListDevices() = 0;

    // Opens `device` for report I/O; null when it cannot be opened.
    virtual std::unique_ptr<HidReportDevice> OpenDevice(const HidDeviceInfo& device) = 0;
};

// The system's backend; lives for the whole run.
HidBackend& SystemHidBackend();
