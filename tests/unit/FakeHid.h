#pragma once

// A HID device tree of a test's own making behind the report-level seam:
// scripted devices that record what the channel wrote and answer reads as
// told.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channel/HidReportDevice.h"

namespace fakehid {

using Report = std::array<uint8_t, kHidReportSize>;

// One scripted answer of a fake device to a read.
struct ScriptedRead {
    HidIoResult result = HidIoResult::Ok;
    std::vector<uint8_t> arrived;  // the bytes that count as received
    std::vector<uint8_t> stale;    // left in the buffer after them, never received
};

// What a fake device did and will do; outlives the device so that tests can
// look at it after the channel has released it.
struct FakeDeviceState {
    std::vector<Report> written;
    std::vector<uint32_t> writeTimeouts;
    std::deque<HidIoResult> writeResults;  // empty: Ok
    std::deque<ScriptedRead> reads;        // empty: nothing arrives
    int readCalls = 0;
    bool released = false;
};

class FakeHidDevice final : public HidReportDevice {
public:
    explicit FakeHidDevice(std::shared_ptr<FakeDeviceState> state) : state_(std::move(state)) {}
    ~FakeHidDevice() override { state_->released = true; }

    HidIoResult WriteReport(const uint8_t* report, uint32_t timeoutMs) override {
        state_->writeTimeouts.push_back(timeoutMs);
        HidIoResult result = HidIoResult::Ok;
        if (!state_->writeResults.empty()) {
            result = state_->writeResults.front();
            state_->writeResults.pop_front();
        }
        if (result == HidIoResult::Ok) {
            Report copy;
            std::memcpy(copy.data(), report, copy.size());
            state_->written.push_back(copy);
        }
        return result;
    }

    HidIoResult ReadReport(uint8_t* report, std::size_t* received, uint32_t timeoutMs) override {
        ++state_->readCalls;
        *received = 0;
        if (state_->reads.empty()) {
            // Like a real device that stays silent: the whole wait passes.
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return HidIoResult::TimedOut;
        }
        const ScriptedRead read = state_->reads.front();
        state_->reads.pop_front();
        std::size_t at = 0;
        for (uint8_t byte : read.arrived) {
            report[at++] = byte;
        }
        for (uint8_t byte : read.stale) {
            report[at++] = byte;
        }
        if (read.result == HidIoResult::Ok) {
            *received = read.arrived.size();
        }
        return read.result;
    }

private:
    std::shared_ptr<FakeDeviceState> state_;
};

// A device tree of the test's making, installed for the test's lifetime.
class FakeHidBackend final : public HidBackend {
public:
    struct Entry {
        uint16_t vendorId;
        uint16_t productId;
        bool opens;
        std::shared_ptr<FakeDeviceState> state = std::make_shared<FakeDeviceState>();
    };

    FakeHidBackend() : previous_(SetHidBackend(this)) {}
    ~FakeHidBackend() override { SetHidBackend(previous_); }

    std::vector<HidDeviceInfo> ListDevices() override {
        std::vector<HidDeviceInfo> list;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            HidDeviceInfo info;
            info.vendorId = entries[i].vendorId;
            info.productId = entries[i].productId;
            info.path = std::to_string(i);
            list.push_back(info);
        }
        return list;
    }

    std::unique_ptr<HidReportDevice> OpenDevice(const HidDeviceInfo& device) override {
        Entry& entry = entries.at(std::stoul(device.path));
        openAttempts.push_back(std::stoul(device.path));
        if (!entry.opens) {
            return nullptr;
        }
        return std::make_unique<FakeHidDevice>(entry.state);
    }

    std::vector<Entry> entries;
    std::vector<std::size_t> openAttempts;

private:
    HidBackend* previous_;
};

inline Report ReportOf(std::initializer_list<uint8_t> head) {
    Report report{};
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

// An input report as a device sends it: report id, count, payload.
inline ScriptedRead InputReport(const std::vector<uint8_t>& payload, std::size_t declared) {
    ScriptedRead read;
    read.arrived.assign(kHidReportSize, 0x00);
    read.arrived[0] = 0x01;
    read.arrived[1] = static_cast<uint8_t>(declared);
    std::copy(payload.begin(), payload.end(), read.arrived.begin() + 2);
    return read;
}
inline ScriptedRead InputReport(const std::vector<uint8_t>& payload) {
    return InputReport(payload, payload.size());
}

}  // namespace fakehid
