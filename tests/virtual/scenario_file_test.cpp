// Scenario files: each kind of target reads its own section of a [[device]] table, and the model
// gets what the section says; a bad section names its place and changes nothing.
#include <cstring>
#include <functional>
#include <vector>

#include "chip/devices.h"
#include "engine/mpsse_port.h"
#include "mpsse_test_util.h"
#include "targets/flash/sfdp.h"
#include "vcable_fixture.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"

namespace {

class ScenarioFileTest : public VcableTest {
  protected:
    void SetUp() override {
        VcableTest::SetUp();
        if (!vc_scenario_files_supported()) GTEST_SKIP() << "built without the TOML reader";
    }

    static std::string Load(const std::string& body, const std::string& top = "") {
        char error[512] = "";
        const std::string text = top + "[[device]]\ndescription = \"X\"\n" + body;
        return vc_load_scenario_text(text.c_str(), error, sizeof error) == 0 ? "" : error;
    }

    // One SPI transaction with the flash of cable 0, after the open's pin set-up.
    static std::string Spi(const vtest::Bytes& out, uint32_t readCount) {
        vcable::MpssePort& port = *vcable::CableMpssePort(0);
        vtest::Send(port, vtest::kOpenSequence);
        return vtest::Hex(vtest::Send(port, vtest::SpiTransaction(out, readCount)));
    }

    static std::string HexText(const vtest::Bytes& bytes) {
        return "\"" + vtest::Hex(bytes) + "\"";
    }

