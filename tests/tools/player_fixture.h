// The player's tests run it through the library's exports on the virtual cable, which each test
// sets up, and judge what the TAPs saw through the control API.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jtag/parsers.h"
#include "jtag/player.h"
#include "kestrellink.h"
#include "vcable.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"

namespace kestrel::jtag {

class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CloseDevice();
        vc_reset();
        ASSERT_EQ(LoadD2XXDLL(), 0);
        ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), 0);
        vc_log_clear();
    }
    void TearDown() override {
        char error[256] = "";
        vc_mpsse_last_error(0, error, sizeof error);
        EXPECT_EQ(vc_mpsse_error_count(0), 0u) << error;
        CloseDevice();
    }
    static void SetChain(const std::vector<vc_jtag_device>& chain) {
        ASSERT_EQ(vc_jtag_set_chain(0, static_cast<int>(chain.size()), chain.data()), VC_OK);
    }
    // Replaces the whole scenario (a file when `isFile`, else TOML text) and opens the cable again.
    static void LoadScenario(const std::string& source, bool isFile) {
        CloseDevice();
        char error[512] = "";
        const int loaded = isFile ? vc_load_scenario_file(source.c_str(), error, sizeof error)
                                  : vc_load_scenario_text(source.c_str(), error, sizeof error);
        ASSERT_EQ(loaded, 0) << error;
        ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), 0);
    }
    // Parses an XSVF file; a failure fails the test and leaves the program empty.
    static Program ParsedXsvf(const std::vector<uint8_t>& bytes) {
        Program program;
        ParseError error;
        EXPECT_TRUE(ParseXsvf(bytes, program, error)) << error.message;
        return program;
    }
    // Parses and plays; reports go to `reports`.
    bool PlaySvf(const std::string& text, PlayResult& result, PlayOptions options = {}) {
        Program program;
        ParseError error;
        EXPECT_TRUE(ParseSvf(text, program, error)) << error.message;
        return PlayProgram(program, result, options);
    }
    bool PlayProgram(const Program& program, PlayResult& result, PlayOptions& options) {
        options.report = [this](bool, const std::string& line) { reports.push_back(line); };
        return Play(program, options, result);
    }
    std::vector<std::string> reports;
};

}  // namespace kestrel::jtag
