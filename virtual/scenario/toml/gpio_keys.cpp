// The [[device.gpio]] tables of a scenario file: a line driven from the start, or a change at a
// receive-queue poll.
#include <string>

#include "scenario/toml/target_keys.h"

namespace vcable::scenario_file::toml_reader {
namespace {

void ReadDrive(Reader& r, const toml::table& t, const std::string& at, GpioSetup& gpio) {
    r.Keys(t, at, {"line", "level", "after_polls"});
    ScheduledDrive g;
    if (!t.get("line")) r.Fail(t, at, "missing key 'line'");
    g.line = r.Line(t, at, "line", 0);
    const toml::node* level = t.get("level");
    if (!level) r.Fail(t, at, "missing key 'level' (0, 1 or \"release\")");
    if (level && level->is_string() && level->as_string()->get() == "release") {
        g.level = -1;
    } else if (level && !level->is_integer()) {
        r.Fail(*level, at + ".level", "expected 0, 1 or \"release\"");
    } else {
        g.level = static_cast<int>(r.Int(t, at, "level", 0, 1, 1));
    }
    g.afterPolls = static_cast<uint32_t>(r.Int(t, at, "after_polls", 0, UINT32_MAX, 0));
    if (t.get("after_polls")) {
        gpio.schedule.push_back(g);
        return;
    }
    const uint16_t bit = static_cast<uint16_t>(1u << g.line);
    if (g.level < 0) {
        gpio.driveMask &= static_cast<uint16_t>(~bit);
    } else {
        gpio.driveMask |= bit;
        gpio.driveLevels =
            static_cast<uint16_t>(g.level ? (gpio.driveLevels | bit) : (gpio.driveLevels & ~bit));
    }
}

}  // namespace

void ReadTargetKeys(Reader& r, const toml::table& device, const std::string& at,
                    std::string_view key, GpioSetup& gpio) {
    int i = 0;
    for (const toml::table* t : r.Tables(device, at, key)) {
        ReadDrive(r, *t, at + "." + std::string(key) + "[" + std::to_string(i++) + "]", gpio);
    }
}

}  // namespace vcable::scenario_file::toml_reader
