// kestrel gpio OP...: the library's pin operations in the order given, in one connection.
#include <cstdio>
#include <vector>

#include "commands/commands.h"
#include "commands/options.h"
#include "common/report.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"

namespace kestrel {
namespace {

struct PinOperation {
    const char* name;
    const char* call;
    int (*run)();
    const char* help;
};

const PinOperation kOperations[] = {
    {"default", "Disable_AllTalk", Disable_AllTalk, "every low-byte output to its default level"},
    {"l0-low", "GPIOL_low", GPIOL_low, "GPIOL0 low, the rest default"},
    {"l2-low", "GPIO2_low2", GPIO2_low2, "GPIOL2 (flash chip select) low, the rest default"},
    {"l2-low-h-in", "GPIO2_low", GPIO2_low, "GPIOL2 low and every high-byte line an input"},
    {"l3-low", "GPIO3_low", GPIO3_low, "GPIOL3 low, the rest default"},
    {"h2-high", "GPIOH2_high", GPIOH2_high, "GPIOH2 high (driven after the EDP opens)"},
    {"h2-low", "GPIOH2_low", GPIOH2_low, "GPIOH2 low"},
};

// Bounds that keep one command from holding the cable for hours.
constexpr uint64_t kMaxWaitAttempts = 1000000;
constexpr uint64_t kMaxPulseMs = 60000;

struct GpioOptions {
    std::vector<std::string> operations;
    uint32_t waitAttempts = 1000;
    uint32_t pulseMs = 10;
};

void ShowPins(Session& session) {
    const int device = VirtualDeviceIndex(session);
    if (device < 0) return;
    uint16_t levels = 0;
    uint16_t directions = 0;
    session.virtualCable()->api().vc_pins_get(device, &levels, &directions);
    std::printf("    lines: ADBUS %02X (outputs %02X)  ACBUS %02X (outputs %02X)\n", levels & 0xFF,
                directions & 0xFF, levels >> 8, directions >> 8);
}

// One pin operation in the result: its name, the export, its result and what it read.
void ReportOperation(const std::string& name, const char* call, int code,
                     const std::string& value = "null") {
    report::Append("operations", json::Object({{"name", json::String(name)},
                                               {"export", json::String(call)},
                                               {"code", json::Number(code)},
                                               {"value", value}}));
}

bool RunOperation(const std::string& name, const GpioOptions& o, CallResult& result) {
    for (const PinOperation& op : kOperations) {
        if (name != op.name) continue;
        const int code = op.run();
        std::printf("%-12s %s returned %d\n", name.c_str(), op.call, code);
        ReportOperation(name, op.call, code);
        return Check(code, op.call, result);
    }
    if (name == "read") {
        kl_u8 value = 0;
        const int code = JTAG_ReadPort(&value);
        std::printf("%-12s JTAG_ReadPort returned %d: ADBUS = 0x%02X\n", name.c_str(), code, value);
        ReportOperation(name, "JTAG_ReadPort", code, json::Number(uint32_t{value}));
        return Check(code, "JTAG_ReadPort", result);
    }
    if (name == "reset-pulse") {
        ResetXilinx(o.pulseMs, o.pulseMs);
        std::printf("%-12s ResetXilinx(%u, %u): GPIOL1 pulsed low\n", name.c_str(), o.pulseMs,
                    o.pulseMs);
        return true;
    }
    // wait-h1-low: Wait_GPIOH1_Low tests the line once; poll it until it is low.
    namespace codes = kestrellink_result_codes;
    int code = codes::kGpioH1NotLow;
    uint32_t attempt = 0;
    while (attempt < o.waitAttempts && code == codes::kGpioH1NotLow) {
        code = Wait_GPIOH1_Low();
        ++attempt;
    }
    ReportOperation(name, "Wait_GPIOH1_Low", code, json::Number(attempt));
    std::printf("%-12s Wait_GPIOH1_Low returned %d after %u call(s)%s\n", name.c_str(), code,
                attempt, code == codes::kGpioH1Low ? ": GPIOH1 is low" : "");
    return Check(code, "Wait_GPIOH1_Low", result);
}

int RunGpio(const GlobalOptions& options, const GpioOptions& o) {
    Session session(options);
    if (const int code = session.Start()) return code;
    CallResult result;
    if (!session.OpenMpsse(result)) return session.Finish(FailCall(result));
    for (const std::string& name : o.operations) {
        if (!RunOperation(name, o, result)) {
            return session.Finish(FailCall(result));
        }
        ShowPins(session);
    }
    return session.Finish(kExitOk);
}

}  // namespace

Command AddGpioCommand(CLI::App& root) {
    auto o = std::make_shared<GpioOptions>();
    std::string help = "Pin operations, run in order in one connection:";
    std::vector<std::string> names;
    for (const PinOperation& op : kOperations) {
        help += std::string("\n  ") + op.name + ": " + op.help + " (" + op.call + ")";
        names.push_back(op.name);
    }
    help +=
        "\n  read: the low pin byte (JTAG_ReadPort)\n  reset-pulse: GPIOL1 pulsed low "
        "(ResetXilinx)\n  wait-h1-low: call Wait_GPIOH1_Low until GPIOH1 is low";
    for (const char* extra : {"read", "reset-pulse", "wait-h1-low"}) names.push_back(extra);
    CLI::App* app = root.add_subcommand("gpio", help);
    app->add_option("operations", o->operations, "Operations to run")
        ->required()
        ->check(CLI::IsMember(names));
    app->add_option("--attempts", o->waitAttempts, "wait-h1-low: calls before giving up")
        ->capture_default_str()
        ->transform(Number(1, kMaxWaitAttempts));
    app->add_option("--pulse-ms", o->pulseMs, "reset-pulse: milliseconds low and after")
        ->capture_default_str()
        ->transform(Number(0, kMaxPulseMs));
    return {app, [o](const GlobalOptions& options) { return RunGpio(options, *o); }};
}

}  // namespace kestrel
