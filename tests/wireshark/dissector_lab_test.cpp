// The plugin over traffic recorded in the lab between the tool's core and
// velquint-sim: a search, a broadcast and a direct setup, and a Set ID on
// each simulated device, most of whose TCP services misbehave. Runs inside
// the tool's lab namespace (add_lab_test). With VELQUINT_KEEP_CAPTURE naming
// a file, the recording is kept there.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
#include "setup/HexPairs.h"
#include "setup/SendSetupRequest.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LabSupport.h"
#include "tests/wireshark/Tshark.h"

namespace {

// Only catch a recorder that hangs; it records in well under a second.
constexpr int kRecorderLimitMs = 20000;
constexpr int kMarkEveryMs = 100;
// Datagrams that open and close a recording, to the discard port of the
// lab's gateway: they cross the recorded interface and reach no device.
// dumpcap says it captures a moment before it does, so the recording starts
// once the first of them shows in it.
constexpr char kRecordingStart[] = "velquint recording starts here";
constexpr char kRecordingEnd[] = "velquint recording ends here";
constexpr uint16_t kDiscardPort = 9;

constexpr uint32_t kConnectMs = 2000;
constexpr uint32_t kReplyMs = 3000;
constexpr uint8_t kNewId = 5;

// dumpcap on the tool's lab interface, its pcap stream read through a pipe.
class Recorder {
public:
    Recorder() : dumpcap_(DumpcapOptions()) {
        for (int waited = 0; dumpcap_.started() && !ready_ && waited < kRecorderLimitMs;
             waited += kMarkEveryMs) {
            ready_ = Mark(kRecordingStart) && ReadUntil(kRecordingStart, kMarkEveryMs);
        }
    }

    bool ready() const { return ready_; }

    // Closes the recording and writes it to `path`.
    bool Finish(const std::string& path) {
        if (!Mark(kRecordingEnd) || !ReadUntil(kRecordingEnd, kRecorderLimitMs)) {
            return false;
        }
        // Ending dumpcap ends the stream: whole packets up to the last.
        dumpcap_.Terminate();
        ReadUntil(nullptr, kRecorderLimitMs);
        dumpcap_.Wait(kRecorderLimitMs);
        std::ofstream(path, std::ios::binary) << stream_;
        return true;
    }

private:
    static ChildOptions DumpcapOptions() {
        ChildOptions options;
        options.program = VELQUINT_DUMPCAP;
        options.argv = {"dumpcap", "-q", "-i", "lab0", "-P", "-w", "-"};
        options.pipeStdout = true;
        // Room for a whole run, so that dumpcap never waits on this process.
        options.stdoutPipeBytes = 1 << 20;
        options.name = "dumpcap";
        return options;
    }

    static bool Mark(const char* text) {
        const char* address = std::getenv("VELQUINT_LAB_GATEWAY");
        sockaddr_in gateway{};
        gateway.sin_family = AF_INET;
        gateway.sin_port = htons(kDiscardPort);
        if (address == nullptr || inet_pton(AF_INET, address, &gateway.sin_addr) != 1) {
            return false;
        }
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const ssize_t sent = sendto(fd, text, std::strlen(text), 0,
                                    reinterpret_cast<sockaddr*>(&gateway), sizeof gateway);
        close(fd);
        return sent > 0;
    }

    // Reads the stream until it holds `text` (null: until it ends), each
    // read waiting at most `waitMs`.
    bool ReadUntil(const char* text, int waitMs) {
        while (text == nullptr || stream_.find(text) == std::string::npos) {
            const int got = dumpcap_.ReadOutput(&stream_, waitMs);
            if (got <= 0) {
                return text == nullptr && got == 0;
            }
        }
        return true;
    }

