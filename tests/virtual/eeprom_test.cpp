// EEPROM: program, read back, erase, user-area limits, and identity after re-enumeration.
#include <cstring>
#include <string>

#include "vcable_fixture.h"

using namespace vcable;

namespace {

class EepromTest : public VcableTest {
  protected:
    // A host's programming record: signatures set, strings pointing at its own buffers.
    struct Record {
        FtProgramData data{};
        char manufacturer[32] = {};
        char manufacturerId[16] = {};
        char description[64] = {};
        char serial[16] = {};

        Record() {
            data.signature1 = kProgramSignature1;
            data.signature2 = kProgramSignature2;
            data.version = 1;
            data.manufacturer = manufacturer;
            data.manufacturerId = manufacturerId;
            data.description = description;
            data.serialNumber = serial;
        }
        Record(const char* m, const char* id, const char* d, const char* s) : Record() {
            std::strcpy(manufacturer, m);
            std::strcpy(manufacturerId, id);
            std::strcpy(description, d);
            std::strcpy(serial, s);
            data.vendorId = 0x1234;
            data.productId = 0x5678;
            data.maxPower = 44;
        }
    };
};

TEST_F(EepromTest, ProgramThenReadBackFillsTheCallersBuffers) {
    void* a = OpenAt(0x0211);
    Record written("Acme", "AC", "Gadget", "G0001");
    ASSERT_EQ(FT_EraseEE(a), kFtOk);
    ASSERT_EQ(FT_EE_Program(a, &written.data), kFtOk);
    Record read;
    ASSERT_EQ(FT_EE_Read(a, &read.data), kFtOk);
    EXPECT_STREQ(read.manufacturer, "Acme");
    EXPECT_STREQ(read.manufacturerId, "AC");
    EXPECT_STREQ(read.description, "Gadget");
    EXPECT_STREQ(read.serial, "G0001");
    EXPECT_EQ(read.data.description, read.description);  // the caller's pointers stay
    EXPECT_EQ(read.data.vendorId, 0x1234);
    EXPECT_EQ(read.data.productId, 0x5678);
    EXPECT_EQ(read.data.maxPower, 44);
    VcEepromView view;
    ASSERT_EQ(vc_eeprom_view(0, &view), 0);
    EXPECT_STREQ(view.description, "Gadget");
    EXPECT_EQ(view.programs, 1u);
    EXPECT_EQ(view.erases, 1u);
}

TEST_F(EepromTest, DefaultCableReadsBackItsFactoryIdentity) {
    void* b = OpenAt(0x0212);  // either channel reaches the chip's EEPROM
    Record read;
    ASSERT_EQ(FT_EE_Read(b, &read.data), kFtOk);
    EXPECT_STREQ(read.manufacturer, "Zelvorinex");
    EXPECT_STREQ(read.manufacturerId, "ZV");
    EXPECT_STREQ(read.description, "ZV7300LNK");
    EXPECT_STREQ(read.serial, "ZV000001");
}

TEST_F(EepromTest, BadRecordsAndBlankChipsAreRefused) {
    void* a = OpenAt(0x0211);
    Record badSignature("Acme", "AC", "Gadget", "G1");
    badSignature.data.signature2 = 0;
    EXPECT_EQ(FT_EE_Program(a, &badSignature.data), kFtInvalidParameter);
    Record nullString("Acme", "AC", "Gadget", "G1");
    nullString.data.serialNumber = nullptr;
    EXPECT_EQ(FT_EE_Program(a, &nullString.data), kFtInvalidParameter);
    Record longSerial("Acme", "AC", "Gadget", "G1");
    std::memset(longSerial.serial, 'x', 15);  // 15 characters still fit with the NUL
    EXPECT_EQ(FT_EE_Program(a, &longSerial.data), kFtOk);
    char tooLong[40];
    std::memset(tooLong, 'x', 39);
    tooLong[39] = '\0';
    longSerial.data.serialNumber = tooLong;
    EXPECT_EQ(FT_EE_Program(a, &longSerial.data), kFtEepromWriteFailed);
    EXPECT_EQ(FT_EE_Program(a, nullptr), kFtInvalidParameter);

    ASSERT_EQ(FT_EraseEE(a), kFtOk);
    Record read;
    EXPECT_EQ(FT_EE_Read(a, &read.data), kFtEepromNotProgrammed);
    uint32_t size = 0;
    EXPECT_EQ(FT_EE_UASize(a, &size), kFtEepromNotProgrammed);
}

TEST_F(EepromTest, StringsAndUserAreaShareTheEepromsSpace) {
    void* a = OpenAt(0x0211);
    struct Row {
        std::string manufacturer, description, serial;
        uint32_t status;
        uint32_t userArea;  // bytes FT_EE_UASize reports afterwards
    };
    const Row rows[] = {
        {"Acme", "Gadget", "G1", kFtOk, 66},  // 15 words of strings leave 33 words
        {"Zelvorinex", "ZV7300LNK", "ZV000001", kFtOk, 36},
        {std::string(15, 'm'), std::string(20, 'd'), std::string(10, 's'), kFtOk, 0},
        // One character more than the 48 words hold: refused, the EEPROM keeps what it had.
        {std::string(15, 'm'), std::string(21, 'd'), std::string(10, 's'), kFtEepromWriteFailed, 0},
    };
    for (const Row& row : rows) {
        Record record(row.manufacturer.c_str(), "XX", row.description.c_str(), row.serial.c_str());
        EXPECT_EQ(FT_EE_Program(a, &record.data), row.status) << row.description;
        uint32_t size = 1234;
        ASSERT_EQ(FT_EE_UASize(a, &size), kFtOk);
        EXPECT_EQ(size, row.userArea) << row.description;
    }
    VcEepromView view{};
    vc_eeprom_view(0, &view);
    EXPECT_EQ(std::string(view.description), std::string(20, 'd'));

    // A test may fix the size whatever the strings leave.
    vc_set_user_area_size(0, 8);
    Record record("Acme", "AC", "Gadget", "G1");
    ASSERT_EQ(FT_EE_Program(a, &record.data), kFtOk);
    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(a, &size), kFtOk);
    EXPECT_EQ(size, 8u);
}

