// Benchmarks on the virtual cable: the reference jobs' vendor calls and modelled wire time
// (tables), then the cable's own simulation speed in simulated bits per second of host time:
// shifts through the two-device JTAG chain and SPI flash reads, with and without fast paths.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "binding/d2xx.h"
#include "job_tables.h"
#include "kestrellink.h"
#include "vcable.h"
#include "vcable_targets.h"

namespace {

constexpr kl_u8 kShiftInOut = 0x39;  // bytes out on the falling edge and in, LSB first
constexpr kl_u8 kSpiIn = 0x20;

// A connection on a fresh default cable, with the engine's fast paths as asked.
void Open(bool fastPaths) {
    CloseDevice();
    vc_reset();
    if (LoadD2XXDLL() != 0 || OpenDevice(u"ZV7300LNK", u"", 0) != 0) {
        std::fprintf(stderr, "cannot open the virtual cable\n");
        std::abort();
    }
    vc_mpsse_set_fast_paths(0, fastPaths ? 1 : 0);
}

void WriteRead(const std::vector<uint8_t>& out, std::vector<uint8_t>& in) {
    uint32_t done = 0;
    kl::ft::FT_Write(out.data(), static_cast<uint32_t>(out.size()), &done);
    kl::ft::FT_Read(in.data(), static_cast<uint32_t>(in.size()), &done);
    if (done != in.size()) std::abort();
}

void ReportBits(benchmark::State& state, uint64_t bitsPerIteration) {
    const double bits = static_cast<double>(bitsPerIteration) * state.iterations();
    state.counters["sim_bits_per_s"] = benchmark::Counter(bits, benchmark::Counter::kIsRate);
}

// Shift-DR through both devices (IDCODE registers selected): a read-write shift of n bytes per
// iteration, its n reply bytes read back.
void BM_VirtualJtagShift(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    Open(state.range(1) != 0);
    kl_u8 toReset = 0x1F, toShiftDr = 0x02;
    JTAG_WriteTMS(4, &toReset);
    JTAG_WriteTMS(3, &toShiftDr);
    JTAG_Send2FTDI();
    std::vector<uint8_t> out = {kShiftInOut, static_cast<uint8_t>(n - 1),
                                static_cast<uint8_t>((n - 1) >> 8)};
    for (uint32_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(i * 13));
    std::vector<uint8_t> in(n);
    for (auto _ : state) {
        WriteRead(out, in);
        vc_log_clear();
    }
    ReportBits(state, 8ull * n);
}
BENCHMARK(BM_VirtualJtagShift)->ArgNames({"bytes", "fast"})->Args({65536, 1})->Args({4096, 0});

// A READ command's data phase: n bytes per iteration clocked out of the flash and read back.
void BM_VirtualFlashRead(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    Open(state.range(1) != 0);
    const kl_u8 read[] = {0x03, 0x00, 0x00, 0x00};
    GPIO2_low2();
    SPI_WriteDO(0x11, sizeof read, read);
    const std::vector<uint8_t> out = {kSpiIn, static_cast<uint8_t>(n - 1),
                                      static_cast<uint8_t>((n - 1) >> 8)};
    std::vector<uint8_t> in(n);
    for (auto _ : state) {
        WriteRead(out, in);
        vc_log_clear();
    }
    ReportBits(state, 8ull * n);
}
BENCHMARK(BM_VirtualFlashRead)->ArgNames({"bytes", "fast"})->Args({65536, 1})->Args({4096, 0});

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const bool jobsOk = bench::PrintJobTables();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseDevice();
    return jobsOk ? 0 : 1;
}
