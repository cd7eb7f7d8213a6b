// State files: the EEPROMs and flash contents of one run come back in the next, and a file that
// does not fit the scenario, or is damaged, changes nothing.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "vcable_fixture.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"

namespace {

using vtest::Bytes;

class StateFileTest : public VcableTest {
  protected:
    void SetUp() override {
        VcableTest::SetUp();
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() /
               ("vcable-state-" + std::to_string(getpid()) + "-" + test->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    static std::string Save(const std::string& path) {
        char error[512] = "";
        return vc_state_save(path.c_str(), error, sizeof error) == 0 ? "" : error;
    }
    static std::string LoadState(const std::string& path) {
        char error[512] = "";
        return vc_state_load(path.c_str(), error, sizeof error) == 0 ? "" : error;
    }
    static Bytes Flash(uint32_t address, uint32_t count) {
        Bytes bytes(count);
        EXPECT_EQ(VC_OK, vc_flash_read(0, address, bytes.data(), count));
        return bytes;
    }

    std::filesystem::path dir_;
};

TEST_F(StateFileTest, FlashAndEepromComeBackAndTheCableEnumeratesFromIt) {
    const Bytes image = {0xB0, 0x07, 0x10, 0xAD};
    ASSERT_EQ(VC_OK, vc_flash_write(0, 0xFF000, image.data(), 4));
    ASSERT_EQ(0, vc_eeprom_program(0, "Maker", "MK", "BENCH7", "S42"));
    ASSERT_EQ("", Save(Path("state.bin")));

    vc_reset();
    EXPECT_NE(vtest::Hex(image), vtest::Hex(Flash(0xFF000, 4)));
    ASSERT_EQ("", LoadState(Path("state.bin")));
    EXPECT_BYTES_EQ(image, Flash(0xFF000, 4));
    VcEepromView view{};
    ASSERT_EQ(0, vc_eeprom_view(0, &view));
    EXPECT_STREQ("Maker", view.manufacturer);
    EXPECT_STREQ("S42", view.serial_number);
    EXPECT_EQ(0x0403, view.vendor_id);
    const auto nodes = ListDevices();
    ASSERT_EQ(2u, nodes.size());
    EXPECT_STREQ("BENCH7 A", nodes[0].description);
    EXPECT_STREQ("S42B", nodes[1].serialNumber);

    // A blank EEPROM is state too.
    ASSERT_EQ(0, vc_eeprom_erase(0));
    ASSERT_EQ("", Save(Path("state.bin")));
    vc_reset();
    ASSERT_EQ("", LoadState(Path("state.bin")));
    EXPECT_STREQ("Dual RS232 A", ListDevices()[0].description);
}

// A part's status registers are state too: a scenario that names the part without them gets the
// saved ones back.
TEST_F(StateFileTest, FlashStatusRegistersComeBack) {
    if (!vc_scenario_files_supported()) GTEST_SKIP() << "built without the TOML reader";
    const std::string part =
        "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\n"
        "part = \"W25Q80DV\"\n";
    char error[256] = "";
    ASSERT_EQ(0, vc_load_scenario_text((part + "status = [0x1C]\n").c_str(), error, sizeof error))
        << error;
    ASSERT_EQ("", Save(Path("state.bin")));
    ASSERT_EQ(0, vc_load_scenario_text(part.c_str(), error, sizeof error)) << error;
    uint8_t status = 0;
    ASSERT_EQ(VC_OK, vc_flash_status(0, &status));
    EXPECT_EQ(0x00, status);
    ASSERT_EQ("", LoadState(Path("state.bin")));
    ASSERT_EQ(VC_OK, vc_flash_status(0, &status));
    EXPECT_EQ(0x1C, status);
}

// A chain device with a 4-word memory behind an instruction table.
constexpr const char* kMemoryChain = R"([[device]]
description = "ZV7300LNK"
[[device.jtag]]
ir_length = 4
idcode = 0x0BA00477
instructions = [{ opcode = 1, register = "address" }, { opcode = 2, register = "program" },
                { opcode = 3, register = "read" }, { opcode = 4, register = "erase" }]
[device.jtag.memory]
words = 4
word_bits = 16
address_bits = 2
)";

TEST_F(StateFileTest, JtagMemoriesComeBackAndMustFitTheChain) {
    if (!vc_scenario_files_supported()) GTEST_SKIP() << "built without scenario files";
    char error[256] = "";
    ASSERT_EQ(0, vc_load_scenario_text(kMemoryChain, error, sizeof error)) << error;
    const Bytes image = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    ASSERT_EQ(VC_OK, vc_jtag_memory_write(0, 0, 0, image.data(), 8));
    ASSERT_EQ("", Save(Path("memory.bin")));

    ASSERT_EQ(0, vc_load_scenario_text(kMemoryChain, error, sizeof error)) << error;
    ASSERT_EQ("", LoadState(Path("memory.bin")));
    Bytes back(8);
    ASSERT_EQ(VC_OK, vc_jtag_memory_read(0, 0, 0, back.data(), 8));
    EXPECT_BYTES_EQ(image, back);

    // The default chain has no memory to take it.
    vc_reset();
    EXPECT_NE(std::string::npos, LoadState(Path("memory.bin"))
                                     .find("saved with 1 JTAG memory(s), but the scenario's "
                                           "chain has 0"));
}

TEST_F(StateFileTest, AFileThatDoesNotFitChangesNothing) {
    ASSERT_EQ("", Save(Path("good.bin")));
    std::ifstream in(Path("good.bin"), std::ios::binary);
    const std::string good{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    auto write = [&](const char* name, const std::string& bytes) {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    };
    std::string flipped = good;
    flipped[100] = static_cast<char>(flipped[100] ^ 1);
    const char* smallFlash =
        "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\nsize = 65536\n";
    const char* noFlash =
        "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\npresent = false\n";
    const char* twoCables = "[[device]]\ndescription = \"A\"\n[[device]]\ndescription = \"B\"\n";
    struct Row {
        std::string path;
        const char* scenario;  // loaded before the state; null: the default
        const char* message;
    };
    const Row rows[] = {
        {Path("missing.bin"), nullptr, "cannot read the state file"},
        {Path("."), nullptr, "cannot read the state file (a directory, not a file)"},
        {write("text.bin", "[[device]]\n"), nullptr, "not a state file of the virtual cable"},
        {write("flipped.bin", flipped), nullptr, "damaged (its checksum does not match)"},
        {write("cut.bin", good.substr(0, good.size() / 2)), nullptr, "damaged"},
        {Path("good.bin"), smallFlash,
         "device 0: its flash was saved with 1048576 bytes, but the scenario's has 65536"},
        {Path("good.bin"), noFlash, "device 0: saved with an SPI flash, but the scenario's"},
        {Path("good.bin"), twoCables, "saved with 1 device(s), but the scenario has 2"},
    };
    const Bytes marker = {0x5A, 0xA5};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        vc_reset();
        char error[256] = "";
        if (row.scenario && vc_scenario_files_supported()) {
            ASSERT_EQ(0, vc_load_scenario_text(row.scenario, error, sizeof error)) << error;
        } else if (row.scenario) {
            continue;
        }
        const bool flash = vc_flash_write(0, 0, marker.data(), 2) == VC_OK;
        EXPECT_NE(std::string::npos, LoadState(row.path).find(row.message)) << LoadState(row.path);
        if (flash) {
            EXPECT_BYTES_EQ(marker, Flash(0, 2));
        }
    }
}

TEST_F(StateFileTest, SavingWhereNoFileCanBeWrittenSaysSo) {
    EXPECT_NE(std::string::npos, Save(Path("no/such/folder/state.bin")).find("cannot write"))
        << Save(Path("no/such/folder/state.bin"));
}

}  // namespace
