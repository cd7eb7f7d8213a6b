// The library's own cost per payload byte on its bulk paths, against a vendor library that takes
// every write at once, side by side with memcpy of the same number of bytes; and the heap
// allocations each path makes. Prints a table with the ratio to memcpy after the runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "binding/d2xx.h"
#include "kestrellink.h"

namespace {

constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kUartBytes = 128u << 10;
constexpr uint32_t kClkCycles = 10000000;
constexpr uint32_t kClkPayload = kClkCycles / 8 + 1;  // fill bytes JTAG_Clk sends
constexpr kl_u8 kLsbOutFalling = 0x09;
constexpr const char* kUartFile = "/tmp/kestrel-bench-host-uart.bin";

void Connect() {
    kl::binding::SetVendorLibraryNameForTests(KESTREL_NULL_VENDOR);
    if (LoadD2XXDLL() != 0 || OpenDevice(u"ZV7300LNK", u"", 5) != 0) {
        std::fprintf(stderr, "cannot open through %s\n", KESTREL_NULL_VENDOR);
        std::abort();
    }
}

// Runs body once per iteration; payload bytes and allocations per iteration as counters.
template <class Body>
void Measure(benchmark::State& state, uint64_t payload, Body body) {
    body();  // warm: first-touch of static buffers
    const uint64_t before = bench::AllocationCount();
    for (auto _ : state) {
        if (!body()) state.SkipWithError("an export failed");
    }
    const double allocations = static_cast<double>(bench::AllocationCount() - before);
    state.counters["allocs_per_iter"] = allocations / static_cast<double>(state.iterations());
    state.counters["payload_bytes"] = static_cast<double>(payload);
    state.SetBytesProcessed(static_cast<int64_t>(payload) * state.iterations());
}

void BM_Memcpy(benchmark::State& state) {
    const auto n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> from(n, 0x5A), to(n);
    Measure(state, n, [&] {
        std::memcpy(to.data(), from.data(), n);
        benchmark::ClobberMemory();
        return true;
    });
}
BENCHMARK(BM_Memcpy)->Arg(kMiB)->Arg(kClkPayload)->Arg(kUartBytes);

void BM_QueuedJtagShift(benchmark::State& state) {
    std::vector<kl_u8> tdi(kMiB, 0x5A);
    Measure(state, kMiB, [&] {
        kl_u32 bits = 0;
        return JTAG_WriteTDI(kLsbOutFalling, 8 * kMiB, tdi.data(), nullptr, &bits, 1) == 0 &&
               JTAG_Send2FTDI() == 0;
    });
}
BENCHMARK(BM_QueuedJtagShift);

void BM_JtagClk(benchmark::State& state) {
    Measure(state, kClkPayload,
            [] { return JTAG_Clk(kLsbOutFalling, kClkCycles) == 0 && JTAG_Send2FTDI() == 0; });
}
BENCHMARK(BM_JtagClk);

void BM_SpiWriteDO(benchmark::State& state) {
    std::vector<kl_u8> data(kMiB, 0xC3);
    Measure(state, kMiB, [&] { return SPI_WriteDO(0x11, kMiB, data.data()) == 0; });
}
BENCHMARK(BM_SpiWriteDO);

void BM_WriteFileUart(benchmark::State& state) {
    Measure(state, kUartBytes, [] { return Write_FILE_UART(kUartFile, kUartBytes) == 0; });
}
BENCHMARK(BM_WriteFileUart);

void BM_WriteFileUart2(benchmark::State& state) {
    static const std::u16string name(kUartFile, kUartFile + std::strlen(kUartFile));
    Measure(state, kUartBytes,
            [] { return Write_FILE_UART_2(name.c_str(), kUartBytes, 0.0) == 0; });
}
BENCHMARK(BM_WriteFileUart2);

// Keeps the console output and collects CPU time per payload byte for the table.
class TableReporter : public benchmark::ConsoleReporter {
  public:
    struct Row {
        std::string name;
        double payload;
        double cpuNsPerByte;
        double allocations;
    };
    std::vector<Row> rows;

    TableReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const double payload = run.counters.at("payload_bytes");
            const double ns = run.GetAdjustedCPUTime() *
                              benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                              benchmark::GetTimeUnitMultiplier(run.time_unit);
            rows.push_back(
                {run.benchmark_name(), payload, ns / payload, run.counters.at("allocs_per_iter")});
        }
    }
};

void PrintTable(const TableReporter& reporter) {
    std::map<double, double> memcpyNsPerByte;  // by payload size
    for (const auto& row : reporter.rows) {
        if (row.name.rfind("BM_Memcpy", 0) == 0) memcpyNsPerByte[row.payload] = row.cpuNsPerByte;
    }
    std::printf("\n### Host overhead (null vendor library)\n\n");
    std::printf(
        "| path | payload bytes | CPU ns per byte | memcpy ns per byte | ratio | "
        "allocations per call |\n|---|---|---|---|---|---|\n");
    for (const auto& row : reporter.rows) {
        if (row.name.rfind("BM_Memcpy", 0) == 0) continue;
        const double base = memcpyNsPerByte.count(row.payload) ? memcpyNsPerByte[row.payload] : 0;
        std::printf("| %s | %.0f | %.4f | %.4f | %.2f | %.0f |\n", row.name.c_str() + 3,
                    row.payload, row.cpuNsPerByte, base, base > 0 ? row.cpuNsPerByte / base : 0.0,
                    row.allocations);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<uint8_t> file(kUartBytes, 0x3C);
    if (FILE* f = std::fopen(kUartFile, "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Connect();
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(reporter);
    benchmark::Shutdown();
    CloseDevice();
    std::remove(kUartFile);
    return 0;
}