    static uint16_t Levels() {
        uint16_t levels = 0;
        EXPECT_EQ(VC_OK, vc_pins_get(0, &levels, nullptr));
        return levels;
    }
};

TEST_F(ScenarioFileTest, EachKindGetsItsSection) {
    struct Row {
        const char* name;
        const char* body;
        std::function<void()> check;
    };
    const Row rows[] = {
        {"linux, usb delivery, shaping faults",
         "[[fault]]\ntype = \"hold_rx\"\nentry = \"FT_GetQueueStatus\"\npolls = 2\n"
         "[[fault]]\ntype = \"split_rx\"\nentry = \"FT_Read\"\nmax_bytes = 3\n"
         "channel = 1\n",
         [] {
             EXPECT_EQ(VC_PLATFORM_LINUX, vc_platform());
             EXPECT_EQ(VC_DELIVERY_USB, vc_reply_delivery());
             uint8_t byte = 7;
             EXPECT_EQ(0, vc_inject_rx(0, 0, &byte, 1));
             void* a = OpenAt(0x0211);
             uint32_t polls[3] = {};
             for (uint32_t& pending : polls) FT_GetQueueStatus(a, &pending);
             EXPECT_EQ((std::vector<uint32_t>{0, 0, 1}), std::vector<uint32_t>(polls, polls + 3));
         }},
        {"jtag",
         "[[device.jtag]]\nidcode = 0x11\n[[device.jtag]]\nidcode = 0x23\nir_length = 3\n"
         "idcode_instruction = 5\n",
         [] {
             uint32_t instruction = 0;
             EXPECT_EQ(2, vc_jtag_device_count(0));
             EXPECT_EQ(VC_OK, vc_jtag_instruction(0, 1, &instruction));
             EXPECT_EQ(5u, instruction);
         }},
        {"no jtag", "jtag = []\n", [] { EXPECT_EQ(0, vc_jtag_device_count(0)); }},
        {"flash", "[device.flash]\nsize = 8192\ncontents = \"01 02 03\"\nfill = 7\n",
         [] {
             uint32_t size = 0;
             vtest::Bytes head(4);
             EXPECT_EQ(VC_OK, vc_flash_size(0, &size));
             EXPECT_EQ(8192u, size);
             EXPECT_EQ(VC_OK, vc_flash_read(0, 0, head.data(), 4));
             EXPECT_BYTES_EQ((vtest::Bytes{1, 2, 3, 7}), head);
         }},
        {"flash identity from the size", "[device.flash]\nsize = 65536\n",
         [] {
             EXPECT_EQ("A7 40 10", Spi({0x9F}, 3));
             EXPECT_EQ("FF FF 07 00", Spi({0x5A, 0, 0, 0x14, 0}, 4));  // 512 Kbit - 1
         }},
        {"flash without SFDP", "[device.flash]\nsfdp = false\njedec_id = \"C2 20 FF\"\n",
         [] {
             EXPECT_EQ("C2 20 FF", Spi({0x9F}, 3));
             EXPECT_EQ("FF FF", Spi({0x5A, 0, 0, 0, 0}, 2));
         }},
        {"flash part with protected blocks",
         "[device.flash]\npart = \"W25Q256JV\"\nstatus = [0x24]\nfill = 0xFF\n",
         [] {
             uint32_t size = 0;
             EXPECT_EQ(VC_OK, vc_flash_size(0, &size));
             EXPECT_EQ(32u << 20, size);
             EXPECT_EQ("EF 40 19", Spi({0x9F}, 3));
             // BP3..0 = 1001: the upper 16 MiB; the status registers not given are factory.
             EXPECT_EQ("24 02 60", Spi({0x05}, 1) + " " + Spi({0x35}, 1) + " " + Spi({0x15}, 1));
         }},
        {"flash part with the identity and page of one the table lacks",
         "[device.flash]\npart = \"IS25LP032D\"\njedec_id = \"9D 70 16\"\ndevice_id = 0x42\n"
         "page_size = 512\n",
         [] {
             EXPECT_EQ("9D 70 16", Spi({0x9F}, 3));
             EXPECT_EQ("42 9D / 42", Spi({0x90, 0, 0, 1}, 2) + " / " + Spi({0xAB, 0, 0, 0}, 1));
             // Dword 11 of the basic parameter table: log2 of the page in bits 4 to 7.
             EXPECT_EQ("9", Spi({0x5A, 0, 0, 0x10 + 40, 0}, 1).substr(0, 1));
         }},
        {"flash with given SFDP", "[device.flash]\nsfdp_hex = \"53 46 44 50 00 01\"\n",
         [] {
             EXPECT_EQ("53 46 44 50 00 01 FF", Spi({0x5A, 0, 0, 0, 0}, 7));
         }},
        {"a '[' inside a string starts no table", "user_area_text = \"\"\"\n[% x\n\"\"\"\n",
         [] {
             char area[6] = "";
             vc_eeprom_user_area(0, reinterpret_cast<uint8_t*>(area), 5);
             EXPECT_STREQ("[% x\n", area);
         }},
        {"no flash", "[device.flash]\npresent = false\n",
         [] {
             uint32_t size = 0;
             EXPECT_EQ(VC_E_NO_TARGET, vc_flash_size(0, &size));
         }},
        {"gpio",
         "[[device.gpio]]\nline = \"GPIOL0\"\nlevel = 0\n"
         "[[device.gpio]]\nline = \"GPIOH1\"\nlevel = 0\nafter_polls = 2\n",
         [] {
             // GPIOL0 is low from the start; GPIOH1 goes low at the second poll.
             vcable::MpssePort& port = *vcable::CableMpssePort(0);
             std::vector<uint8_t> rx;
             EXPECT_EQ(0xFFEF, Levels());
             port.OnPoll(rx);
             EXPECT_EQ(0xFFEF, Levels());
             port.OnPoll(rx);
             EXPECT_EQ(0xFDEF, Levels());
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        vc_reset();
        const bool options = std::string(row.name).rfind("linux", 0) == 0;
        ASSERT_EQ(
            "", Load(row.body, options ? "platform = \"linux\"\nreply_delivery = \"usb\"\n" : ""));
        row.check();
    }
}

TEST_F(ScenarioFileTest, ABadSectionNamesItsPlaceAndChangesNothing) {
    struct Row {
        std::string body;
        const char* message;
    };
    const std::string tooBig = "contents = " + HexText(vtest::Bytes(4097, 0xA5)) + "\n";
    const std::string otherSfdp =
        "sfdp_hex = " + HexText(vcable::BuildSfdp(vcable::GenericFlashPart(), 1u << 20)) + "\n";
    const std::string flash = "[device.flash]\nsize = 4096\n";
    const Row rows[] = {
        {"[[device.jtag]]\nidcode = 0x11\nir_length = 40\n",
         "scenario:5: device[0].jtag[0].ir_length: expected an integer from 2 to 32, found 40"},
        {"[device.flash]\nsize = 5000\n",
         "scenario:4: device[0].flash.size: expected a multiple of the 4096-byte sector"},
        // Oversized contents after an earlier error are cut to the flash, never copied past it.
        {flash + "jedec_id = \"00\"\n" + tooBig,
         "scenario:5: device[0].flash.jedec_id: expected three bytes"},
        {flash + tooBig,
         "scenario:5: device[0].flash: the contents (4097 bytes) do not fit the flash (4096 "
         "bytes)"},
        {flash + "jedec_id = \"EF 40 14\"\n",
         "scenario:5: device[0].flash.jedec_id: the capacity byte 0x14 announces 1048576 bytes, "
         "but size is 4096"},
        {flash + otherSfdp,
         "scenario:5: device[0].flash.sfdp_hex: the basic parameter table announces 1048576 "
         "bytes, but size is 4096"},
        {"[device.flash]\npart = \"W25Q64\"\n",
         "scenario:4: device[0].flash.part: unknown part \"W25Q64\" (expected one of: W25Q80DV, "},
        {"[device.flash]\npart = \"MX25L3233F\"\nsize = 8388608\n",
         "scenario:5: device[0].flash.size: the part's JEDEC ID (capacity byte 0x16) announces "
         "4194304 bytes, but size is 8388608: give its jedec_id too"},
        {"[device.flash]\npart = \"IS25LP016D\"\npage_size = 384\n",
         "scenario:5: device[0].flash.page_size: expected a power of two"},
        {"[device.flash]\nbusy_us = { page_program = [700, 300] }\n",
         "scenario:4: device[0].flash.busy_us.page_program: the maximum is below the typical time"},
        {"[device.flash]\npart = \"MX25L3233F\"\nstatus = [1, 2, 3]\n",
         "scenario:5: device[0].flash.status: expected an array of 1 to 2 register values"},
        {"[device.flash]\nstatus = [256]\n",
         "scenario:4: device[0].flash.status[0]: expected 0 to 255"},
        {flash + "sfdp = false\nsfdp_hex = \"00\"\n",
         "scenario:6: device[0].flash: give either 'sfdp = false' or 'sfdp_hex'"},
        {"[[device.gpio]]\nline = 3\nlevel = \"up\"\n",
         "scenario:5: device[0].gpio[0].level: expected 0, 1 or \"release\""},
        {"type = \"single\"\n[[device.gpio]]\nline = 1\nlevel = 1\n",
         "scenario:4: device[0]: a single-channel device has no gpio (only cables do)"},
        {"bogus = 1\n", "cycle_absence, jtag_reset, jtag, flash, gpio, uart_a, uart_b)"},
        {"jtag_reset = \"nowhere\"\n",
         "scenario:3: device[0].jtag_reset: expected a line name (TCK, TDI, TDO, TMS, GPIOL0 to "
         "GPIOL3, GPIOH0 to GPIOH3) or a number from 0 to 11"},
        // What the TOML parser would stop on (or assume away): a table name that is not a key,
        // a character beyond ASCII outside a comment line.
        {"[[ %device]]\n",
         "scenario:3: expected a table name (a key or a quoted string) after '['"},
        {"# \xC3\xA9 in a comment line\nserial = \"\xC3\xA9\"\n",
         "scenario:4: expected ASCII (other characters only in comment lines"},
        {"[[device.gpio]]\nline = \"GPIOH5\"\nlevel = 0\n",
         "scenario:4: device[0].gpio[0].line: channel A of the dual-channel chip has GPIOH0 to "
         "GPIOH3 only, not GPIOH5"},
        {"[[device.gpio]]\nline = 12\nlevel = 0\n",
         "scenario:4: device[0].gpio[0].line: expected an integer from 0 to 11, found 12"},
        {"serial = \"0123456789ABCDE\"\nmanufacturer = \"" + std::string(31, 'm') + "\"\n",
         "scenario:1: device[0]: manufacturer, description and serial take 50 words of the "
         "EEPROM; its 93C46 has 48"},
        // Instruction tables and memories.
        {"[[device.jtag]]\nir_length = 4\ninstructions = [{ opcode = 1, register = \"bypass\" },\n"
         "{ opcode = 1, register = \"erase\" }]\n",
         "scenario:6: device[0].jtag[0].instructions[1]: opcode 0x1 is listed twice"},
        {"[[device.jtag]]\nir_length = 2\nidcode = 1\n"
         "instructions = [{ opcode = 3, register = \"idcode\" }]\n",
         "scenario:6: device[0].jtag[0].instructions[0].opcode: the all-ones opcode is BYPASS"},
        {"[[device.jtag]]\ninstructions = [{ opcode = 2, register = \"data\", length = 8, "
         "reset = \"1FF\" }]\n",
         "scenario:4: device[0].jtag[0].instructions[0].reset: expected a value of at most 8 bits"},
        {"[[device.jtag]]\nidcode = 1\nuser_length = 8\n"
         "instructions = [{ opcode = 1, register = \"idcode\" }]\n",
         "scenario:5: device[0].jtag[0]: 'user_length' does not go with 'instructions'"},
        {"[[device.jtag]]\ninstructions = [{ opcode = 1, register = \"read\" }]\n",
         "scenario:3: device[0].jtag[0]: the instructions reach a memory: describe it in "},
        {"[[device.jtag]]\ninstructions = [{ opcode = 1, register = \"bypass\" }]\n"
         "[device.jtag.memory]\nwords = 4\n",
         "scenario:5: device[0].jtag[0].memory: no instruction reaches the memory"},
        {"[[device.jtag]]\ninstructions = [{ opcode = 1, register = \"erase\" }]\n"
         "[device.jtag.memory]\nwords = 20\naddress_bits = 4\n",
         "scenario:6: device[0].jtag[0].memory.words: 20 words do not fit an address of 4 bits"},
        {"[[device.jtag]]\nidcode = 1\nir_capture = 3\n",
         "scenario:5: device[0].jtag[0].ir_capture: the captured instruction ends in binary 01"},
        // Busy operations, flags, status registers, the bridge and plug-ins.
        {"[[device.jtag]]\nflags = [\"done\"]\n"
         "instructions = [{ opcode = 2, register = \"bypass\", sets = [\"erased\"] }]\n",
         "scenario:5: device[0].jtag[0].instructions[0].sets: no flag \"erased\": list it in the "
         "device's 'flags'"},
        {"[[device.jtag]]\ninstructions = [{ opcode = 2, register = \"status\", length = 8, "
         "busy_bit = 8 }]\n",
         "scenario:4: device[0].jtag[0].instructions[0].busy_bit: expected an integer from 0 to 7"},
        {"[[device.jtag]]\ninstructions = [{ opcode = 2, register = \"data\", length = 8, "
         "busy_bit = 0 }]\n",
         "scenario:4: device[0].jtag[0].instructions[0]: only a \"status\" register takes "
         "'busy_bit'"},
        {"[[device.jtag]]\ninstructions = [{ opcode = 2, register = \"spi_bridge\" }]\n"
         "[[device.jtag]]\ninstructions = [{ opcode = 2, register = \"spi_bridge\" }]\n",
         "scenario:5: device[0].jtag[1]: a second device bridges to the flash"},
        {"[[device.jtag]]\ninstructions = [{ opcode = 2, register = \"spi_bridge\", "
         "chip_select = \"update\" }]\n",
         "scenario:4: device[0].jtag[0].instructions[0].chip_select: expected one of \"dr_scan\", "
         "\"shift_dr\", found \"update\""},
        {"[[device.jtag]]\nidcode = 1\nplugin = \"no-such-plugin.so\"\n",
         "scenario:5: device[0].jtag[0].plugin: no such file \"no-such-plugin.so\""},
        {"[[device.jtag]]\nidcode = 1\nplugin_config = \"x\"\n",
         "scenario:5: device[0].jtag[0]: 'plugin_config' needs 'plugin'"},
        // Text the parser would assume away, and messages that quote a line end (kept on one).
        {"K=[}\n", "scenario:3: Error while parsing value: could not determine value type"},
        {"present = f\n", "scenario:3: Error while parsing boolean: expected 'false', saw 'f\\n'"},
        {"[[fault]]\ntype = \"\"\"n\n\"\"\"\n", "\"hold_rx\", found \"n\\n\""},
    };
    for (const Row& row : rows) {
        EXPECT_NE(std::string::npos, Load(row.body).find(row.message)) << Load(row.body) << "\n"
                                                                       << row.message;
        EXPECT_EQ(1, vc_device_count());
        EXPECT_EQ(2, vc_jtag_device_count(0));
    }
}

// A path that names no regular file is an error, never an abort of the host's process or an
// endless read.
TEST_F(ScenarioFileTest, APathThatIsNoRegularFileIsRefused) {
    struct Row {
        std::string path;
        const char* message;
    };
    const std::string folder = ::testing::TempDir();
    std::vector<Row> rows = {
        {folder, ": cannot read the scenario file (a directory, not a file)"},
        {folder + "/no-such-scenario.toml", ": cannot read the scenario file ("},
    };
#ifndef _WIN32
    rows.push_back({"/dev/zero", ": cannot read the scenario file (not a regular file)"});
#endif
    for (const Row& row : rows) {
        char error[512] = "";
        EXPECT_NE(0, vc_load_scenario_file(row.path.c_str(), error, sizeof error)) << row.path;
        EXPECT_EQ(row.path + row.message,
                  std::string(error).substr(0, row.path.size() + strlen(row.message)));
        EXPECT_EQ(1, vc_device_count());
        EXPECT_EQ(2, vc_jtag_device_count(0));
    }
}

// A kept reset scenario comes back whole after every reset, whatever the run changed; a bad text
// changes nothing, and null brings back the embedded default.
TEST_F(ScenarioFileTest, ResetsRestoreTheKeptScenario) {
    const char* small = "[[device]]\ndescription = \"S\"\n[device.flash]\nsize = 4096\n";
    struct DefaultAgain {
        ~DefaultAgain() { vc_set_reset_scenario(nullptr, nullptr, 0); }
    } defaultAgain;
    char error[256] = "";
    ASSERT_EQ(0, vc_set_reset_scenario(small, error, sizeof error)) << error;
    for (int run = 0; run < 2; ++run) {
        uint32_t size = 0;
        EXPECT_EQ(VC_OK, vc_flash_size(0, &size));
        EXPECT_EQ(4096u, size);
        const uint8_t zero = 0;
        EXPECT_EQ(VC_OK, vc_flash_write(0, 1, &zero, 1));
        EXPECT_EQ(0, vc_unplug(0));
        vc_add_cable("other", "", 1);
        vc_reset();
        EXPECT_EQ(1, vc_device_count());
        uint8_t byte = 0;
        EXPECT_EQ(VC_OK, vc_flash_read(0, 1, &byte, 1));
        EXPECT_EQ(1, byte);                   // the pattern again
        EXPECT_EQ(2u, ListDevices().size());  // its two channels, plugged in again
    }
    EXPECT_EQ(-1, vc_set_reset_scenario("[[device]]\n", error, sizeof error));
    EXPECT_NE(std::string::npos, std::string(error).find("description"));
    vc_reset();
    uint32_t size = 0;
    EXPECT_EQ(VC_OK, vc_flash_size(0, &size));
    EXPECT_EQ(4096u, size);
    ASSERT_EQ(0, vc_set_reset_scenario(nullptr, nullptr, 0));
    EXPECT_EQ(VC_OK, vc_flash_size(0, &size));
    EXPECT_EQ(1u << 20, size);
}

}  // namespace
