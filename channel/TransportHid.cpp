// The HID transport: frames travel in 64-byte reports, each carrying a count
// and up to 62 frame bytes. Everything below the report level is the
// backend's (HidReportDevice.h).

#include "channel/TransportHid.h"

#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "channel/COM_Class.h"
#include "channel/Transport.h"

namespace {

HidBackend* installedBackend = nullptr;

int HidOpenDevice(COM_Class& channel, uint32_t /*timeoutMs*/) {
    HidBackend& backend = CurrentHidBackend();
    try {
        // The identifiers are 32-bit fields compared with the device's 16-bit
        // ones: a field above 0xFFFF matches nothing.
        for (const HidDeviceInfo& device : backend.ListDevices()) {
            if (device.vendorId != channel.VendorId || device.productId != channel.ProductId) {
                continue;
            }
            // A matching device that will not open (in use, no permission) is
            // passed over for the next one.
            std::unique_ptr<HidReportDevice> opened = backend.OpenDevice(device);
            if (opened) {
                channel.HidHandle = std::move(opened);
                channel.HidOpen = 1;
                return 0;
            }
        }
    } catch (const std::bad_alloc&) {
        // Out of memory while listing: as good as no device.
    }
    return kHidNoDevice;
}

// Reports are transferred synchronously, so nothing is pending between
// calls; destroying the device closes it.
void HidCloseDevice(COM_Class& channel) {
    channel.HidHandle.reset();
    channel.HidOpen = 0;
}

// Each report has its own bound; the transaction's time-out is for the reply.
int HidSend(COM_Class& channel, const uint8_t* frame, uint32_t length, uint32_t /*timeoutMs*/) {
    if (channel.Kind != TransportKind::Hid || !channel.HidHandle) {
        return kHidSendFailed;
    }
    uint8_t report[kHidReportSize];
    std::size_t sent = 0;
    while (sent < length) {
        sent += PackOutputReport(frame + sent, length - sent, report);
        if (channel.HidHandle->WriteReport(report, kHidWriteTimeoutMs) != HidIoResult::Ok) {
            return kHidSendFailed;
        }
    }
    return 0;
}

// One input report, waiting for it at most `waitMs`; its payload bytes.
int HidRead(COM_Class& channel, uint8_t* buffer, std::size_t room, uint32_t waitMs) {
    if (!channel.HidHandle) {
        return kHidReadFailed;
    }
    uint8_t report[kHidReportSize] = {};
    std::size_t received = 0;
    const HidIoResult result = channel.HidHandle->ReadReport(report, &received, waitMs);
    // A device that fails a read (most often one that was unplugged) fails
    // every later read at once too: end here rather than spin on it until
    // the time-out and report it as one.
    if (result == HidIoResult::Failed) {
        return kHidReadFailed;
    }
    if (result != HidIoResult::Ok) {
        return 0;
    }
    std::size_t payload = InputReportPayload(report, received);
    payload = payload < room ? payload : room;
    std::memcpy(buffer, report + kHidPayloadOffset, payload);
    return static_cast<int>(payload);
}

// The reports the frame needs, full ones, each at the interval, with the
// margin.
uint64_t HidFrameAllowance(const COM_Class& /*channel*/, uint32_t frameBytes) {
    const uint64_t reports = (uint64_t{frameBytes} + kHidMaxPayload - 1) / kHidMaxPayload;
    return reports * kHidReportIntervalMs * kLineTimeMargin;
}

}  // namespace

std::size_t PackOutputReport(const uint8_t* frame, std::size_t length, uint8_t* report) {
    const std::size_t piece = length < kHidMaxPayload ? length : kHidMaxPayload;
    std::memset(report, 0, kHidReportSize);
    report[kHidReportIdOffset] = kHidOutputReportId;
    report[kHidCountOffset] = static_cast<uint8_t>(piece);
    if (piece > 0) {
        std::memcpy(report + kHidPayloadOffset, frame, piece);
    }
    return piece;
}

std::size_t InputReportPayload(const uint8_t* report, std::size_t received) {
    // Fewer than three bytes hold no payload byte, whatever byte 1 says.
    if (received <= kHidPayloadOffset) {
        return 0;
    }
    const std::size_t arrived =
        (received < kHidReportSize ? received : kHidReportSize) - kHidPayloadOffset;
    const std::size_t count = report[kHidCountOffset];
    return count < arrived ? count : arrived;
}

HidBackend& CurrentHidBackend() {
    return installedBackend != nullptr ? *installedBackend : SystemHidBackend();
}

HidBackend* SetHidBackend(HidBackend* backend) {
    return std::exchange(installedBackend, backend);
}

const TransportOps kHidTransport = {
    HidOpenDevice, HidCloseDevice, nullptr, HidSend, HidRead, HidFrameAllowance,
};
