// The [[device.jtag]] tables of a scenario file: one TAP controller each, device 0 nearest TDI.
#include <string>

#include "scenario/toml/target_keys.h"

namespace vcable::scenario_file::toml_reader {
namespace {

void ReadDevice(Reader& r, const toml::table& t, const std::string& at, JtagDeviceSetup& d) {
    r.Keys(t, at,
           {"ir_length", "idcode", "idcode_instruction", "user_instruction", "user_length",
            "user_reset"});
    d.irLength = static_cast<int>(r.Int(t, at, "ir_length", 2, 32, d.irLength));
    const int64_t irMax = (int64_t{1} << d.irLength) - 1;
    if (!t.get("idcode")) r.Fail(t, at, "missing key 'idcode' (a 32-bit value with bit 0 set)");
    d.idcode = static_cast<uint32_t>(r.Int(t, at, "idcode", 0, 0xFFFFFFFF, d.idcode));
    if (!r.Failed() && (d.idcode & 1) == 0) {
        r.Fail(*t.get("idcode"), at + ".idcode", "an IDCODE has bit 0 set");
    }
    const int64_t idcodeInstruction = d.idcodeInstruction > irMax ? 1 : d.idcodeInstruction;
    d.idcodeInstruction =
        static_cast<uint32_t>(r.Int(t, at, "idcode_instruction", 0, irMax, idcodeInstruction));
    const int64_t userInstruction = d.userInstruction > irMax ? 2 : d.userInstruction;
    d.userInstruction =
        static_cast<uint32_t>(r.Int(t, at, "user_instruction", 0, irMax, userInstruction));
    d.userLength = static_cast<int>(r.Int(t, at, "user_length", 1, 64, d.userLength));
    d.userResetValue = static_cast<uint64_t>(r.Int(t, at, "user_reset", 0, INT64_MAX, 0));
}

}  // namespace

void ReadTargetKeys(Reader& r, const toml::table& device, const std::string& at,
                    std::string_view key, JtagSetup& jtag) {
    if (!device.get(key)) return;
    jtag.devices.clear();
    int i = 0;
    for (const toml::table* t : r.Tables(device, at, key)) {
        JtagDeviceSetup setup;
        ReadDevice(r, *t, at + "." + std::string(key) + "[" + std::to_string(i++) + "]", setup);
        jtag.devices.push_back(setup);
    }
}

}  // namespace vcable::scenario_file::toml_reader
