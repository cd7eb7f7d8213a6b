// Every fault path of every export: each export's reference call runs once on a clean cable to
// list the vendor calls it makes; then, for each of those calls in turn, once with that call
// failing (status 4) and once with the cable pulled just before it. Each run must end with one of
// the export's result codes, must not crash or leak (the sanitizer build runs this too), must make
// only a bounded number of vendor calls once the cable is gone, and must leave a library that
// opens and closes the cable again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "hardening_fixture.h"
#include "kestrellink.h"
#include "mpsse/stream.h"
#include "vcable.h"

namespace kl::hardening {
namespace {

constexpr uint32_t kIoError = 4;

// The exports of the table (src/shell/exports.tsv).
constexpr const char* kTableExports[] = {
#define KL_EXPORT_ROW(ordinal, name, linuxSymbol, windowsSymbol) name,
#include "export_rows.inc"
#undef KL_EXPORT_ROW
};

enum class Fault { Fail, Unplug };

struct Coverage {
    uint32_t cases = 0;
    uint32_t exports = 0;
    uint32_t replugs = 0;  // cases after which a channel stayed open and the cable was replugged
};

// The vendor calls of the row's reference call on a clean cable.
std::vector<VendorCall> CleanRun(const ExportRow& row, const kl::testing::LogDirectory& log) {
    StartFresh(&log);
    if (!EnterStart(row.start)) return {};
    if (row.prepare) row.prepare();
    const uint32_t first = vc_log_count();
    const int result = row.call();
    EXPECT_TRUE(CodeAllowed(row, result)) << row.name << " clean run gave " << result;
    std::vector<VendorCall> calls = CallsSince(first);
    ExpectRecovers(row, false, "the clean run");
    return calls;
}

// Runs the row with one fault; true when the cable had to be replugged before the recovery.
// mostAfterUnplug keeps the largest number of vendor calls seen from a pulled call on.
bool RunFaulted(const ExportRow& row, const VendorCall& at, Fault fault,
                const kl::testing::LogDirectory& log, uint32_t& mostAfterUnplug) {
    const std::string context = std::string(fault == Fault::Fail ? "failing " : "pulling at ") +
                                at.entry + " #" + std::to_string(at.nth);
    SCOPED_TRACE(std::string(row.name) + ", " + context);
    StartFresh(&log);
    if (!EnterStart(row.start)) return false;
    if (row.prepare) row.prepare();
    const uint32_t first = vc_log_count();
    const int rule = fault == Fault::Fail ? vc_fault_fail(at.entry, at.nth, kIoError, 0)
                                          : vc_fault_unplug(at.entry, at.nth, 0);
    const int result = row.call();

    EXPECT_EQ(vc_fault_hits(rule), 1u) << "the faulted call was not made";
    EXPECT_TRUE(CodeAllowed(row, result)) << "gave " << result << ", allowed " << CodeList(row);
    EXPECT_LE(mpsse::QueuedBytes(), mpsse::kBufferSize);
    if (fault == Fault::Unplug) {
        // From the pulled call on, waits end on the first failed poll: only a few calls follow.
        uint32_t faultIndex = 0;
        std::vector<VendorCall> calls = CallsSince(first);
        for (uint32_t i = 0; i < calls.size(); ++i) {
            if (std::string(calls[i].entry) == at.entry && calls[i].nth == at.nth) faultIndex = i;
        }
        const uint32_t after = static_cast<uint32_t>(calls.size()) - faultIndex;
        if (after > mostAfterUnplug) mostAfterUnplug = after;
        if (row.callsAfterUnplug > 0) {
            EXPECT_LE(after, row.callsAfterUnplug)
                << "vendor calls made after the cable was pulled";
        }
    }
    return ExpectRecovers(row, fault == Fault::Unplug, context.c_str());
}

// The calls to fault. A wait's minimum poll count (500 or 1000 polls, all alike) would multiply
// the cases without new paths: in a run of more than kRunEnds * 2 calls of one entry, the first
// and last kRunEnds calls are faulted and every kRunStride-th call between them.
constexpr size_t kRunEnds = 4;
constexpr size_t kRunStride = 100;

std::vector<VendorCall> CallsToFault(const std::vector<VendorCall>& calls) {
    std::vector<VendorCall> chosen;
    for (size_t start = 0; start < calls.size();) {
        size_t end = start;
        while (end < calls.size() && std::string(calls[end].entry) == calls[start].entry) ++end;
        const size_t length = end - start;
        for (size_t i = 0; i < length; ++i) {
            if (length <= 2 * kRunEnds || i < kRunEnds || i >= length - kRunEnds ||
                i % kRunStride == 0) {
                chosen.push_back(calls[start + i]);
            }
        }
        start = end;
    }
    return chosen;
}

// KL_FAULT_EXPORT=<name> limits the run to one export (for looking into one).
bool Selected(const ExportRow& row) {
    const char* only = getenv("KL_FAULT_EXPORT");
    return !only || !*only || std::string(only) == row.name;
}

// The catalog these tests and the fuzzer go through holds every export of the table, once.
TEST(ExportCatalogTest, HoldsEachExportOfTheTableOnce) {
    std::vector<std::string> table(std::begin(kTableExports), std::end(kTableExports));
    std::vector<std::string> catalog;
    for (const ExportRow& row : Exports()) catalog.push_back(row.name);
    std::sort(table.begin(), table.end());
    std::sort(catalog.begin(), catalog.end());
    EXPECT_EQ(catalog, table);
}

class FaultPathTest : public HardeningTest {};

TEST_F(FaultPathTest, EveryVendorCallOfEveryExportFailsOrLosesTheCable) {
    Coverage coverage;
    uint32_t vendorCalls = 0;
    for (const ExportRow& row : Exports()) {
        if (!Selected(row)) continue;
        SCOPED_TRACE(row.name);
        const std::vector<VendorCall> calls = CleanRun(row, log_);
        vendorCalls += static_cast<uint32_t>(calls.size());
        uint32_t mostAfterUnplug = 0;
        for (const VendorCall& call : CallsToFault(calls)) {
            coverage.replugs += RunFaulted(row, call, Fault::Fail, log_, mostAfterUnplug);
            coverage.replugs += RunFaulted(row, call, Fault::Unplug, log_, mostAfterUnplug);
            coverage.cases += 2;
        }
        ++coverage.exports;
        printf("  %-20s vendor calls %5zu, most calls once the cable was gone %u\n", row.name,
               calls.size(), mostAfterUnplug);
    }
    printf("fault paths covered: %u (exports: %u)\n", coverage.cases, coverage.exports);
    printf("vendor calls in the reference calls: %u (long runs of one entry sampled)\n",
           vendorCalls);
    printf("cases that left a channel open until the cable was replugged: %u\n", coverage.replugs);
}

}  // namespace
}  // namespace kl::hardening
