// A clean library and cable for each case of the hardening tests, with every wait shortened so
// that thousands of cases stay fast: the no-progress limit, Read_FILE_UART's pass limit and the
// pacing interval. Pauses are recorded, message boxes captured (library_fixture.cpp).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "export_catalog.h"
#include "log_directory.h"
#include "vcable.h"

namespace kl::hardening {

constexpr uint32_t kShortNoProgressMs = 20;
constexpr uint32_t kShortReadFilePasses = 200;

// Resets library and cable, shortens the waits, loads the vendor library and makes log the log
// directory (when given).
void StartFresh(const kl::testing::LogDirectory* log);

// Brings the connection into the row's start state; false (with a test failure) when that failed.
bool EnterStart(Start start);

// The vendor calls of the log from index first on, as (entry, nth call of that entry) pairs.
struct VendorCall {
    const char* entry;
    uint32_t nth;
};
std::vector<VendorCall> CallsSince(uint32_t first);

// After a fault: removes the rules, plugs the cable back in when asked (old handles stay dead),
// closes the connection and checks that the row's open works again, then closes. Returns whether
// a channel was still open in the cable after the close, so that the cable had to be unplugged
// and plugged in again first.
bool ExpectRecovers(const ExportRow& row, bool replugged, const char* context);

class HardeningTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    kl::testing::LogDirectory log_;
};

}  // namespace kl::hardening
