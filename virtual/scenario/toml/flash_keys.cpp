// The [device.flash] table of a scenario file: presence, the part (or the generic flash's geometry
// and identity: JEDEC ID and discoverable parameters), changes to a part's identity, size, page and
// busy times, status registers at start, contents, chip-select line and a fault that keeps it
// busy.
#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "scenario/toml/target_keys.h"
#include "targets/flash/sfdp.h"

namespace vcable::scenario_file::toml_reader {
namespace {

// Limits of the model that a file may ask for.
constexpr uint32_t kMaxFlashSize = 64u << 20;
constexpr uint32_t kFlashSectorSize = 4096;
constexpr size_t kMaxSfdpBytes = 4096;
constexpr int64_t kMinPageSize = 16;
constexpr int64_t kMaxPageSize = 4096;

std::string Hex2(uint8_t value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[value >> 4] + kDigits[value & 15];
}

// The JEDEC ID: given, the part's, or the default one with the capacity byte of the flash's size.
// A capacity byte that announces another size than the flash has describes a chip that cannot
// exist.
void ReadJedecId(Reader& r, const toml::table& t, const std::string& at, bool named,
                 FlashSetup& f) {
    std::vector<uint8_t> id;
    const bool given = r.Bytes(t, at, "jedec_id", "", "", id);
    if (!given && !named) {
        f.jedecId[2] = CapacityCodeFor(f.size);
        return;
    }
    if (given && id.size() != 3) {
        r.Fail(*t.get("jedec_id"), at + ".jedec_id", "expected three bytes, e.g. \"A7 40 14\"");
        return;
    }
    if (given) std::copy(id.begin(), id.end(), f.jedecId);
    const uint64_t announced = CapacityCodeBytes(f.jedecId[2]);
    if (announced == 0 || announced == f.size || r.Failed()) return;
    const std::string sizes =
        " announces " + std::to_string(announced) + " bytes, but size is " + std::to_string(f.size);
    if (given) {
        r.Fail(*t.get("jedec_id"), at + ".jedec_id",
               "the capacity byte " + Hex2(f.jedecId[2]) + sizes);
    } else {
        r.Fail(*t.get("size"), at + ".size",
               "the part's JEDEC ID (capacity byte " + Hex2(f.jedecId[2]) + ")" + sizes +
                   ": give its jedec_id too");
    }
}

// One operation's busy time: an integer, the typical time, whose maximum keeps the ratio of the
// part's maximum to its typical time; or [typical, maximum].
void ReadBusyTime(Reader& r, const toml::table& t, const std::string& at, const char* key,
                  uint64_t& typical, uint64_t& maximum) {
    const toml::node* node = t.get(key);
    if (!node) return;
    const std::string where = at + "." + key;
    const toml::array* pair = node->as_array();
    std::optional<int64_t> given[2];
    if (node->is_integer()) {
        given[0] = node->value<int64_t>();
    } else if (pair && pair->size() == 2) {
        given[0] = (*pair)[0].value<int64_t>();
        given[1] = (*pair)[1].value<int64_t>();
    }
    const bool hasMax = given[1].has_value();
    for (int i = 0; i < (hasMax ? 2 : 1); ++i) {
        if (!given[i] || *given[i] < 1 || *given[i] > kMaxBusyUs) {
            r.Fail(*node, where,
                   "expected microseconds from 1 to " + std::to_string(kMaxBusyUs) +
                       ", or [typical, maximum]");
            return;
        }
    }
    if (hasMax && *given[1] < *given[0]) {
        r.Fail(*node, where, "the maximum is below the typical time");
        return;
    }
    const uint64_t wanted = static_cast<uint64_t>(*given[0]);
    maximum = hasMax    ? static_cast<uint64_t>(*given[1])
              : typical ? std::min<uint64_t>(maximum * wanted / typical, kMaxBusyUs)
                        : wanted;
    typical = wanted;
}

// busy_us: the operations' times, by name.
void ReadBusyTimes(Reader& r, const toml::table& t, const std::string& at, FlashTimes& times) {
    const toml::table* busy = r.SubTable(t, at, "busy_us");
    if (!busy) return;
    const std::string where = at + ".busy_us";
    constexpr std::pair<const char*, BusyTime FlashTimes::*> kOperations[] = {
        {"page_program", &FlashTimes::pageProgram},
        {"sector_erase", &FlashTimes::sectorErase},
        {"block_erase_32k", &FlashTimes::blockErase32},
        {"block_erase_64k", &FlashTimes::blockErase64},
        {"status_write", &FlashTimes::statusWrite},
    };
    r.Keys(*busy, where,
           {"page_program", "sector_erase", "block_erase_32k", "block_erase_64k", "status_write",
            "chip_erase"});
    for (const auto& [key, field] : kOperations) {
        BusyTime& time = times.*field;
        uint64_t typical = time.typicalUs;
        uint64_t maximum = time.maxUs;
        ReadBusyTime(r, *busy, where, key, typical, maximum);
        time = {static_cast<uint32_t>(typical), static_cast<uint32_t>(maximum)};
    }
    ReadBusyTime(r, *busy, where, "chip_erase", times.chipEraseTypicalUs, times.chipEraseMaxUs);
}

// A part the table lacks, described as the nearest one with its own identity, size, page and
// times. The block-protect scheme and the status registers stay the part's.
void ReadPartChanges(Reader& r, const toml::table& t, const std::string& at, bool named,
                     FlashSetup& f) {
    bool changed = named && (t.get("size") || t.get("jedec_id"));
    for (const char* key : {"device_id", "page_size", "busy_us"}) changed = changed || t.get(key);
    if (!changed || r.Failed()) return;
    FlashPart part = f.Part();
    part.size = f.size;
    std::copy_n(f.jedecId, 3, part.jedecId);
    part.deviceId = static_cast<uint8_t>(r.Int(t, at, "device_id", 0, 255, part.deviceId));
    part.pageSize =
        static_cast<uint32_t>(r.Int(t, at, "page_size", kMinPageSize, kMaxPageSize, part.pageSize));
    if ((part.pageSize & (part.pageSize - 1)) != 0) {
        r.Fail(*t.get("page_size"), at + ".page_size", "expected a power of two");
    }
    ReadBusyTimes(r, t, at, part.times);
    f.tuned = part;
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

// The part by name; its size and JEDEC ID then are the part's unless the file changes them.
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
           {"present", "part", "size", "jedec_id", "device_id", "page_size", "busy_us", "sfdp",
            "sfdp_hex", "status", "contents", "contents_file", "fill", "cs_line", "stuck_busy"});
    f.present = r.Bool(t, at, "present", true);
    const bool named = ReadPart(r, t, at, f);
    f.size = static_cast<uint32_t>(r.Int(t, at, "size", kFlashSectorSize, kMaxFlashSize, f.size));
    if (f.size % kFlashSectorSize != 0) {
        r.Fail(*t.get("size"), at + ".size", "expected a multiple of the 4096-byte sector");
    }
    ReadJedecId(r, t, at, named, f);
    ReadPartChanges(r, t, at, named, f);
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
