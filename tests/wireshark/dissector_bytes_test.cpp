// The plugin over captures written here from exact bytes: the unit tests'
// frames, frames the tool's own builder makes, and damaged ones.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "channel/PayloadCipher.h"
#include "channel/RequestFrame.h"
#include "tests/support/LabSupport.h"
#include "tests/unit/ChannelTestSupport.h"
#include "tests/wireshark/Tshark.h"

namespace {

using channeltest::Bytes;
using channeltest::Concat;
using channeltest::Reply;
using channeltest::ReplyFrame;

constexpr uint16_t kDatagramPort = 3195;
constexpr uint16_t kChannelPort = 4001;  // no dissector of Wireshark's own claims it
constexpr uint16_t kClaimedPort = 5000;  // one claims this one
constexpr uint16_t kToolTcpPort = 40000;

// One packet between the tool (10.231.0.2) and a device (10.231.101.5), of
// which the capture keeps `kept` payload bytes; the tool's datagrams go to
// the broadcast address.
struct Packet {
    bool udp;
    bool fromTool;
    Bytes payload;
    uint16_t devicePort = kChannelPort;
    size_t kept = SIZE_MAX;
};

Packet ToolBroadcasts(Bytes payload) {
    return {true, true, std::move(payload), kDatagramPort};
}
Packet DeviceAnswers(Bytes payload) {
    return {true, false, std::move(payload), kDatagramPort};
}
Packet ToolSends(Bytes payload, uint16_t port = kChannelPort) {
    return {false, true, std::move(payload), port};
}
Packet DeviceSends(Bytes payload, size_t kept = SIZE_MAX) {
    return {false, false, std::move(payload), kChannelPort, kept};
}

void Put(std::string& out, uint32_t value, int bytes, bool bigEndian = true) {
    for (int n = 0; n < bytes; ++n) {
        out += static_cast<char>(value >> (8 * (bigEndian ? bytes - 1 - n : n)));
    }
}

// A pcap file of Ethernet frames. TCP sequence numbers count on in each
// direction, so that TCP reassembles what belongs together; checksums stay
// zero, which Wireshark does not check unless asked.
void WriteCapture(const std::string& path, const std::vector<Packet>& packets) {
    std::string file;
    for (uint32_t word : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 65535u, 1u}) {
        Put(file, word, 4, false);
    }
    std::map<bool, uint32_t> sequence;
    uint32_t second = 0;
    for (const Packet& p : packets) {
        const uint32_t tool = 0x0AE70002;
        const uint32_t device = 0x0AE76505;
        const uint16_t toolPort = p.udp ? kDatagramPort : kToolTcpPort;
        std::string transport;
        Put(transport, p.fromTool ? toolPort : p.devicePort, 2);
        Put(transport, p.fromTool ? p.devicePort : toolPort, 2);
        if (p.udp) {
            Put(transport, static_cast<uint32_t>(8 + p.payload.size()) << 16, 4);  // checksum 0
        } else {
            Put(transport, sequence[p.fromTool], 4);
            Put(transport, sequence[!p.fromTool], 4);
            Put(transport, 0x5018FFFF, 4);  // 20-byte header, PSH and ACK, window
            Put(transport, 0, 4);
            sequence[p.fromTool] += static_cast<uint32_t>(p.payload.size());
        }
        std::string frame("\x02\0\0\0\0\x01\x02\0\0\0\0\x02\x08\0", 14);
        Put(frame, 0x4500, 2);
        Put(frame, static_cast<uint32_t>(20 + transport.size() + p.payload.size()), 2);
        Put(frame, 0x4000, 4);
        Put(frame, p.udp ? 0x40110000 : 0x40060000, 4);
        Put(frame, p.fromTool ? tool : device, 4);
        Put(frame, p.fromTool ? (p.udp ? 0xFFFFFFFF : device) : tool, 4);
        frame += transport + std::string(p.payload.begin(), p.payload.end());
        const size_t kept = frame.size() - p.payload.size() + std::min(p.kept, p.payload.size());
        for (uint32_t word :
             {++second, 0u, static_cast<uint32_t>(kept), static_cast<uint32_t>(frame.size())}) {
            Put(file, word, 4, false);
        }
        file += frame.substr(0, kept);
    }
    std::ofstream(path, std::ios::binary) << file;
}

