// The chain's devices: counted through BYPASS, their IDCODEs read after Test-Logic-Reset, and
// (idcode) their instruction lengths, given or found from the capture pattern.
#include <cstdio>

#include "engine/jtag_job.h"
#include "jtag/chain.h"
#include "jtag/jtag_ops.h"

namespace kestrel::engine {
namespace {

std::string LengthsText(const jtag::ChainLayout& layout) {
    return jtag::JoinLengths(layout.irLengths) +
           (layout.detected ? " (detected from the capture pattern)" : " (--ir-lengths)");
}

std::string IdcodeText(const ChainDevice& device) {
    return device.hasIdcode ? json::String(Hex32(device.idcode)) : "null";
}

// kestrel scan: each device's IDCODE and what it says.
int ReportScan(size_t count, const std::vector<ChainDevice>& devices, Job& job) {
    job.Line("JTAG chain: " + std::to_string(count) + " device(s) (device 0 is nearest TDI)");
    job.Field("device_count", json::Number(uint64_t{count}));
    std::vector<std::string> entries;
    for (size_t i = 0; i < devices.size(); ++i) {
        entries.push_back(json::Object(
            {{"index", json::Number(uint64_t{i})}, {"idcode", IdcodeText(devices[i])}}));
    }
    job.Field("devices", json::Array(entries));
    for (size_t i = 0; i < devices.size(); ++i) {
        const ChainDevice& d = devices[i];
        job.Line("  device " + std::to_string(i) +
                 (d.hasIdcode ? "  IDCODE " + Hex32(d.idcode) + "  " + DescribeIdcode(d.idcode)
                              : std::string("  no IDCODE (BYPASS after reset)")));
    }
    return kExitOk;
}

// kestrel jtag idcode: each device's IDCODE and instruction length.
int ReportIdcodes(const jtag::ChainMeasurement& measured, const std::vector<ChainDevice>& devices,
                  const std::vector<uint32_t>& given, Job& job) {
    jtag::ChainLayout layout;
    std::string error;
    const bool lengths = jtag::ChooseIrLengths(measured, given, layout, error);
    job.Line("JTAG chain: " + std::to_string(measured.devices) +
             " device(s) (device 0 is nearest TDI), " + std::to_string(measured.irCapture.size()) +
             " instruction bits");
    job.Field("device_count", json::Number(uint64_t{measured.devices}));
    std::vector<std::string> entries;
    for (size_t i = 0; i < devices.size(); ++i) {
        entries.push_back(
            json::Object({{"index", json::Number(uint64_t{i})},
                          {"idcode", IdcodeText(devices[i])},
                          {"ir_length", lengths ? json::Number(layout.irLengths[i]) : "null"}}));
    }
    job.Field("devices", json::Array(entries));
    for (size_t i = 0; i < devices.size(); ++i) {
        job.Line("  device " + std::to_string(i) + "  " +
                 (devices[i].hasIdcode ? Hex32(devices[i].idcode) : std::string("no IDCODE ")) +
                 (lengths ? "  IR " + std::to_string(layout.irLengths[i]) + " bits" : ""));
    }
    job.Line("IR lengths " + (lengths ? LengthsText(layout) : "unknown: " + error));
    return kExitOk;
}

}  // namespace

int RunChainScan(const kestrel_jtag_job& r, Job& job) {
    const bool scan = r.verb == KESTREL_JTAG_SCAN;
    CallResult result;
    jtag::ChainMeasurement measured;
    if (!jtag::MeasureChain(measured, result)) {
        return job.FailCall(result, scan ? "scan failed" : "");
    }
    std::vector<ChainDevice> devices;
    if (!ReadIdcodes(static_cast<int>(measured.devices), devices, result)) {
        return job.FailCall(result, scan ? "scan failed" : "idcode failed");
    }
    if (scan) return ReportScan(measured.devices, devices, job);
    const std::vector<uint32_t> given(r.ir_lengths, r.ir_lengths + r.ir_length_count);
    return ReportIdcodes(measured, devices, given, job);
}

}  // namespace kestrel::engine
