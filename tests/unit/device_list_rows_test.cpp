#include "discovery/DeviceListRows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
#include "discovery/TextFormats.h"
#include "tests/support/TestFrames.h"

using test_frames::Bytes;

namespace {

const Bytes kFullRecord = {
    0x00, 0x1a, 0x2b, 0xc3, 0x0d, 0xfe,  // MAC
    1,    5,                             // version 1.05
    192,  168,  1,    9,                 // IP
    255,  255,  0,    0,                 // mask
    10,   0,    0,    1,                 // gateway
    0x01, 0xF6,                          // port 502
    4,                                   // 19200
    0xAB, 0xCD,                          // further bytes
};

DeviceRowTexts Texts(const Bytes& record) {
    return MakeDeviceRowTexts(DeviceRecordView{record.data(), record.size()});
}

std::vector<uint8_t> Table(const std::vector<Bytes>& records) {
    std::vector<uint8_t> table(kDeviceTableSize, 0);
    size_t position = ResetDeviceTable(table.data());
    for (const Bytes& record : records) {
        AppendDeviceRecord(table.data(), table.size(), &position, record.data(), record.size());
    }
    return table;
}

TEST(TextFormats, MacIsUpperCaseHexPairsWithDots) {
    const uint8_t mac[] = {0x00, 0x1a, 0x2b, 0xc3, 0x0d, 0xfe};
    char text[kMacTextSize];
    FormatMacAddress(mac, text);
    EXPECT_STREQ(text, "00.1A.2B.C3.0D.FE");
}

TEST(TextFormats, IpIsDottedDecimalWithoutLeadingZeros) {
    const struct {
        std::vector<uint8_t> bytes;
        const char* text;
    } cases[] = {
        {{192, 168, 1, 9}, "192.168.1.9"},
        {{0, 0, 0, 0}, "0.0.0.0"},
        {{255, 255, 255, 255}, "255.255.255.255"},
        {{10, 0, 20, 7}, "10.0.20.7"},
    };
    for (const auto& c : cases) {
        char text[kIpTextSize];
        FormatIpAddress(c.bytes.data(), text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(DeviceRowTexts, FullRecordFillsEveryColumn) {
    const DeviceRowTexts row = Texts(kFullRecord);
    EXPECT_EQ(row.caption, "00.1A.2B.C3.0D.FE");
    const std::array<std::string, kSubItemCount> expected = {
        "192.168.1.9", "255.255.0.0", "10.0.0.1", "502", "19200", "1.05"};
    EXPECT_EQ(row.subItems, expected);
}

TEST(DeviceRowTexts, VersionShowsMinorWithAtLeastTwoDigits) {
    const struct {
        uint8_t major;
        uint8_t minor;
        const char* text;
    } cases[] = {
        {1, 5, "1.05"}, {1, 123, "1.123"}, {0, 0, "0.00"}, {2, 10, "2.10"}, {255, 255, "255.255"}};
    for (const auto& c : cases) {
        Bytes record = kFullRecord;
        record[6] = c.major;
        record[7] = c.minor;
        EXPECT_EQ(Texts(record).subItems[kSubItemVersion], c.text);
    }
}

TEST(DeviceRowTexts, EveryBaudCodeInTheTableAndNoneBeyond) {
    const char* rates[] = {"300", "1200", "4800", "9600", "19200", "38400", "57600", "115200"};
    for (int code = 0; code < 256; ++code) {
        Bytes record = kFullRecord;
        record[22] = static_cast<uint8_t>(code);
        EXPECT_EQ(Texts(record).subItems[kSubItemBaudRate], code < 8 ? rates[code] : "")
            << "code " << code;
    }
}

TEST(DeviceRowTexts, PortIsBigEndian) {
    Bytes record = kFullRecord;
    record[20] = 0xFF;
    record[21] = 0x00;
    EXPECT_EQ(Texts(record).subItems[kSubItemPort], "65280");
}

TEST(DeviceRowTexts, ShortRecordsShowOnlyTheFieldsTheyHoldWhole) {
    // Fields in column order: caption, IP, mask, gateway, port, baud, version,
    // with the record length from which each is held whole.
    const size_t holdsFrom[] = {6, 12, 16, 20, 22, 23, 8};
    for (size_t length = 0; length <= 23; ++length) {
        const Bytes record(kFullRecord.begin(), kFullRecord.begin() + static_cast<long>(length));
        const DeviceRowTexts row = Texts(record);
        const std::string texts[] = {row.caption,
                                     row.subItems[kSubItemIp],
                                     row.subItems[kSubItemSubmask],
                                     row.subItems[kSubItemGateway],
                                     row.subItems[kSubItemPort],
                                     row.subItems[kSubItemBaudRate],
                                     row.subItems[kSubItemVersion]};
        for (size_t field = 0; field < 7; ++field) {
            EXPECT_EQ(texts[field].empty(), length < holdsFrom[field])
                << "record of " << length << " bytes, field " << field << ": " << texts[field];
        }
    }
}

TEST(DeviceRowTexts, RowOfEachTableRecord) {
    const std::vector<uint8_t> table = Table({Bytes{0x01}, kFullRecord});
    DeviceRowTexts row;
    ASSERT_TRUE(DeviceRowTextsAt(table.data(), table.size(), 1, &row));
    EXPECT_EQ(row.caption, "00.1A.2B.C3.0D.FE");
    ASSERT_TRUE(DeviceRowTextsAt(table.data(), table.size(), 0, &row));
    EXPECT_EQ(row.caption, "");
    EXPECT_FALSE(DeviceRowTextsAt(table.data(), table.size(), 2, &row));
}

TEST(MacWarning, OneLinePerRecordWithUnprogrammedMac) {
    Bytes first = kFullRecord;
    first[3] = first[4] = first[5] = 0xFF;
    Bytes almost = kFullRecord;
    almost[3] = almost[4] = 0xFF;  // 00.1A.2B.FF.FF.FE is fine
    const Bytes second = {0xAA, 0xBB, 0xCC, 0xFF, 0xFF, 0xFF};
    const Bytes tooShort = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

    const struct {
        std::vector<Bytes> records;
        const char* warning;
    } cases[] = {
        {{kFullRecord, almost, tooShort}, ""},
        {{kFullRecord, first}, "MAC ID:00.1A.2B.FF.FF.FF\n"},
        {{first, almost, second}, "MAC ID:00.1A.2B.FF.FF.FF\nMAC ID:AA.BB.CC.FF.FF.FF\n"},
        {{}, ""},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> table = Table(c.records);
        EXPECT_EQ(BuildMacWarningText(table.data(), table.size()), c.warning);
    }
}

TEST(SearchOutcome, ListsWhateverWasStored) {
    const std::vector<uint8_t> empty = Table({});
    const std::vector<uint8_t> one = Table({kFullRecord});
    EXPECT_TRUE(SearchResultIsListed(1, one.data()));
    EXPECT_TRUE(SearchResultIsListed(255, one.data()));
    EXPECT_TRUE(SearchResultIsListed(kDiscoverTableFull, one.data()));
    EXPECT_FALSE(SearchResultIsListed(kDiscoverTableFull, empty.data()));
    EXPECT_FALSE(SearchResultIsListed(0, empty.data()));
    for (int failure = kDiscoverSocketFailed; failure >= kDiscoverSendFailed; --failure) {
        EXPECT_FALSE(SearchResultIsListed(failure, one.data())) << failure;
    }
}

}  // namespace
