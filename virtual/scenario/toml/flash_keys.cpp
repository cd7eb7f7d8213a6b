// The [device.flash] table of a scenario file: presence, the part (or the generic flash's geometry
// and identity: JEDEC ID and discoverable parameters), status registers at start, contents,
// chip-select line and a fault that keeps it busy.
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

// The part by name; its size and JEDEC ID then are the part's, and the keys for them are errors.
bool ReadPart(Reader& r, const toml::table& t, const std::string& at, FlashSetup& f) {
    const std::optional<std::string> name = r.Text(t, at, "part");
    if (!name) return false;
    f.part = FindFlashPart(*name);
    if (!f.part) {
        size_t count = 0;
        const FlashPart* parts = FlashParts(count);
        std::string list;
        for (size_t i = 0; i < count; ++i) list += (i ? ", " : "") + std::string(parts[i].name);
        r.Fail(*t.get("part"), at + ".part",
               "unknown part \"" + *name + "\" (expected one of: " + list + ")");
        return false;
    }
    for (const char* key : {"size", "jedec_id"}) {
        if (t.get(key)) r.Fail(*t.get(key), at + "." + key, "the part gives it; leave it out");
    }
    f.size = f.part->size;
    std::copy_n(f.part->jedecId, 3, f.jedecId);
    return true;
}

// Status registers 1 to 3 at start, as an array of up to three bytes.
void ReadStatus(Reader& r, const toml::table& t, const std::string& at, FlashSetup& f) {
    const toml::node* node = t.get("status");
    if (!node) return;
    const toml::array* values = node->as_array();
    const size_t registers = f.Part().registers;
    if (!values || values->empty() || values->size() > registers) {
        r.Fail(*node, at + ".status",
               "expected an array of 1 to " + std::to_string(registers) +
                   " register values, e.g. [0x1C, 0x00]");
        return;
    }
    std::copy_n(f.Part().factory, 3, f.status);
    for (size_t i = 0; i < values->size(); ++i) {
        const std::optional<int64_t> value = (*values)[i].value<int64_t>();
        if (!value || *value < 0 || *value > 255) {
            r.Fail((*values)[i], at + ".status[" + std::to_string(i) + "]", "expected 0 to 255");
            return;
        }
        f.status[i] = static_cast<uint8_t>(*value);
    }
    f.hasStatus = true;
}

void ReadFlash(Reader& r, const toml::table& t, const std::string& at, FlashSetup& f) {
    r.Keys(t, at,
           {"present", "part", "size", "jedec_id", "sfdp", "sfdp_hex", "status", "contents",
            "contents_file", "fill", "cs_line", "stuck_busy"});
    f.present = r.Bool(t, at, "present", true);
    if (!ReadPart(r, t, at, f)) {
        f.size =
            static_cast<uint32_t>(r.Int(t, at, "size", kFlashSectorSize, kMaxFlashSize, f.size));
        if (f.size % kFlashSectorSize != 0) {
            r.Fail(*t.get("size"), at + ".size", "expected a multiple of the 4096-byte sector");
        }
        ReadJedecId(r, t, at, f);
    }
    ReadSfdp(r, t, at, f);
    ReadStatus(r, t, at, f);
    f.stuckBusy = r.Bool(t, at, "stuck_busy", false);
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
}

}  // namespace

void ReadTargetKeys(Reader& r, const toml::table& device, const std::string& at,
                    std::string_view key, FlashSetup& flash) {
    if (const toml::table* t = r.SubTable(device, at, key)) {
        ReadFlash(r, *t, at + "." + std::string(key), flash);
    }
}

}  // namespace vcable::scenario_file::toml_reader