Bytes Hex(const std::string& text) {
    Bytes bytes;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) {
        for (size_t n = 0; n + 1 < word.size(); n += 2) {
            bytes.push_back(static_cast<uint8_t>(std::stoul(word.substr(n, 2), nullptr, 16)));
        }
    }
    return bytes;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The payload cipher as the tool keys it for each frame.
struct ToolCipher {
    int32_t i = 0;
    int32_t j = 0;
    uint8_t box[kCipherBoxSize];
    Rc4 rc4{i, j, box};
    ToolCipher() {
        rc4.Key(reinterpret_cast<const uint8_t*>(kPayloadCipherKey), kPayloadCipherKeyLength);
    }
};

// A Set ID request frame as the tool builds it, with `data` for the ID.
Bytes Request(uint8_t sequence, Bytes data, uint8_t markerSet = 0, bool enciphered = false) {
    ToolCipher cipher;
    Bytes frame(kRequestFrameSize);
    frame.resize(BuildRequestFrame(
        frame.data(), MarkersFor(markerSet),
        RequestFields{sequence, 1, 2, 90, data.data(), static_cast<uint32_t>(data.size())},
        enciphered ? &cipher.rc4 : nullptr));
    return frame;
}

Bytes Enciphered(Bytes data) {
    ToolCipher().rc4.Apply(data.data(), data.size());
    return data;
}

// `frame` with byte `at` changed; resealed: with its CRC made anew.
Bytes WithByte(Bytes frame, size_t at, uint8_t value, bool resealed = false) {
    frame.at(at) = value;
    if (resealed) {
        frame.resize(frame.size() - 3);
        channeltest::AppendCrcAndEnd(frame);
    }
    return frame;
}

std::vector<Packet> InPieces(const Bytes& frame, std::vector<long> cuts, uint16_t port) {
    std::vector<Packet> pieces;
    cuts.push_back(static_cast<long>(frame.size()));
    long from = 0;
    for (long cut : cuts) {
        pieces.push_back(ToolSends(Bytes(frame.begin() + from, frame.begin() + cut), port));
        from = cut;
    }
    return pieces;
}

// What tshark must show on one packet: its Info column exactly (unless
// null), each "field=value" exactly, and an expert message holding `expert`;
// no expert message at all when `expert` is null.
struct Check {
    int packet;
    const char* info;
    const char* fields;
    const char* expert;
};

struct ByteCase {
    const char* name;
    std::vector<Packet> packets;
    std::vector<Check> checks;
    std::vector<std::string> options = {};  // tshark options besides the usual
};

const Bytes kSetIdReply = ReplyFrame(Reply{});
const Bytes kCountAboveLimit = Hex("91 00 01000000 01 00 30 00 E12E 05 0000 03");

