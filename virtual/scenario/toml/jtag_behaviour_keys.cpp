#include "scenario/toml/jtag_behaviour_keys.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "scenario/toml/target_keys.h"
#include "targets/jtag/tap_plugin.h"

namespace vcable::scenario_file::toml_reader {
namespace {

// The flags named under `key`, as a mask of their numbers.
uint32_t FlagMask(Reader& r, const toml::table& t, const std::string& at, std::string_view key,
                  const std::vector<std::string>& flags) {
    uint32_t mask = 0;
    for (const std::string& name : r.Words(t, at, key)) {
        const auto found = std::find(flags.begin(), flags.end(), name);
        if (found == flags.end()) {
            r.Fail(*t.get(key), at + "." + std::string(key),
                   "no flag \"" + name + "\": list it in the device's 'flags'");
            return 0;
        }
        mask |= uint32_t{1} << (found - flags.begin());
    }
    return mask;
}

void ReadStatusLayout(Reader& r, const toml::table& t, const std::string& at,
                      const std::vector<std::string>& flags, JtagInstruction& row) {
    const int top = row.length - 1;
    row.busyBit = static_cast<int>(r.Int(t, at, "busy_bit", 0, top, -1));
    row.busyLevel = r.Int(t, at, "busy_level", 0, 1, 1) == 1;
    row.flagBits.assign(flags.size(), -1);
    const toml::table* bitsOf = r.SubTable(t, at, "flags");
    if (!bitsOf) return;
    for (auto&& [key, node] : *bitsOf) {
        const std::string name(key.str());
        const auto found = std::find(flags.begin(), flags.end(), name);
        if (found == flags.end()) {
            r.Fail(node, at + ".flags",
                   "no flag \"" + name + "\": list it in the device's 'flags'");
            return;
        }
        row.flagBits[found - flags.begin()] =
            static_cast<int>(r.Int(*bitsOf, at + ".flags", name, 0, top, -1));
    }
}

}  // namespace

void ReadRowBehaviour(Reader& r, const toml::table& t, const std::string& at,
                      const std::vector<std::string>& flags, JtagInstruction& row) {
    row.busyNs = static_cast<uint64_t>(r.Int(t, at, "busy_us", 0, kMaxBusyUs, 0)) * 1000;
    row.busyOnUpdate = r.Choice(t, at, "starts_on", {"instruction", "update"}, 0) == 1;
    row.setsFlags = FlagMask(r, t, at, "sets", flags);
    row.clearsFlags = FlagMask(r, t, at, "clears", flags);
    if (row.reg == JtagRegister::kStatus) {
        ReadStatusLayout(r, t, at, flags, row);
    } else {
        for (const char* key : {"busy_bit", "busy_level", "flags"}) {
            if (t.get(key)) {
                r.Fail(*t.get(key), at,
                       std::string("only a \"status\" register takes '") + key + "'");
            }
        }
    }
    if (row.reg == JtagRegister::kBridge) {
        row.startBit = r.Bool(t, at, "start_bit", false);
        // In the order of BridgeSelect.
        row.bridgeSelect =
            static_cast<BridgeSelect>(r.Choice(t, at, "chip_select", {"dr_scan", "shift_dr"}, 0));
        return;
    }
    for (const char* key : {"start_bit", "chip_select"}) {
        if (t.get(key)) {
            r.Fail(*t.get(key), at,
                   std::string("only a \"spi_bridge\" register takes '") + key + "'");
        }
    }
}

void ReadDeviceBehaviour(Reader& r, const toml::table& t, const std::string& at,
                         JtagDeviceSetup& d) {
    d.flags = r.Words(t, at, "flags");
    if (d.flags.size() > static_cast<size_t>(kMaxJtagFlags)) {
        r.Fail(*t.get("flags"), at + ".flags",
               "at most " + std::to_string(kMaxJtagFlags) + " flags per device");
    }
    for (size_t n = 0; n < d.flags.size() && !r.Failed(); ++n) {
        if (std::count(d.flags.begin(), d.flags.end(), d.flags[n]) > 1) {
            r.Fail(*t.get("flags"), at + ".flags", "\"" + d.flags[n] + "\" is listed twice");
        }
    }
    const std::optional<std::string> plugin = r.Text(t, at, "plugin");
    const std::optional<std::string> config = r.Text(t, at, "plugin_config");
    if (config && !plugin) r.Fail(*t.get("plugin_config"), at, "'plugin_config' needs 'plugin'");
    if (!plugin || r.Failed()) return;
    d.plugin = r.PathOf(*plugin);
    d.pluginConfig = config.value_or("");
    // Loaded once here, so that a plug-in that is missing or declines its config is named at its
    // line rather than found when the cable is wired.
    std::string error;
    std::error_code code;
    if (!std::filesystem::is_regular_file(d.plugin, code)) {
        r.Fail(*t.get("plugin"), at + ".plugin", "no such file \"" + d.plugin + "\"");
    } else if (!TapPlugin::Load(d.plugin, d.pluginConfig, at, nullptr, error)) {
        r.Fail(*t.get("plugin"), at + ".plugin", error);
    }
}

}  // namespace vcable::scenario_file::toml_reader
