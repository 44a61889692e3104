#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakeHid.h"
#include "channel/COM_Class.h"
#include "channel/HidReportDevice.h"
#include "channel/ReplyParser.h"
#include "channel/Tick.h"
#include "channel/Transport.h"
#include "channel/TransportHid.h"
#include "idassign/DeviceId.h"
#include "tests/support/TestFrames.h"
#include "tests/support/TestLimits.h"

namespace {

using fakehid::FakeDeviceState;
using fakehid::FakeHidBackend;
using fakehid::InputReport;
using fakehid::Report;
using fakehid::ReportOf;
using fakehid::ScriptedRead;
using test_frames::SetIdReply;

// Each report write has its own bound; the transaction's time-out is moot.
constexpr uint32_t kUnusedTimeoutMs = 3000;

// `count` bytes counting up from `first`.
std::vector<uint8_t> CountingBytes(std::size_t count, uint8_t first = 0) {
    std::vector<uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(first + i);
    }
    return bytes;
}

class HidTransport : public ::testing::Test {
protected:
    void SetUp() override {
        backend_.entries.push_back({0x1234, 0x5678, true});
        channel_.Kind = TransportKind::Hid;
        channel_.VendorId = 0x1234;
        channel_.ProductId = 0x5678;
        ASSERT_EQ(channel_.Open(0), 0);
        device_ = backend_.entries[0].state;
    }

    int Send(const std::vector<uint8_t>& frame) {
        return kHidTransport.send(channel_, frame.data(), static_cast<uint32_t>(frame.size()),
                                  kUnusedTimeoutMs);
    }

    // A receive as Transact runs it after a Set ID request with sequence 1.
    int Receive(uint32_t timeoutMs) {
        channel_.SentAddress = 1;
        channel_.SentSequence = 1;
        ReplyParser parser(channel_);
        return ReceiveReply(channel_, kHidTransport, parser, timeoutMs);
    }

    FakeHidBackend backend_;
    COM_Class channel_;
    std::shared_ptr<FakeDeviceState> device_;
};

// ---- report layout -----------------------------------------------------

TEST(HidReports, OutputReportCarriesIdCountPieceAndZeroFill) {
    const std::vector<uint8_t> frame = test_frames::kSetIdFrame;
    Report report;
    report.fill(0xEE);
    EXPECT_EQ(PackOutputReport(frame.data(), frame.size(), report.data()), 14u);
    Report expected = ReportOf({0x01, 0x0E, 0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0xFD, 0x02,
                                0x5A, 0x05, 0x35, 0x06, 0x03});
    EXPECT_EQ(report, expected);

    const std::vector<uint8_t> longer = CountingBytes(100, 1);
    EXPECT_EQ(PackOutputReport(longer.data(), longer.size(), report.data()), 62u);
    EXPECT_EQ(report[0], 0x01);
    EXPECT_EQ(report[1], 62);
    EXPECT_EQ(std::vector<uint8_t>(report.begin() + 2, report.end()), CountingBytes(62, 1));
}

TEST(HidReports, InputReportPayloadNeverReachesPastWhatArrived) {
    struct Case {
        std::size_t received;
        uint8_t count;
        std::size_t payload;
    };
    const Case cases[] = {
        {0, 5, 0},    {1, 5, 0},     {2, 5, 0},   // too short to carry anything
        {3, 1, 1},    {3, 0, 0},     {64, 0, 0},  // as the count says
        {64, 14, 14}, {64, 62, 62},               //
        {64, 63, 62}, {64, 255, 62},              // count beyond the report: capped
        {10, 30, 8},                              // beyond a short report: capped to it
    };
    for (const Case& c : cases) {
        Report report{};
        report[1] = c.count;
        EXPECT_EQ(InputReportPayload(report.data(), c.received), c.payload)
            << "received " << c.received << " count " << int(c.count);
    }
}

// ---- open and close ----------------------------------------------------

