// The [device.flash] table of a scenario file: presence, geometry, contents, identity (JEDEC ID and
// discoverable parameters), chip-select line and busy times of the SPI flash.
#include <algorithm>
#include <string>

#include "scenario/toml/target_keys.h"
#include "targets/flash/sfdp.h"

namespace vcable::scenario_file::toml_reader {
namespace {

// Limits of the model that a file may ask for.
constexpr uint32_t kMaxFlashSize = 64u << 20;
constexpr uint32_t kFlashSectorSize = 4096;
constexpr size_t kMaxSfdpBytes = 4096;

std::string Hex2(uint8_t value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[value >> 4] + kDigits[value & 15];
}

// The JEDEC ID: given, or the default one with the capacity byte of the flash's size. A given
// capacity byte that announces another size describes a chip that cannot exist.
void ReadJedecId(Reader& r, const toml::table& t, const std::string& at, FlashSetup& f) {
    std::vector<uint8_t> id;
    if (!r.Bytes(t, at, "jedec_id", "", "", id)) {
        f.jedecId[2] = CapacityCodeFor(f.size);
        return;
    }
    const toml::node& node = *t.get("jedec_id");
    if (id.size() != 3) {
        r.Fail(node, at + ".jedec_id", "expected three bytes, e.g. \"A7 40 14\"");
        return;
    }
    std::copy(id.begin(), id.end(), f.jedecId);
    const uint64_t announced = CapacityCodeBytes(id[2]);
    if (announced != 0 && announced != f.size) {
        r.Fail(node, at + ".jedec_id",
               "the capacity byte " + Hex2(id[2]) + " announces " + std::to_string(announced) +
                   " bytes, but size is " + std::to_string(f.size));
    }
}

// The SFDP space: built from the geometry (the default), none (sfdp = false), or given in hex,
// whose density must then agree with size.
void ReadSfdp(Reader& r, const toml::table& t, const std::string& at, FlashSetup& f) {
    f.sfdp = r.Bool(t, at, "sfdp", true);
    if (!r.Bytes(t, at, "sfdp_hex", "", "", f.sfdpSpace)) return;
    const toml::node& node = *t.get("sfdp_hex");
    if (!f.sfdp) {
        r.Fail(node, at, "give either 'sfdp = false' or 'sfdp_hex'");
    } else if (f.sfdpSpace.empty() || f.sfdpSpace.size() > kMaxSfdpBytes) {
        r.Fail(node, at + ".sfdp_hex",
               "expected 1 to " + std::to_string(kMaxSfdpBytes) + " bytes of SFDP space");
    } else if (const uint64_t density = SfdpDensityBytes(f.sfdpSpace);
               density != 0 && density != f.size) {
        r.Fail(node, at + ".sfdp_hex",
               "the basic parameter table announces " + std::to_string(density) +
                   " bytes, but size is " + std::to_string(f.size));
    }
}

void ReadFlash(Reader& r, const toml::table& t, const std::string& at, FlashSetup& f) {
    r.Keys(t, at,
           {"present", "size", "jedec_id", "sfdp", "sfdp_hex", "contents", "contents_file", "fill",
            "cs_line", "program_busy_polls", "sector_erase_busy_polls", "chip_erase_busy_polls"});
    f.present = r.Bool(t, at, "present", true);
    f.size = static_cast<uint32_t>(r.Int(t, at, "size", kFlashSectorSize, kMaxFlashSize, f.size));
    if (f.size % kFlashSectorSize != 0) {
        r.Fail(*t.get("size"), at + ".size", "expected a multiple of the 4096-byte sector");
    }
    ReadJedecId(r, t, at, f);
    ReadSfdp(r, t, at, f);
    std::vector<uint8_t> contents;
    const bool hasContents = r.Bytes(t, at, "contents", "", "contents_file", contents);
    if (contents.size() > f.size) {
        r.Fail(*(t.get("contents") ? t.get("contents") : t.get("contents_file")), at,
               "the contents (" + std::to_string(contents.size()) +
                   " bytes) do not fit the flash (" + std::to_string(f.size) + " bytes)");
        contents.resize(f.size);
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