TEST_F(EepromTest, UserAreaLimits) {
    void* a = OpenAt(0x0211);
    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(a, &size), kFtOk);
    ASSERT_EQ(size, 36u);  // what the default cable's strings leave

    std::vector<uint8_t> text = {'h', 'i', '!'};
    EXPECT_EQ(FT_EE_UAWrite(a, text.data(), 3), kFtOk);
    std::vector<uint8_t> tooLong(37, 'x');
    EXPECT_EQ(FT_EE_UAWrite(a, tooLong.data(), 37), kFtEepromWriteFailed);

    struct Row {
        uint32_t asked;
        uint32_t delivered;
    };
    for (Row row : {Row{2, 2}, Row{36, 36}, Row{200, 36}, Row{0, 0}}) {
        std::vector<uint8_t> buffer(row.asked + 1, 0xEE);
        uint32_t read = 1234;
        EXPECT_EQ(FT_EE_UARead(a, buffer.data(), row.asked, &read), kFtOk);
        EXPECT_EQ(read, row.delivered) << "asked " << row.asked;
        EXPECT_EQ(buffer[row.delivered], 0xEE) << "wrote past the delivered bytes";
        if (row.delivered >= 3) {
            EXPECT_BYTES_EQ((std::vector<uint8_t>{'h', 'i', '!', 0}),
                            (std::vector<uint8_t>(buffer.begin(), buffer.begin() + 4)));
        }
    }
}

TEST_F(EepromTest, ProgrammingZeroesTheUserAreaAndErasingBlanksIt) {
    void* a = OpenAt(0x0211);
    std::vector<uint8_t> text(5, 'x');
    FT_EE_UAWrite(a, text.data(), 5);
    Record written("Acme", "AC", "Gadget", "G1");
    ASSERT_EQ(FT_EE_Program(a, &written.data), kFtOk);
    std::vector<uint8_t> area(66);
    EXPECT_EQ(vc_eeprom_user_area(0, area.data(), 100), 66u);
    EXPECT_BYTES_EQ(std::vector<uint8_t>(66, 0), area);
    FT_EraseEE(a);
    vc_eeprom_user_area(0, area.data(), 66);
    EXPECT_BYTES_EQ(std::vector<uint8_t>(66, 0xFF), area);
}

}  // namespace