TEST(HidOpen, PicksTheFirstPresentDeviceWithBothIdentifiers) {
    struct Device {
        uint16_t vendorId, productId;
        bool opens;
    };
    struct Case {
        const char* what;
        std::vector<Device> devices;
        uint32_t vendorId, productId;
        int result;
        int opened;  // index of the device that ends up open, -1 none
    };
    const Case cases[] = {
        {"first of two matching",
         {{1, 2, true}, {0x1234, 0x5678, true}, {0x1234, 0x5678, true}},
         0x1234,
         0x5678,
         0,
         1},
        {"vendor alone is not enough", {{0x1234, 0x9999, true}}, 0x1234, 0x5678, kHidNoDevice, -1},
        {"product alone is not enough", {{0x9999, 0x5678, true}}, 0x1234, 0x5678, kHidNoDevice, -1},
        {"zeros match only a device reporting zeros",
         {{0x1234, 0x5678, true}, {0, 0, true}},
         0,
         0,
         0,
         1},
        {"zeros and no such device",
         {{0x1234, 0x5678, true}, {0, 1, true}},
         0,
         0,
         kHidNoDevice,
         -1},
        {"no devices at all", {}, 0, 0, kHidNoDevice, -1},
        {"the whole 32-bit field is compared",
         {{0x1234, 0x5678, true}},
         0x11234,
         0x5678,
         kHidNoDevice,
         -1},
        {"a match that will not open is passed over",
         {{0x1234, 0x5678, false}, {0x1234, 0x5678, true}},
         0x1234,
         0x5678,
         0,
         1},
        {"only matches that will not open",
         {{0x1234, 0x5678, false}},
         0x1234,
         0x5678,
         kHidNoDevice,
         -1},
    };
    for (const Case& c : cases) {
        FakeHidBackend backend;
        for (const Device& d : c.devices) {
            backend.entries.push_back({d.vendorId, d.productId, d.opens});
        }
        COM_Class channel;
        channel.Kind = TransportKind::Hid;
        channel.VendorId = c.vendorId;
        channel.ProductId = c.productId;
        EXPECT_EQ(channel.Open(0), c.result) << c.what;
        EXPECT_EQ(channel.HidOpen, c.opened >= 0 ? 1 : 0) << c.what;
        EXPECT_EQ(channel.HidHandle != nullptr, c.opened >= 0) << c.what;
        if (c.opened >= 0) {
            ASSERT_FALSE(backend.openAttempts.empty());
            EXPECT_EQ(backend.openAttempts.back(), static_cast<std::size_t>(c.opened)) << c.what;
        }
    }
}

TEST_F(HidTransport, CloseReleasesTheDevice) {
    EXPECT_EQ(channel_.HidOpen, 1);
    channel_.Close();
    EXPECT_TRUE(device_->released);
    EXPECT_EQ(channel_.HidOpen, 0);
    EXPECT_EQ(channel_.HidHandle, nullptr);
    channel_.Close();  // harmless when closed

    // It can be opened again.
    EXPECT_EQ(channel_.Open(0), 0);
    EXPECT_EQ(channel_.HidOpen, 1);
}

TEST(HidOpen, DestructionReleasesTheDevice) {
    FakeHidBackend backend;
    backend.entries.push_back({7, 8, true});
    const std::shared_ptr<FakeDeviceState> state = backend.entries[0].state;
    {
        COM_Class channel;
        channel.Kind = TransportKind::Hid;
        channel.VendorId = 7;
        channel.ProductId = 8;
        ASSERT_EQ(channel.Open(0), 0);
        EXPECT_FALSE(state->released);
    }
    EXPECT_TRUE(state->released);
}

TEST(HidOpen, HasNoDrain) {
    EXPECT_EQ(kHidTransport.drain, nullptr);
}

// ---- send --------------------------------------------------------------

