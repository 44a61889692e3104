// The system's HID backend on Linux: hidapi over the kernel's hidraw nodes.

#include <hidapi.h>

#include <climits>
#include <memory>

#include "platform/HidDevices.h"

namespace {

constexpr int kHidapiTimedOut = 0;

class HidapiReportDevice final : public HidReportDevice {
public:
    explicit HidapiReportDevice(hid_device* device) : device_(device) {}
    ~HidapiReportDevice() override { hid_close(device_); }
    HidapiReportDevice(const HidapiReportDevice&) = delete;
    HidapiReportDevice& operator=(const HidapiReportDevice&) = delete;

    // hidraw writes block in the kernel until the report is out; for USB
    // devices the kernel itself gives up after five seconds and fails the
    // write, which is the bound the transport asks for, so the time-out needs
    // no timer of its own here.
    HidIoResult WriteReport(const uint8_t* report, uint32_t /*timeoutMs*/) override {
        const int written = hid_write(device_, report, kHidReportSize);
        return written == static_cast<int>(kHidReportSize) ? HidIoResult::Ok : HidIoResult::Failed;
    }

    // hidapi answers a time-out with 0 and a vanished device with -1.
    HidIoResult ReadReport(uint8_t* report, std::size_t* received, uint32_t timeoutMs) override {
        *received = 0;
        const int waitMs = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
        const int got = hid_read_timeout(device_, report, kHidReportSize, waitMs);
        if (got == kHidapiTimedOut) {
            return HidIoResult::TimedOut;
        }
        if (got < 0 || static_cast<std::size_t>(got) > kHidReportSize) {
            return HidIoResult::Failed;
        }
        *received = static_cast<std::size_t>(got);
        return HidIoResult::Ok;
    }

private:
    hid_device* device_;
};

class HidapiBackend final : public HidBackend {
public:
    std::vector<HidDeviceInfo> ListDevices() override {
        std::vector<HidDeviceInfo> devices;
        if (hid_init() != 0) {
            return devices;
        }
        // Vendor and product 0 ask hidapi for every device; the transport
        // does its own matching, where 0 and 0 mean a device that reports
        // 0 and 0.
        const std::unique_ptr<hid_device_info, decltype(&hid_free_enumeration)> list(
            hid_enumerate(0, 0), &hid_free_enumeration);
        for (const hid_device_info* entry = list.get(); entry != nullptr; entry = entry->next) {
            if (entry->path == nullptr) {
                continue;
            }
            HidDeviceInfo device;
            device.vendorId = entry->vendor_id;
            device.productId = entry->product_id;
            device.path = entry->path;
            devices.push_back(std::move(device));
        }
        return devices;
    }

    std::unique_ptr<HidReportDevice> OpenDevice(const HidDeviceInfo& device) override {
        hid_device* opened = hid_open_path(device.path.c_str());
        if (opened == nullptr) {
            return nullptr;
        }
        return std::make_unique<HidapiReportDevice>(opened);
    }
};

}  // namespace

HidBackend& SystemHidBackend() {
    static HidapiBackend backend;
    return backend;
}
