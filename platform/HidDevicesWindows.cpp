// The system's HID backend on Windows: the present interfaces of the HID
// class from SetupAPI, their identifiers from HidD_GetAttributes, and
// overlapped ReadFile and WriteFile of one report each, bounded by a wait
// on the transfer's event.

// windows.h first: the headers below need its definitions.
#include <windows.h>

#include <setupapi.h>
// mingw's hidsdi.h declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/HidDevices.h"

namespace {

// INFINITE would turn a time-out into none.
constexpr DWORD kLongestWaitMs = INFINITE - 1;

HANDLE OpenPath(const std::string& path, DWORD access, DWORD flags) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

// The report lengths the device declares, the identifier byte included.
// Windows refuses a read into less room than the input report needs, and a
// write of another length than the output report's.
void ReportLengths(HANDLE device, std::size_t* input, std::size_t* output) {
    *input = kHidReportSize;
    *output = kHidReportSize;
    PHIDP_PREPARSED_DATA parsed = nullptr;
    if (!HidD_GetPreparsedData(device, &parsed)) {
        return;
    }
    HIDP_CAPS caps{};
    if (HidP_GetCaps(parsed, &caps) == HIDP_STATUS_SUCCESS) {
        *input = std::max<std::size_t>(kHidReportSize, caps.InputReportByteLength);
        *output = std::max<std::size_t>(kHidReportSize, caps.OutputReportByteLength);
    }
    HidD_FreePreparsedData(parsed);
}

class WindowsReportDevice final : public HidReportDevice {
public:
    WindowsReportDevice(HANDLE device, HANDLE event) : device_(device), event_(event) {
        ReportLengths(device_, &inputLength_, &outputLength_);
    }
    ~WindowsReportDevice() override {
        CancelIo(device_);
        CloseHandle(device_);
        CloseHandle(event_);
    }
    WindowsReportDevice(const WindowsReportDevice&) = delete;
    WindowsReportDevice& operator=(const WindowsReportDevice&) = delete;

    // A longer output report than ours gets zeros after it: filler the
    // device ignores.
    HidIoResult WriteReport(const uint8_t* report, uint32_t timeoutMs) override {
        std::vector<uint8_t> buffer(outputLength_, 0);
        std::memcpy(buffer.data(), report, kHidReportSize);
        DWORD written = 0;
        const HidIoResult result = Transfer(true, buffer.data(), timeoutMs, &written);
        return result == HidIoResult::Ok && written != buffer.size() ? HidIoResult::Failed : result;
    }

    HidIoResult ReadReport(uint8_t* report, std::size_t* received, uint32_t timeoutMs) override {
        *received = 0;
        std::vector<uint8_t> buffer(inputLength_, 0);
        DWORD got = 0;
        const HidIoResult result = Transfer(false, buffer.data(), timeoutMs, &got);
        if (result == HidIoResult::Ok) {
            *received = std::min<std::size_t>(got, kHidReportSize);
            std::memcpy(report, buffer.data(), *received);
        }
        return result;
    }

private:
    // One overlapped transfer of a whole report. A transfer that outlives
    // its time-out is cancelled, and its end is awaited all the same: the
    // system writes into `buffer` until then. One that completed just before
    // the cancel still counts.
    HidIoResult Transfer(bool write, uint8_t* buffer, uint32_t timeoutMs, DWORD* done) {
        const DWORD length = static_cast<DWORD>(write ? outputLength_ : inputLength_);
        OVERLAPPED transfer{};
        transfer.hEvent = event_;
        ResetEvent(event_);
        const BOOL started = write ? WriteFile(device_, buffer, length, nullptr, &transfer)
                                   : ReadFile(device_, buffer, length, nullptr, &transfer);
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            return HidIoResult::Failed;
        }
        const DWORD waited =
            WaitForSingleObject(event_, std::min<DWORD>(timeoutMs, kLongestWaitMs));
        if (waited != WAIT_OBJECT_0) {
            CancelIo(device_);
        }
        if (GetOverlappedResult(device_, &transfer, done, TRUE)) {
            return HidIoResult::Ok;
        }
        return waited == WAIT_TIMEOUT && GetLastError() == ERROR_OPERATION_ABORTED
                   ? HidIoResult::TimedOut
                   : HidIoResult::Failed;
    }

    HANDLE device_;
    HANDLE event_;
    std::size_t inputLength_ = kHidReportSize;
    std::size_t outputLength_ = kHidReportSize;
};

class WindowsHidBackend final : public HidBackend {
public:
    std::vector<HidDeviceInfo> ListDevices() override {
        std::vector<HidDeviceInfo> devices;
        GUID hidClass{};
        HidD_GetHidGuid(&hidClass);
        const HDEVINFO present = SetupDiGetClassDevsA(&hidClass, nullptr, nullptr,
                                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (present == INVALID_HANDLE_VALUE) {
            return devices;
        }
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA entry{};
            entry.cbSize = sizeof entry;
            if (!SetupDiEnumDeviceInterfaces(present, nullptr, &hidClass, index, &entry)) {
                break;
            }
            std::string path;
            if (!InterfacePath(present, &entry, &path)) {
                break;
            }
            // No access asked: the identifiers can be read even of a device
            // that the system holds for itself (keyboards, mice).
            const HANDLE device = OpenPath(path, 0, 0);
            if (device == INVALID_HANDLE_VALUE) {
                continue;
            }
            HIDD_ATTRIBUTES attributes{};
            attributes.Size = sizeof attributes;
            if (HidD_GetAttributes(device, &attributes)) {
                HidDeviceInfo info;
                info.vendorId = attributes.VendorID;
                info.productId = attributes.ProductID;
                info.path = path;
                devices.push_back(std::move(info));
            }
            CloseHandle(device);
        }
        SetupDiDestroyDeviceInfoList(present);
        return devices;
    }

    std::unique_ptr<HidReportDevice> OpenDevice(const HidDeviceInfo& device) override {
        const HANDLE opened =
            OpenPath(device.path, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
        if (opened == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        // Manual reset, not signalled, unnamed: every transfer of the device
        // uses it.
        const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) {
            CloseHandle(opened);
            return nullptr;
        }
        return std::make_unique<WindowsReportDevice>(opened, event);
    }

private:
    // The size first, then the record of that size.
    static bool InterfacePath(HDEVINFO present, SP_DEVICE_INTERFACE_DATA* entry,
                              std::string* path) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(present, entry, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            return false;
        }
        const std::unique_ptr<uint8_t[]> record(new uint8_t[size]);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(present, entry, detail, size, nullptr, nullptr)) {
            return false;
        }
        *path = detail->DevicePath;
        return true;
    }
};

}  // namespace

HidBackend& SystemHidBackend() {
    static WindowsHidBackend backend;
    return backend;
}