TEST_F(HidTransport, WorkedFrameGoesOutAsOneReport) {
    EXPECT_EQ(Send(test_frames::kSetIdFrame), 0);
    ASSERT_EQ(device_->written.size(), 1u);
    EXPECT_EQ(device_->written[0], ReportOf({0x01, 0x0E, 0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02,
                                             0xFD, 0x02, 0x5A, 0x05, 0x35, 0x06, 0x03}));
    EXPECT_EQ(device_->writeTimeouts, std::vector<uint32_t>{kHidWriteTimeoutMs});
}

TEST_F(HidTransport, FrameIsCutIntoPiecesOfSixtyTwo) {
    struct Case {
        std::size_t length;
        std::vector<uint8_t> counts;
    };
    const Case cases[] = {
        {0, {}}, {1, {1}}, {62, {62}}, {63, {62, 1}}, {124, {62, 62}}, {200, {62, 62, 62, 14}},
    };
    for (const Case& c : cases) {
        device_->written.clear();
        const std::vector<uint8_t> frame = CountingBytes(c.length, 0x80);
        EXPECT_EQ(Send(frame), 0) << c.length;
        ASSERT_EQ(device_->written.size(), c.counts.size()) << c.length;
        std::vector<uint8_t> carried;
        for (std::size_t i = 0; i < c.counts.size(); ++i) {
            const Report& report = device_->written[i];
            EXPECT_EQ(report[0], 0x01);
            EXPECT_EQ(report[1], c.counts[i]) << c.length << " report " << i;
            carried.insert(carried.end(), report.begin() + 2, report.begin() + 2 + c.counts[i]);
            for (std::size_t at = 2 + c.counts[i]; at < report.size(); ++at) {
                EXPECT_EQ(report[at], 0) << c.length << " report " << i << " byte " << at;
            }
        }
        EXPECT_EQ(carried, frame) << c.length;
    }
}

TEST_F(HidTransport, SendRefusesWrongKindOrNoDevice) {
    const std::vector<uint8_t> frame = test_frames::kSetIdFrame;
    channel_.Kind = TransportKind::Serial;
    EXPECT_EQ(Send(frame), kHidSendFailed);
    channel_.Kind = TransportKind::Hid;
    channel_.Close();
    EXPECT_EQ(Send(frame), kHidSendFailed);
    EXPECT_TRUE(device_->written.empty());
}

TEST_F(HidTransport, FailedOrTimedOutWriteStopsTheFrame) {
    for (HidIoResult failure : {HidIoResult::TimedOut, HidIoResult::Failed}) {
        device_->written.clear();
        device_->writeResults = {HidIoResult::Ok, failure};
        EXPECT_EQ(Send(CountingBytes(200)), kHidSendFailed);
        EXPECT_EQ(device_->written.size(), 1u);  // nothing after the failed report
    }
}

// ---- receive -----------------------------------------------------------

TEST_F(HidTransport, ReplyInOneReport) {
    device_->reads.push_back(InputReport(SetIdReply({0x42})));
    EXPECT_EQ(Receive(3000), 1);
    EXPECT_EQ(channel_.ReplyData[0], 0x42);
}

TEST_F(HidTransport, ReplySpreadOverReports) {
    const std::vector<uint8_t> data = CountingBytes(100, 3);
    const std::vector<uint8_t> reply = SetIdReply(data);  // 113 bytes
    device_->reads.push_back(InputReport({reply.begin(), reply.begin() + 62}));
    device_->reads.push_back(InputReport({reply.begin() + 62, reply.begin() + 100}));
    device_->reads.push_back(InputReport({reply.begin() + 100, reply.end()}));
    EXPECT_EQ(Receive(3000), 100);
    EXPECT_EQ(std::vector<uint8_t>(channel_.ReplyData, channel_.ReplyData + 100), data);
}

TEST_F(HidTransport, CountBeyondTheReportDeliversOnlyWhatTheReportHolds) {
    const std::vector<uint8_t> reply = SetIdReply(CountingBytes(100, 3));
    // Both reports claim more than 62 bytes; reading past the first one
    // would feed 62 + 193 bytes and break the frame.
    device_->reads.push_back(InputReport({reply.begin(), reply.begin() + 62}, 255));
    device_->reads.push_back(InputReport({reply.begin() + 62, reply.end()}, reply.size() - 62));
    EXPECT_EQ(Receive(3000), 100);
}

