// The [device.flash] table of a scenario file: presence, geometry, contents, identity,
// chip-select line and busy times of the SPI flash.
#include <algorithm>
#include <string>

#include "scenario/toml/target_keys.h"

namespace vcable::scenario_file::toml_reader {
namespace {

// Limits of the model that a file may ask for.
constexpr uint32_t kMaxFlashSize = 64u << 20;
constexpr uint32_t kFlashSectorSize = 4096;

void ReadFlash(Reader& r, const toml::table& t, const std::string& at, FlashSetup& f) {
    r.Keys(t, at,
           {"present", "size", "jedec_id", "contents", "contents_file", "fill", "cs_line",
            "program_busy_polls", "sector_erase_busy_polls", "chip_erase_busy_polls"});
    f.present = r.Bool(t, at, "present", true);
    f.size = static_cast<uint32_t>(r.Int(t, at, "size", kFlashSectorSize, kMaxFlashSize, f.size));
    if (!r.Failed() && f.size % kFlashSectorSize != 0) {
        r.Fail(*t.get("size"), at + ".size", "expected a multiple of the 4096-byte sector");
    }
    std::vector<uint8_t> id;
    if (r.Bytes(t, at, "jedec_id", "", "", id) && !r.Failed() && id.size() != 3) {
        r.Fail(*t.get("jedec_id"), at + ".jedec_id", "expected three bytes, e.g. \"A7 40 14\"");
    }
    if (id.size() == 3) std::copy(id.begin(), id.end(), f.jedecId);
    std::vector<uint8_t> contents;
    const bool hasContents = r.Bytes(t, at, "contents", "", "contents_file", contents);
    if (!r.Failed() && contents.size() > f.size) {
        r.Fail(*(t.get("contents") ? t.get("contents") : t.get("contents_file")), at,
               "the contents (" + std::to_string(contents.size()) +
                   " bytes) do not fit the flash (" + std::to_string(f.size) + " bytes)");
    }
    const toml::node* fill = t.get("fill");
    const bool pattern = !fill || (fill->is_string() && fill->as_string()->get() == "pattern");
    if (!pattern || hasContents) {
        const int64_t value = pattern ? 0xFF : r.Int(t, at, "fill", 0, 255, 0xFF);
        f.contents.assign(f.size, static_cast<uint8_t>(value));
        std::copy(contents.begin(), contents.end(), f.contents.begin());
    }
    f.csLine = r.Line(t, at, "cs_line", f.csLine);
    f.programBusyPolls = static_cast<int>(r.Int(t, at, "program_busy_polls", 0, 1000000, 2));
    f.sectorEraseBusyPolls =
        static_cast<int>(r.Int(t, at, "sector_erase_busy_polls", 0, 1000000, 4));
    f.chipEraseBusyPolls = static_cast<int>(r.Int(t, at, "chip_erase_busy_polls", 0, 1000000, 8));
}

}  // namespace

void ReadTargetKeys(Reader& r, const toml::table& device, const std::string& at,
                    std::string_view key, FlashSetup& flash) {
    if (const toml::table* t = r.SubTable(device, at, key)) {
        ReadFlash(r, *t, at + "." + std::string(key), flash);
    }
}

}  // namespace vcable::scenario_file::toml_reader
