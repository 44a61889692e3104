#include "channel/Crc16Arc.h"

#include <gtest/gtest.h>

#include "ChannelTestSupport.h"

TEST(Crc16Arc, CheckValueOverTheNineDigits) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0xBB3D, Crc16Arc(digits, sizeof(digits)));
}

TEST(Crc16Arc, WorkedSetIdRequest) {
    // The Set ID request for ID 5, first of the run, up to its data byte.
    const uint8_t head[] = {0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0xFD, 0x02, 0x5A, 0x05};
    EXPECT_EQ(0x0635, Crc16Arc(head, sizeof(head)));
}

TEST(Crc16Arc, EmptyInputIsTheInitialValue) {
    EXPECT_EQ(0x0000, Crc16Arc(nullptr, 0));
}

TEST(Crc16Arc, TableAgreesWithTheBitwiseDefinitionForEveryByte) {
    for (int byte = 0; byte < 256; ++byte) {
        const uint8_t pair[] = {static_cast<uint8_t>(byte), 0xA5};
        ASSERT_EQ(channeltest::BitwiseCrc16Arc({pair[0], pair[1]}), Crc16Arc(pair, sizeof(pair)))
            << "byte " << byte;
    }
}

TEST(Crc16Arc, ContinuesAcrossPieces) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0xBB3D, Crc16Arc(digits + 4, 5, Crc16Arc(digits, 4)));
}