const ByteCase kCases[] = {
    {"SearchRequest",
     {ToolBroadcasts(Concat(Text("KVM47JS"), {1}))},
     {{1, "Search request", "velquint.identifier=KVM47JS velquint.command=1", nullptr}}},
    {"DiscoveryReplyWithEveryField",
     {DeviceAnswers(Concat(Text("KVM47JR"),
                           Hex("01 001A2B3C4D5E 0105 0A000005 FFFFFF00 0A000001 0FA1 07 0102")))},
     {{1, "Device 00.1A.2B.3C.4D.5E 10.0.0.5",
       "velquint.mac=00.1A.2B.3C.4D.5E velquint.version=1.05 velquint.ip=10.0.0.5 "
       "velquint.mask=255.255.255.0 velquint.gateway=10.0.0.1 velquint.port=4001 "
       "velquint.baud_code=7 velquint.baud_rate=115200 velquint.extra=0102",
       nullptr}}},
    {"ShortestDiscoveryReply",
     {DeviceAnswers(Concat(Text("KVM47JR"), {1, 0x00}))},
     {{1, "Device", "velquint.command=1", "Record of 1 byte: the fields from byte 9"}}},
    {"SetupDatagramOfTheUnitTests",
     {ToolBroadcasts(
         Concat(Text("KVM47JS"), Hex("02 001A2B3C4D5E C0A80114 FFFFFF00 C0A80101 01F6 FF")))},
     {{1, "Setup of 00.1A.2B.3C.4D.5E → 192.168.1.20",
       "velquint.mac=00.1A.2B.3C.4D.5E velquint.new_ip=192.168.1.20 "
       "velquint.new_mask=255.255.255.0 velquint.new_gateway=192.168.1.1 velquint.new_port=502 "
       "velquint.new_baud_code=255 velquint.baud_rate=",
       nullptr}}},
    {"SetupReplyWithCode3",
     {DeviceAnswers(Concat(Text("KVM47JR"), Hex("03 001A2B3C4D5E")))},
     {{1, "Setup confirmed by 00.1A.2B.3C.4D.5E", "velquint.command=3", nullptr}}},
    {"DatagramsTheToolRefuses",
     {DeviceAnswers(Concat(Text("KVM47JR"), {1})),
      DeviceAnswers(Concat(Text("KVM47JR"), Hex("07 001A2B3C4D5E"))),
      DeviceAnswers(Concat(Text("KVM47JR"), Hex("02 001A2B3C4D"))),
      DeviceAnswers(Concat(Concat(Text("KVM47JR"), {1}), Bytes(249, 0x55))),
      ToolBroadcasts(Concat(Text("KVM47JS"), {1, 0})),
      DeviceAnswers(Concat(Text("KVM47JX"), Hex("01 001A2B3C4D5E"))), DeviceAnswers(Text("hello"))},
     {{1, "Not accepted: discovery reply of 8 bytes; the tool takes 9 or more", "", "takes 9"},
      {2, nullptr, "velquint.command=7", "reply with command code 7"},
      {3, nullptr, "", "setup reply of 13 bytes; the tool takes 14 or more"},
      {4, nullptr, "velquint.mac=", "discovery reply of 257 bytes; the tool reads at most 256"},
      {5, nullptr, "", "search request of 9 bytes; the tool sends 8"},
      {6, nullptr, "velquint.identifier=", "opens with neither KVM47JS nor KVM47JR"},
      {7, nullptr, "", "5 bytes, shorter than the 8-byte header"}}},
    {"DatagramCutShortInTheCapture",
     {{true, false, Concat(Text("KVM47JR"), Hex("01 001A2B3C4D5E 0105 0A000005")), kDatagramPort,
       10}},
     {{1, "Cut short in the capture: discovery reply",
       "velquint.mac=", "The capture holds 10 of the datagram's 20 bytes"}}},
    {"SetIdOfTheUnitTests",
     {ToolSends(test_frames::kSetIdFrame), DeviceSends(kSetIdReply)},
     {{1, "Request 1, address 1, function 2, command 90 (Set ID), data 05",
       "velquint_frame.start=0x19 velquint_frame.sequence=1 velquint_frame.address=1 "
       "velquint_frame.function=2 velquint_frame.count_check=0xfd "
       "velquint_frame.count_check_ok=1 velquint_frame.count=2 velquint_frame.command=90 "
       "velquint_frame.data=05 velquint_frame.crc=0x0635 velquint_frame.crc_ok=1 "
       "velquint_frame.end=0x03 velquint_frame.end_ok=1",
       nullptr},
      {2, "Reply 1, address 1, success, data 05",
       "velquint_frame.start=0x91 velquint_frame.result.code=0 velquint_frame.count=1 "
       "velquint_frame.crc_ok=1 velquint_frame.end_ok=1",
       nullptr}}},
    {"FrameOverThreeSegments",
     InPieces(test_frames::kSetIdFrame, {10, 12}, kChannelPort),
     {{3, "Request 1, address 1, function 2, command 90 (Set ID), data 05",
       "tcp.reassembled.length=14 velquint_frame.crc_ok=1", nullptr}}},
    {"FrameOverSegmentsThroughDecodeAs",
     InPieces(test_frames::kSetIdFrame, {3}, kClaimedPort),
     {{2, nullptr, "tcp.reassembled.length=14 velquint_frame.crc_ok=1", nullptr}},
     {"-d", "tcp.port==5000,velquint_frame"}},
    {"PortPreference",
     {ToolSends(test_frames::kSetIdFrame, kClaimedPort)},
     {{1, nullptr, "velquint_frame.crc_ok=1", nullptr}},
     {"-o", "velquint_frame.ports:5000"}},
    {"TwoFramesInOneSegment",
     {ToolSends(Concat(test_frames::kSetIdFrame, Request(2, {6})))},
     {{1,
       "Request 1, address 1, function 2, command 90 (Set ID), data 05; "
       "Request 2, address 1, function 2, command 90 (Set ID), data 06",
       "velquint_frame.sequence=1,2 velquint_frame.crc_ok=1,1", nullptr}}},
    {"LongCountForms",
     {ToolSends(Request(1, Bytes(255, 0x11))), ToolSends(Request(2, Bytes(4085, 0x22))),
      DeviceSends(ReplyFrame(Reply().WithData(Bytes(300, 0x33)))),
      DeviceSends(ReplyFrame(Reply().InLongForm()))},
     {{1, nullptr, "velquint_frame.long_form=0x00 velquint_frame.count=256 velquint_frame.crc_ok=1",
       nullptr},
      {2, nullptr, "velquint_frame.count=4086 velquint_frame.crc_ok=1", nullptr},
      {3, nullptr, "velquint_frame.count=300 velquint_frame.crc_ok=1", nullptr},
      {4, "Reply 1, address 1, success, data 05", "velquint_frame.long_form=0x00", nullptr}}},
    {"MarkerRow1",
     {ToolSends(Request(1, {5}, 1)), DeviceSends(ReplyFrame(Reply().WithMarkers(0x9A, 0x06)))},
     {{1, nullptr, "velquint_frame.start=0xa9 velquint_frame.end=0x06 velquint_frame.end_ok=1",
       nullptr},
      {2, nullptr, "velquint_frame.start=0x9a velquint_frame.crc_ok=1 velquint_frame.end_ok=1",
       nullptr}}},
    {"DeviceResults",
     {DeviceSends(ReplyFrame(Reply().WithResult(0x81).WithData({7, 2}))),
      DeviceSends(ReplyFrame(Reply().WithResult(0x80))),
      DeviceSends(ReplyFrame(Reply().WithResult(0x04))),
      DeviceSends(ReplyFrame(Reply().WithResult(77)))},
     {{1, "Reply 1, address 1, failure with a detail code (detail 207), data 07 02",
       "velquint_frame.result.code=1 velquint_frame.result.bit7=1 velquint_frame.detail=207",
       "The device reports failure with a detail code (result 1)"},
      {2, "Reply 1, address 1, success, data 05", "velquint_frame.result.bit7=1", nullptr},
      {3, nullptr, "velquint_frame.result.code=4", "The device reports failure 4"},
      {4, nullptr, "velquint_frame.result.code=77", "failure (other) (result 77)"}}},
    {"PayloadCipher",
     {ToolSends(Request(1, {5}, 0, true)),
      DeviceSends(ReplyFrame(Reply().WithData(Enciphered({5}))))},
     {{1, "Request 1, address 1, function 2, command 90 (Set ID), data 05",
       "velquint_frame.command=90 velquint_frame.data=05 velquint_frame.crc_ok=1", nullptr},
      {2, "Reply 1, address 1, success, data 05", "velquint_frame.data=05", nullptr}},
     {"-o", "velquint_frame.cipher:TRUE"}},
    {"NoiseBeforeTheReply",
     {ToolSends(test_frames::kSetIdFrame),
      DeviceSends(Concat(Hex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"
                             "2021222324252627"),
                         kSetIdReply))},
     {{2, "40 bytes skipped; Reply 1, address 1, success, data 05", "velquint_frame.crc_ok=1",
       "40 bytes before a start marker"}}},
    {"DamagedFrames",
     {DeviceSends(WithByte(kSetIdReply, 11, 0x00)),
      DeviceSends(WithByte(kSetIdReply, 8, 0x01, true)),
      DeviceSends(WithByte(kSetIdReply, 13, 0x04)), DeviceSends(kCountAboveLimit),
      DeviceSends(Hex("91 00 01000000 01 00 FF 00 0000 05 0000 03")),
      ToolSends(Hex("19 01 01000000 02 F7 00 F70F 5A")), DeviceSends(kSetIdReply, 5),
      DeviceSends(Bytes(kSetIdReply.begin(), kSetIdReply.end() - 2))},
     {{1, "Reply 1, address 1, success, data 05 [bad CRC]", "velquint_frame.crc_ok=0",
       "CRC 0xCD00 wrong: 0xCD69"},
      {2, nullptr, "velquint_frame.count_check_ok=0 velquint_frame.crc_ok=1",
       "Count check 0x01 wrong: 0xFE for a count of 1"},
      {3, nullptr, "velquint_frame.end=0x04 velquint_frame.end_ok=0",
       "End marker 0x04 wrong: 0x03 for marker row 0"},
      {4, "Reply 1, address 1 [count 12001 above the limit]; 4 bytes skipped",
       "velquint_frame.count=12001", "Count 12001 above the limit of 12000 data bytes"},
      {5, nullptr, "", "Long-form count of zero"},
      {6, nullptr, "velquint_frame.count=4087", "Count 4087 above the limit of 4086"},
      {7, nullptr, "", "Frame cut short at 5 bytes, within its header: the capture did not keep"},
      {8, nullptr, "",
       "Frame cut short at 12 of its 14 bytes: the capture ends before the rest of it"}}},
};