    ChildProcess dumpcap_;
    bool ready_ = false;
    std::string stream_;
};

// A simulated device, the simulator's faults for its TCP service, and what
// the plugin says about its Set ID reply.
struct Device {
    const char* mac;
    unsigned host;
    uint16_t port;
    const char* faults;
    const char* reply;   // Info after "Reply <sequence>, address 1"
    const char* expert;  // in some packet's expert messages (null: none)
};

const Device kDevices[] = {
    {"00.1A.2B.3C.4D.5E", 5, 4001, "", ", success, data 05", nullptr},
    {"00.1A.2B.00.00.01", 11, 4011, ",tcp-bad-crc=1", ", success, data 05 [bad CRC]", " wrong: 0x"},
    {"00.1A.2B.00.00.02", 12, 4012, ",tcp-end=4", ", success, data 05 [bad end marker]",
     "End marker 0x04 wrong"},
    {"00.1A.2B.00.00.03", 13, 4013, ",tcp-noise=40", ", success, data 05",
     "40 bytes before a start marker"},
    {"00.1A.2B.00.00.04", 14, 4014, ",tcp-result=129,tcp-data=0702",
     ", failure with a detail code (detail 207), data 07 02", "The device reports failure"},
    {"00.1A.2B.00.00.05", 15, 4015, ",tcp-count=12001", " [count 12001 above the limit]",
     "Count 12001 above the limit"},
    {"00.1A.2B.00.00.06", 16, 4016, ",tcp-bad-check=1", " [bad count check], success, data 05",
     "Count check 0x01 wrong"},
    {"00.1A.2B.00.00.07", 17, 4017, ",tcp-long=1", ", success, data 05", nullptr},
};
// The broadcast setup moves the first device here; the direct setup gives
// the second its own settings again.
constexpr unsigned kMovedHost = 9;

std::string DeviceIp(unsigned host) {
    return DeviceNetPrefix() + std::to_string(host);
}

SetupRequest SetupFor(const Device& device, unsigned newHost, bool broadcast) {
    SetupRequest request;
    uint8_t mac[kSetupMacLength + 1];  // and the zero byte behind the pairs
    ParseHexPairs(device.mac, mac);
    std::copy(mac, mac + kSetupMacLength, request.Mac);
    CopyAddressText(request.NewIp, DeviceIp(newHost));
    CopyAddressText(request.NewMask, "255.255.255.0");
    CopyAddressText(request.NewGateway, DeviceIp(1));
    CopyAddressText(request.CurrentIp, DeviceIp(device.host));
    request.Port = device.port;
    request.BaudCode = 3;
    request.Broadcast = broadcast ? 1 : 0;
    return request;
}

int SetId(COM_Class& channel, const std::string& ip, uint16_t port) {
    std::strncpy(channel.HostAddress, ip.c_str(), sizeof channel.HostAddress - 1);
    channel.HostPort = port;
    channel.Kind = TransportKind::Tcp;
    if (channel.Open(kConnectMs) != kChannelOk) {
        return kTcpConnectFailed;
    }
    uint8_t id = kNewId;
    int32_t detail = 0;
    const int result = channel.Transact(1, 2, 90, 1, &id, kReplyMs, &detail);
    channel.Close();
    return result;
}

bool Shows(const TsharkOutput& output, const std::string& field, const std::string& text) {
    for (const PacketFields& packet : output.packets) {
        const auto value = packet.find(field);
        if (value != packet.end() && value->second.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(DissectorInTheLab, ShowsTheToolsExchangesWithTheSimulator) {
    RequireLabNamespace();
    std::vector<std::string> arguments;
    for (const Device& device : kDevices) {
        arguments.push_back("--device");
        arguments.push_back(std::string("mac=") + device.mac + ",ip=" + DeviceIp(device.host) +
                            ",port=" + std::to_string(device.port) + ",version=1.05,baud=3" +
                            device.faults);
    }
    SimProcess sim(arguments);
    ASSERT_TRUE(sim.ready()) << sim.failure();
    const TempDir dir;
    {
        Recorder recorder;
        ASSERT_TRUE(recorder.ready()) << "dumpcap records nothing on lab0";

        static uint8_t table[kDeviceTableSize];
        ASSERT_EQ(static_cast<int>(std::size(kDevices)),
                  DiscoverDevices(table, sizeof table, kSearchFirstWaitSeconds));
        ASSERT_EQ(kSetupSuccess, SendSetupRequest(SetupFor(kDevices[0], kMovedHost, true)));
        ASSERT_EQ(kSetupSuccess, SendSetupRequest(SetupFor(kDevices[1], kDevices[1].host, false)));
        COM_Class channel;
        ASSERT_EQ(1, SetId(channel, DeviceIp(kMovedHost), kDevices[0].port));
        for (size_t n = 1; n < std::size(kDevices); ++n) {
            SetId(channel, DeviceIp(kDevices[n].host), kDevices[n].port);
        }
        ASSERT_TRUE(recorder.Finish(dir.File("lab.pcap")));
    }
    if (const char* keep = std::getenv("VELQUINT_KEEP_CAPTURE")) {
        std::ofstream(keep, std::ios::binary) << std::ifstream(dir.File("lab.pcap")).rdbuf();
    }

    const TsharkOutput output = RunTshark(dir.File("lab.pcap"), {});
    ASSERT_EQ(0, output.status) << output.errors;
    EXPECT_EQ("", output.LuaErrors());

    const std::string moved = DeviceIp(kMovedHost);
    std::vector<std::string> infos = {
        "Search request",
        std::string("Setup of ") + kDevices[0].mac + " → " + moved,
        std::string("Setup confirmed by ") + kDevices[0].mac,
        std::string("Setup of ") + kDevices[1].mac + " → " + DeviceIp(kDevices[1].host),
        std::string("Setup confirmed by ") + kDevices[1].mac,
    };
    for (size_t n = 0; n < std::size(kDevices); ++n) {
        const std::string sequence = std::to_string(n + 1);
        infos.push_back(std::string("Device ") + kDevices[n].mac + " " +
                        DeviceIp(kDevices[n].host));
        infos.push_back("Request " + sequence +
                        ", address 1, function 2, command 90 (Set ID), data 05");
        infos.push_back("Reply " + sequence + ", address 1" + kDevices[n].reply);
        if (kDevices[n].expert != nullptr) {
            EXPECT_TRUE(Shows(output, kExpertField, kDevices[n].expert)) << kDevices[n].expert;
        }
    }
    for (const std::string& info : infos) {
        EXPECT_TRUE(Shows(output, kInfoField, info)) << info;
    }
}

}  // namespace
