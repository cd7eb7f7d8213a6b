#include "scenario/program_reports.h"

#include <cstdint>

#include "record/call_log.h"
#include "record/wire_clock.h"

namespace vcable {
namespace {

constexpr double kPsPerMs = 1e9;

}  // namespace

void WriteClockReport(output_file::OutputFile& file) {
    const char* const names[kWireSpeeds] = {"full_speed", "high_speed"};
    file.Printf("{");
    for (int s = 0; s < kWireSpeeds; ++s) {
        const WireClockTotals t = ReadWireClock(s);
        file.Printf(
            "%s\n  \"%s\": {\"elapsed_ms\": %.6f, \"wire_ms\": %.6f, \"limit_ms\": %.6f, "
            "\"tck_cycles\": %llu, \"writes\": %llu, \"reads\": %llu, \"host_waits_ms\": %.6f}",
            s == 0 ? "" : ",", names[s], t.elapsedPs / kPsPerMs, t.wirePs / kPsPerMs,
            t.limitPs / kPsPerMs, static_cast<unsigned long long>(t.tckCycles),
            static_cast<unsigned long long>(t.writes), static_cast<unsigned long long>(t.reads),
            t.hostWaitPs / kPsPerMs);
    }
    file.Printf("\n}\n");
}

void WriteModelErrors(output_file::OutputFile& file) {
    for (uint32_t i = 0; i < ModelErrorCount(); ++i) file.Printf("%s\n", ModelErrorAt(i));
}

void WriteCallLog(output_file::OutputFile& file) {
    for (uint32_t i = 0; i < CallCount(); ++i) {
        const CallRecord& call = *CallAt(i);
        file.Printf("%s(", EntryName(static_cast<uint32_t>(call.entry)));
        for (uint32_t a = 0; a < call.argCount; ++a) {
            file.Printf("%s0x%llX", a == 0 ? "" : ", ",
                        static_cast<unsigned long long>(call.args[a]));
        }
        file.Printf(") = %u, %u bytes%s\n", call.status, call.transferred,
                    call.faulted ? " (fault rule)" : "");
    }
}

}  // namespace vcable
