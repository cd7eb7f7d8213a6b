// The example plug-in behind a scenario's device, answering erase, program and verify files that
// the kestrel tool plays on the virtual cable.
#include <gtest/gtest.h>

#include <string>

#include "tool_fixture.h"

namespace {

using kestrel_test::KestrelTest;
using kestrel_test::ToolRun;
using kestrel_test::WriteFile;

// The device nearest TDO is the plug-in's (IDCODE from the table); a BYPASS device sits at TDI.
std::string Scenario(const std::string& plugin, const std::string& config) {
    return "[[device]]\ndescription = \"ZV7300LNK\"\nserial = \"ZV000001\"\n"
           "[[device.jtag]]\nir_length = 4\nidcode = 0x0BA00477\n"
           "instructions = [{ opcode = 0xE, register = \"idcode\" }]\n"
           "[[device.jtag]]\nir_length = 8\nidcode = 0x0A1B2C3D\n"
           "plugin = \"" +
           plugin + "\"\nplugin_config = \"" + config +
           "\"\n"
           "instructions = [{ opcode = 0x01, register = \"idcode\" }]\n";
}

// The padding for the BYPASS device (nearer TDI), then the erase and four words programmed.
const char kErase[] =
    "TIR 4 TDI (F); TDR 1 TDI (0);\n"
    "SIR 8 TDI (01); SDR 32 TDI (00000000) TDO (0A1B2C3D);\n"
    "SIR 8 TDI (10);\n";
const char kProgram[] =
    "SIR 8 TDI (11);\n"
    "SDR 24 TDI (00A55A); SDR 24 TDI (011234); SDR 24 TDI (02BEEF); SDR 24 TDI (03CAFE);\n";
// Pipelined reads: each scan shifts the next address while the word of the one before comes out.
const char kVerify[] =
    "SIR 8 TDI (12);\n"
    "SDR 16 TDI (0000);\n"
    "SDR 16 TDI (0001) TDO (A55A); SDR 16 TDI (0002) TDO (1234);\n"
    "SDR 16 TDI (0003) TDO (BEEF); SDR 16 TDI (0004) TDO (CAFE);\n"
    "SDR 16 TDI (0002) TDO (FFFF);\n"
    "SIR 8 TDI (13); SDR 16 TDI (0000) TDO (BEEF);\n";

struct PluginRun {
    const char* name;
    const char* config;
    std::string svf;
    int exitCode;
    const char* stderrHas;
    const char* plugin = CPLD_PLUGIN;
};
void PrintTo(const PluginRun& row, std::ostream* out) { *out << row.name; }

class CpldPlugin : public KestrelTest, public ::testing::WithParamInterface<PluginRun> {};

TEST_P(CpldPlugin, AnswersTheFile) {
    const PluginRun& row = GetParam();
    WriteFile(Path("cpld.toml"), Scenario(row.plugin, row.config));
    WriteFile(Path("cpld.svf"), row.svf);
    const ToolRun run =
        Kestrel("--virtual '" + Path("cpld.toml") + "' jtag svf '" + Path("cpld.svf") + "'");
    EXPECT_EQ(run.exitCode, row.exitCode) << run.out << run.err;
    EXPECT_NE(run.err.find(row.stderrHas), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Files, CpldPlugin,
    ::testing::Values(
        PluginRun{"EraseProgramVerify", "erase_us=500",
                  std::string(kErase) + "RUNTEST 10 TCK 1E-3 SEC;\n" + kProgram + kVerify, 0, ""},
        // The erase has not ended when the words come: they are lost and word 0 reads erased.
        PluginRun{"ProgramBeforeTheEraseEnds", "erase_us=50000",
                  std::string(kErase) + kProgram + "RUNTEST 10 TCK 60E-3 SEC;\n" + kVerify, 1,
                  "TDO mismatch"},
        PluginRun{"AnEraseWithoutTime", "erase_us=0", std::string(kErase) + kProgram + kVerify, 0,
                  ""},
        // Without the priming scan every word is read one address late.
        PluginRun{"ReadsAreOneAddressBehind", "",
                  std::string(kErase) + "RUNTEST 10 TCK 2E-3 SEC;\n" + kProgram +
                      "SIR 8 TDI (12); SDR 16 TDI (0001); SDR 16 TDI (0002) TDO (A55A);\n",
                  1, "TDO mismatch"},
        // Programming only clears bits: a second word over the first reads their AND.
        PluginRun{"ProgramOnlyClearsBits", "erase_us=0",
                  std::string(kErase) +
                      "SIR 8 TDI (11); SDR 24 TDI (05F0F0); SDR 24 TDI (053C3C);\n"
                      "SIR 8 TDI (12); SDR 16 TDI (0005); SDR 16 TDI (0000) TDO (3030);\n",
                  0, ""},
        PluginRun{"AConfigItDeclines", "words=0", std::string(kErase), 4, "declined the device"},
        // The instruction capture shows DONE (bit 2) once programming has ended, until an erase.
        PluginRun{"DoneRisesWhenProgrammingEnds", "erase_us=0",
                  std::string(kErase) + kProgram +
                      "SIR 8 TDI (14) TDO (01);\nSIR 8 TDI (10) TDO (05);\n"
                      "SIR 8 TDI (01) TDO (01);\n",
                  0, ""},
        // Built for the first interface version: it loads and plays, and its capture stays the
        // scenario's.
        PluginRun{"AFirstVersionBuildStillPlays", "erase_us=500",
                  std::string(kErase) + "RUNTEST 10 TCK 1E-3 SEC;\n" + kProgram + kVerify +
                      "SIR 8 TDI (14);\nSIR 8 TDI (01) TDO (01);\n",
                  0, "", CPLD_PLUGIN_V1}),
    [](const ::testing::TestParamInfo<PluginRun>& info) { return info.param.name; });

}  // namespace