class DissectorOverBytes : public testing::TestWithParam<ByteCase> {};

TEST_P(DissectorOverBytes, ShowsWhatTheBytesSay) {
    const ByteCase& c = GetParam();
    const TempDir dir;
    WriteCapture(dir.File("case.pcap"), c.packets);
    std::vector<std::string> fields;
    for (const Check& check : c.checks) {
        std::istringstream pairs(check.fields);
        for (std::string pair; pairs >> pair;) {
            fields.push_back(pair.substr(0, pair.find('=')));
        }
    }
    const TsharkOutput output = RunTshark(dir.File("case.pcap"), fields, c.options);
    ASSERT_EQ(0, output.status) << output.errors;
    EXPECT_EQ("", output.LuaErrors());
    ASSERT_EQ(c.packets.size(), output.packets.size()) << output.errors;

    for (const Check& check : c.checks) {
        PacketFields shown = output.packets.at(static_cast<size_t>(check.packet - 1));
        SCOPED_TRACE("packet " + std::to_string(check.packet));
        if (check.info != nullptr) {
            EXPECT_EQ(check.info, shown[kInfoField]);
        }
        std::istringstream pairs(check.fields);
        for (std::string pair; pairs >> pair;) {
            const size_t equals = pair.find('=');
            EXPECT_EQ(pair.substr(equals + 1), shown[pair.substr(0, equals)]) << pair;
        }
        if (check.expert == nullptr) {
            EXPECT_EQ("", shown[kExpertField]);
        } else {
            EXPECT_NE(std::string::npos, shown[kExpertField].find(check.expert))
                << shown[kExpertField];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DissectorOverBytes, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ByteCase>& info) {
                             return std::string(info.param.name);
                         });

// Random bytes on the datagram port and on a channel port, taken there by
// the heuristic and by Decode As, with and without the cipher: the plugin
// shows every datagram and never fails.
TEST(DissectorOverRandomBytes, NeverRaisesALuaError) {
    std::mt19937 random(3195);
    const uint8_t markers[] = {0x19, 0x91, 0xA9, 0x9A, 0x03, 0x06, 0x00};
    std::vector<Packet> packets;
    for (int n = 0; n < 2000; ++n) {
        Bytes payload(1 + random() % (n % 7 == 0 ? 320 : 40));
        for (uint8_t& byte : payload) {
            byte = random() % 3 == 0 ? markers[random() % sizeof markers] : random() % 256;
        }
        const bool fromTool = random() % 2 == 0;
        if (n % 2 == 0) {
            packets.push_back(fromTool ? ToolBroadcasts(payload) : DeviceAnswers(payload));
        } else {
            packets.push_back(fromTool ? ToolSends(payload) : DeviceSends(payload));
        }
        packets.back().kept = n % 5 == 0 ? 1 + random() % 40 : SIZE_MAX;
    }
    const TempDir dir;
    WriteCapture(dir.File("random.pcap"), packets);
    const std::vector<std::vector<std::string>> ways = {
        {}, {"-d", "tcp.port==4001,velquint_frame", "-o", "velquint_frame.cipher:TRUE"}};
    for (const std::vector<std::string>& options : ways) {
        const TsharkOutput output =
            RunTshark(dir.File("random.pcap"), {"_ws.col.Protocol"}, options);
        ASSERT_EQ(0, output.status) << output.errors;
        EXPECT_EQ("", output.LuaErrors());
        ASSERT_EQ(packets.size(), output.packets.size());
        for (size_t n = 0; n < packets.size(); n += 2) {
            EXPECT_EQ("Velquint", output.packets[n].at("_ws.col.Protocol")) << "datagram " << n + 1;
        }
    }
}

}  // namespace
