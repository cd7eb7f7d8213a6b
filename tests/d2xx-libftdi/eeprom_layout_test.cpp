// The 93C46 image the library writes and reads: where each field lands, what survives a round
// trip, and which images count as unprogrammed.
#include "eeprom_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace ftl {
namespace {

uint8_t Byte(const EepromImage& image, uint32_t at) {
    return static_cast<uint8_t>(at % 2 ? image[at / 2] >> 8 : image[at / 2]);
}

FtProgramData CableRecord() {
    FtProgramData record{};
    record.Signature2 = kProgramSignature2;
    record.VendorId = 0x1209;
    record.ProductId = 0x0002;
    record.MaxPower = 44;
    record.RemoteWakeup = 1;
    record.USBVersion5 = 0x0200;
    return record;
}

TEST(EepromLayout, CableIdentityLandsWhereTheChipReadsIt) {
    auto image = EncodeImage(CableRecord(), "Zelvorinex", "ZV7300LNK", "ZV000001");
    ASSERT_TRUE(image);
    struct Row {
        uint32_t at;
        uint8_t value;
        const char* what;
    } rows[] = {
        {0x02, 0x09, "vendor ID low"},
        {0x03, 0x12, "vendor ID high"},
        {0x04, 0x02, "product ID low"},
        {0x06, 0x00, "release low"},
        {0x07, 0x05, "release high"},
        {0x08, 0xA0, "bus powered, remote wake-up"},
        {0x09, 22, "max power / 2 mA"},
        {0x0D, 0x02, "USB 2.00"},
        {0x0E, 0x96, "manufacturer at"},
        {0x0F, 22, "manufacturer length"},
        {0x10, 0xAC, "product at"},
        {0x11, 20, "product length"},
        {0x12, 0xC0, "serial at"},
        {0x13, 18, "serial length"},
        {0x14, 0x46, "93C46"},
        {0x16, 22, "descriptor length"},
        {0x17, 0x03, "string descriptor"},
        {0x18, 'Z', "first character"},
        {0x19, 0x00, "UTF-16 high byte"},
        {0x52, 0x00, "user area, zeroed"},
    };
    for (const Row& row : rows) EXPECT_EQ(Byte(*image, row.at), row.value) << row.what;
    EXPECT_EQ((*image)[kChecksumWord], Checksum(*image));
    EXPECT_EQ(UserAreaOffset(*image), 0x52u);
    EXPECT_EQ(UserAreaSize(*image), 36u) << "48 words less 3 headers and 27 characters";
}

TEST(EepromLayout, EachFt2232FlagHasItsOwnBit) {
    struct Row {
        uint8_t FtProgramData::*field;
        uint32_t at;
        uint8_t mask;
    } rows[] = {
        {&FtProgramData::IFAIsFifo, 0x00, 0x01},
        {&FtProgramData::IFAIsFifoTar, 0x00, 0x02},
        {&FtProgramData::IFAIsFastSer, 0x00, 0x04},
        {&FtProgramData::AIsVCP, 0x00, 0x08},
        {&FtProgramData::AIsHighCurrent, 0x00, 0x10},
        {&FtProgramData::IFBIsFifo, 0x01, 0x01},
        {&FtProgramData::BIsVCP, 0x01, 0x08},
        {&FtProgramData::BIsHighCurrent, 0x01, 0x10},
        {&FtProgramData::IsoInA, 0x0A, 0x01},
        {&FtProgramData::IsoOutA, 0x0A, 0x02},
        {&FtProgramData::PullDownEnable5, 0x0A, 0x04},
        {&FtProgramData::SerNumEnable5, 0x0A, 0x08},
        {&FtProgramData::USBVersionEnable5, 0x0A, 0x10},
        {&FtProgramData::IsoInB, 0x0A, 0x20},
        {&FtProgramData::IsoOutB, 0x0A, 0x40},
    };
    for (const Row& row : rows) {
        FtProgramData record = CableRecord();
        record.*row.field = 1;
        auto image = EncodeImage(record, "M", "D", "S");
        ASSERT_TRUE(image);
        EXPECT_EQ(Byte(*image, row.at), row.mask) << "byte " << row.at;
        auto back = DecodeImage(*image);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->record.*row.field, 1) << "byte " << row.at;
    }
}

TEST(EepromLayout, RoundTripKeepsWhatTheChipStores) {
    FtProgramData record = CableRecord();
    record.SelfPowered = 1;
    record.MaxPower = 500;
    auto image = EncodeImage(record, "Zelvorinex", "Bench cable", "ZV123456");
    ASSERT_TRUE(image);
    auto back = DecodeImage(*image);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->record.VendorId, 0x1209);
    EXPECT_EQ(back->record.ProductId, 0x0002);
    EXPECT_EQ(back->record.MaxPower, 500);
    EXPECT_EQ(back->record.SelfPowered, 1);
    EXPECT_EQ(back->record.RemoteWakeup, 1);
    EXPECT_EQ(back->record.USBVersion5, 0x0200);
    EXPECT_EQ(back->record.Rev5, 1);
    EXPECT_EQ(back->manufacturer, "Zelvorinex");
    EXPECT_EQ(back->description, "Bench cable");
    EXPECT_EQ(back->serial, "ZV123456");
    EXPECT_EQ(back->manufacturerId, "ZV") << "read back from the serial number's start";
    EXPECT_EQ(back->userArea, std::vector<uint8_t>(UserAreaSize(*image), 0));
}

TEST(EepromLayout, StringsShareFortyEightWordsWithTheUserArea) {
    struct Row {
        size_t characters;  // in all three strings together
        bool fits;
        uint32_t userArea;
    } rows[] = {{3, true, 84}, {44, true, 2}, {45, true, 0}, {46, false, 0}};
    for (const Row& row : rows) {
        std::string description(row.characters - 2, 'D');
        auto image = EncodeImage(CableRecord(), "M", description, "S");
        ASSERT_EQ(image.has_value(), row.fits) << row.characters;
        if (image) {
            EXPECT_EQ(UserAreaSize(*image), row.userArea) << row.characters;
            EXPECT_TRUE(DecodeImage(*image)) << row.characters << ": the image reads back";
        }
    }
}

TEST(EepromLayout, UnprogrammedImagesAreRefused) {
    EepromImage erased;
    erased.fill(0xFFFF);
    EXPECT_FALSE(DecodeImage(erased)) << "erased";
    EepromImage zero{};
    zero[kChecksumWord] = Checksum(zero);
    EXPECT_FALSE(DecodeImage(zero)) << "checksum right, no strings";
    auto image = EncodeImage(CableRecord(), "M", "D", "S");
    ASSERT_TRUE(image);
    (*image)[1] ^= 1;
    EXPECT_FALSE(DecodeImage(*image)) << "one bit flipped";
}

TEST(EepromLayout, UserAreaWritesRenewTheChecksum) {
    auto image = EncodeImage(CableRecord(), "Zelvorinex", "ZV7300LNK", "ZV000001");
    ASSERT_TRUE(image);
    const uint8_t text[] = {'h', 'e', 'l', 'l', 'o'};
    PutUserArea(*image, text, sizeof text);
    auto back = DecodeImage(*image);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::string(back->userArea.begin(), back->userArea.begin() + 5), "hello");
    EXPECT_EQ(back->userArea[5], 0);
    EXPECT_EQ(back->serial, "ZV000001") << "strings untouched";
}

}  // namespace
}  // namespace ftl
