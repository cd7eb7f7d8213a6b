// A clean library and a clean virtual cable for every test: all library state reset, the default
// cable scenario, the vendor library loaded, pauses recorded instead of slept and message boxes
// captured instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "vcable.h"

namespace kl::testing {

// Texts of the message boxes shown since the last reset (UTF-16 as the library passed them).
std::vector<std::u16string>& MessageBoxes();

// Pauses requested through the platform's sleep since the last reset, in milliseconds.
std::vector<uint32_t>& Pauses();

// Bytes as "0x80 0xFA 0xCB" for failure messages.
std::string Hex(const std::vector<uint8_t>& bytes);

// What the virtual cable saw: the bytes written to channel A since the last ForgetTraffic, and
// the calls of one entry point in order (status, counts and data in each).
std::vector<uint8_t> WrittenToChannelA();
std::vector<::VcCall> CallsOf(const char* entry);
void ForgetTraffic();

// A clean library and cable, where every fixture starts: the cable's default scenario, all
// library state reset (ResetForTests), captures emptied, pauses recorded instead of slept, and
// the vendor library loaded.
void StartClean();

class LibraryTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

// A library with OpenDevice(u"ZV7300LNK", u"", 5) done and the cable's record of it forgotten.
class OpenedTest : public LibraryTest {
  protected:
    void SetUp() override;
};

// An opened library whose test must leave the cable's MPSSE engine without errors: every command
// the library sent was one the engine knows and could carry out faithfully.
class TargetTest : public OpenedTest {
  protected:
    void TearDown() override;
};

// Compares byte streams and prints both in hex on a mismatch.
#define EXPECT_BYTES(expected, actual)                            \
    EXPECT_EQ(::kl::testing::Hex(std::vector<uint8_t>(expected)), \
              ::kl::testing::Hex(std::vector<uint8_t>(actual)))

}  // namespace kl::testing