TEST_F(HidTransport, ShortInputReportsDeliverNothingUntilTheTimeOut) {
    // Whatever lies in the buffer beyond the bytes that arrived (here a
    // whole valid reply) must not be taken for payload.
    const std::vector<uint8_t> whole = InputReport(SetIdReply()).arrived;
    for (std::size_t arrived : {0u, 1u, 2u}) {
        ScriptedRead read;
        read.arrived.assign(whole.begin(), whole.begin() + arrived);
        read.stale.assign(whole.begin() + arrived, whole.end());
        device_->reads.push_back(read);
    }
    const uint64_t start = TickMs();
    EXPECT_EQ(Receive(150), kReceiveTimeout);
    EXPECT_GT(TickMs() - start, 150u);
    EXPECT_LT(TickMs() - start, kHangBoundMs);
    EXPECT_GE(device_->readCalls, 4);  // the three short ones, then waiting
}

TEST_F(HidTransport, SilentDeviceTimesOut) {
    const uint64_t start = TickMs();
    EXPECT_EQ(Receive(120), kReceiveTimeout);
    EXPECT_GT(TickMs() - start, 120u);
    EXPECT_LT(TickMs() - start, kHangBoundMs);
}

TEST_F(HidTransport, VanishedDeviceIsAnErrorNotATimeOut) {
    device_->reads.push_back(InputReport({0x91, 0x00}));
    ScriptedRead gone;
    gone.result = HidIoResult::Failed;
    device_->reads.push_back(gone);
    const uint64_t start = TickMs();
    EXPECT_EQ(Receive(3000), kHidReadFailed);
    EXPECT_LT(TickMs() - start, 3000u);
    EXPECT_EQ(channel_.HidOpen, 1);  // the caller closes
}

TEST_F(HidTransport, SetIdTransaction) {
    device_->reads.push_back(InputReport(SetIdReply({0x05})));
    const uint8_t id = 5;
    int32_t detail = 0;
    EXPECT_EQ(channel_.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 1, &id, 3000,
                                &detail),
              1);
    ASSERT_EQ(device_->written.size(), 1u);
    EXPECT_EQ(device_->written[0], ReportOf({0x01, 0x0E, 0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02,
                                             0xFD, 0x02, 0x5A, 0x05, 0x35, 0x06, 0x03}));
    EXPECT_EQ(channel_.ReplyData[0], 0x05);
}

// ---- the system's backend ----------------------------------------------

TEST(HidSystemBackend, OpensOnlyWhatIsPresent) {
    // Without the named device (most machines, and every CI run) the
    // system's list must simply not hold it.
    COM_Class channel;
    channel.Kind = TransportKind::Hid;
    channel.VendorId = 0x10000;  // no 16-bit identifier equals it
    channel.ProductId = 0;
    EXPECT_EQ(channel.Open(0), kHidNoDevice);
    EXPECT_EQ(channel.HidOpen, 0);
}

TEST(HidSystemBackend, OpensTheNamedDevice) {
    // VELQUINT_TEST_HID=vvvv:pppp (hexadecimal) names a device that is
    // plugged in and readable.
    const char* named = std::getenv("VELQUINT_TEST_HID");
    unsigned vendor = 0, product = 0;
    if (named == nullptr || std::sscanf(named, "%x:%x", &vendor, &product) != 2) {
        GTEST_SKIP() << "set VELQUINT_TEST_HID=vvvv:pppp to test against a real HID device";
    }
    COM_Class channel;
    channel.Kind = TransportKind::Hid;
    channel.VendorId = vendor;
    channel.ProductId = product;
    ASSERT_EQ(channel.Open(0), 0);
    EXPECT_EQ(channel.HidOpen, 1);
    channel.Close();
    EXPECT_EQ(channel.HidHandle, nullptr);
}

}  // namespace
