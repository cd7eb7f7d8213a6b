// Reading a scenario file: TOML through toml++, checked key by key against what the model can do.
// The first problem ends the reading with a message naming its line and what was expected there.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string_view>

#include "scenario_file.h"

namespace vcable::scenario_file {
namespace {

constexpr uint32_t kMaxFlashSize = 64u << 20;
constexpr uint32_t kFlashSectorSize = 4096;
constexpr uint32_t kMaxUserAreaSize = 65535;
constexpr int kLineCount = 16;

const char* const kLineNames[kLineCount] = {
    "TCK",    "TDI",    "TDO",    "TMS",    "GPIOL0", "GPIOL1", "GPIOL2", "GPIOL3",
    "GPIOH0", "GPIOH1", "GPIOH2", "GPIOH3", "GPIOH4", "GPIOH5", "GPIOH6", "GPIOH7"};

const char* TypeName(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::table:
            return "a table";
        case toml::node_type::array:
            return "an array";
        case toml::node_type::string:
            return "a string";
        case toml::node_type::integer:
            return "an integer";
        case toml::node_type::floating_point:
            return "a number with a fraction";
        case toml::node_type::boolean:
            return "a boolean";
        default:
            return "a date or time";
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hex digits in pairs; blanks, commas, colons and underscores between bytes are ignored.
bool ParseHex(std::string_view text, std::vector<uint8_t>& out) {
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == ',' || c == ':' || c == '_') continue;
        const int digit = HexDigit(c);
        if (digit < 0) return false;
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    return high < 0;
}

class Reader {
  public:
    Reader(std::string origin, std::string folder)
        : origin_(std::move(origin)), folder_(std::move(folder)) {}

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

    void Fail(const toml::node& node, const std::string& where, const std::string& what) {
        if (failed()) return;
        error_ =
            origin_ + ":" + std::to_string(node.source().begin.line) + ": " + where + ": " + what;
    }

    // Every key of the table must be one of `known`.
    void Keys(const toml::table& table, const std::string& where,
              std::initializer_list<std::string_view> known) {
        for (auto&& [key, node] : table) {
            bool found = false;
            for (std::string_view k : known) found = found || key.str() == k;
            if (found) continue;
            std::string list;
            for (std::string_view k : known) list += (list.empty() ? "" : ", ") + std::string(k);
            Fail(node, where,
                 "unknown key '" + std::string(key.str()) + "' (expected one of: " + list + ")");
        }
    }

    int64_t Int(const toml::table& t, const std::string& where, std::string_view key, int64_t min,
                int64_t max, int64_t fallback) {
        const toml::node* node = t.get(key);
        if (!node) return fallback;
        const std::string at = where + "." + std::string(key);
        if (!node->is_integer()) {
            Fail(*node, at, std::string("expected an integer, found ") + TypeName(*node));
            return fallback;
        }
        const int64_t value = node->as_integer()->get();
        if (value < min || value > max) {
            Fail(*node, at,
                 "expected an integer from " + std::to_string(min) + " to " + std::to_string(max) +
                     ", found " + std::to_string(value));
            return fallback;
        }
        return value;
    }

    std::optional<std::string> Text(const toml::table& t, const std::string& where,
                                    std::string_view key) {
        const toml::node* node = t.get(key);
        if (!node) return std::nullopt;
        if (!node->is_string()) {
            Fail(*node, where + "." + std::string(key),
                 std::string("expected a string, found ") + TypeName(*node));
            return std::nullopt;
        }
        return node->as_string()->get();
    }

    bool Bool(const toml::table& t, const std::string& where, std::string_view key, bool fallback) {
        const toml::node* node = t.get(key);
        if (!node) return fallback;
        if (!node->is_boolean()) {
            Fail(*node, where + "." + std::string(key),
                 std::string("expected true or false, found ") + TypeName(*node));
            return fallback;
        }
        return node->as_boolean()->get();
    }

    // One of the words of `choices` (its index), or `fallback` when the key is absent.
    int Choice(const toml::table& t, const std::string& where, std::string_view key,
               std::initializer_list<std::string_view> choices, int fallback) {
        const std::optional<std::string> word = Text(t, where, key);
        if (!word) return fallback;
        int index = 0;
        std::string list;
        for (std::string_view c : choices) {
            if (*word == c) return index;
            list += (list.empty() ? "\"" : ", \"") + std::string(c) + "\"";
            ++index;
        }
        Fail(*t.get(key), where + "." + std::string(key),
             "expected one of " + list + ", found \"" + *word + "\"");
        return fallback;
    }

    // Bytes from `<prefix>` (hex), `text` (when allowed) or `file` keys; false when none is given.
    bool Bytes(const toml::table& t, const std::string& where, std::string_view hexKey,
               std::string_view textKey, std::string_view fileKey, std::vector<uint8_t>& out) {
        int given = 0;
        for (std::string_view k : {hexKey, textKey, fileKey}) given += !k.empty() && t.get(k);
        if (given > 1) {
            Fail(t, where,
                 "give only one of '" + std::string(hexKey) + "', '" + std::string(textKey) +
                     "', '" + std::string(fileKey) + "'");
            return false;
        }
        if (auto hex = Text(t, where, hexKey)) {
            if (!ParseHex(*hex, out)) {
                Fail(*t.get(hexKey), where + "." + std::string(hexKey),
                     "expected pairs of hex digits, e.g. \"9F 01 A5\"");
            }
            return true;
        }
        if (!textKey.empty()) {
            if (auto text = Text(t, where, textKey)) {
                out.assign(text->begin(), text->end());
                return true;
            }
        }
        if (fileKey.empty()) return false;
        if (auto name = Text(t, where, fileKey)) {
            const std::string path = name->empty() || (*name)[0] == '/' || folder_.empty()
                                         ? *name
                                         : folder_ + "/" + *name;
            std::ifstream file(path, std::ios::binary);
            if (!file) {
                Fail(*t.get(fileKey), where + "." + std::string(fileKey),
                     "cannot read the file \"" + path + "\"");
                return true;
            }
            out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            return true;
        }
        return false;
    }

    // A line by name ("GPIOH1") or number (0 to 15).
    int Line(const toml::table& t, const std::string& where, std::string_view key, int fallback) {
        const toml::node* node = t.get(key);
        if (!node) return fallback;
        if (node->is_integer()) return static_cast<int>(Int(t, where, key, 0, 15, fallback));
        if (node->is_string()) {
            for (int line = 0; line < kLineCount; ++line) {
                if (node->as_string()->get() == kLineNames[line]) return line;
            }
        }
        Fail(*node, where + "." + std::string(key),
             "expected a line name (TCK, TDI, TDO, TMS, GPIOL0 to GPIOL3, GPIOH0 to GPIOH7) or a "
             "number from 0 to 15");
        return fallback;
    }

    // The array of tables under `key` (absent: empty).
    std::vector<const toml::table*> Tables(const toml::table& t, const std::string& where,
                                           std::string_view key) {
        std::vector<const toml::table*> out;
        const toml::node* node = t.get(key);
        if (!node) return out;
        const toml::array* array = node->as_array();
        if (!array) {
            Fail(*node, where + "." + std::string(key),
                 std::string("expected an array of tables ([[") + std::string(key) + "]]), found " +
                     TypeName(*node));
            return out;
        }
        for (const toml::node& item : *array) {
            if (!item.is_table()) {
                Fail(item, where + "." + std::string(key),
                     "expected a table, found " + std::string(TypeName(item)));
                continue;
            }
            out.push_back(item.as_table());
        }
        return out;
    }

    const toml::table* SubTable(const toml::table& t, const std::string& where,
                                std::string_view key) {
        const toml::node* node = t.get(key);
        if (!node) return nullptr;
        if (!node->is_table()) {
            Fail(*node, where + "." + std::string(key),
                 std::string("expected a table, found ") + TypeName(*node));
            return nullptr;
        }
        return node->as_table();
    }

  private:
    std::string origin_;
    std::string folder_;
    std::string error_;
};

void ReadJtag(Reader& r, const toml::table& t, const std::string& at, JtagDeviceSetup& d) {
    r.Keys(t, at,
           {"ir_length", "idcode", "idcode_instruction", "user_instruction", "user_length",
            "user_reset"});
    d.irLength = static_cast<int>(r.Int(t, at, "ir_length", 2, 32, d.irLength));
    const int64_t irMax = (int64_t{1} << d.irLength) - 1;
    if (!t.get("idcode")) r.Fail(t, at, "missing key 'idcode' (a 32-bit value with bit 0 set)");
    d.idcode = static_cast<uint32_t>(r.Int(t, at, "idcode", 0, 0xFFFFFFFF, d.idcode));
    if (!r.failed() && (d.idcode & 1) == 0) {
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

void ReadFlash(Reader& r, const toml::table& t, const std::string& at, FlashSetup& f) {
    r.Keys(t, at,
           {"present", "size", "jedec_id", "contents", "contents_file", "fill", "cs_line",
            "program_busy_polls", "sector_erase_busy_polls", "chip_erase_busy_polls"});
    f.present = r.Bool(t, at, "present", true);
    f.size = static_cast<uint32_t>(r.Int(t, at, "size", kFlashSectorSize, kMaxFlashSize, f.size));
    if (!r.failed() && f.size % kFlashSectorSize != 0) {
        r.Fail(*t.get("size"), at + ".size", "expected a multiple of the 4096-byte sector");
    }
    std::vector<uint8_t> id;
    if (r.Bytes(t, at, "jedec_id", "", "", id) && !r.failed() && id.size() != 3) {
        r.Fail(*t.get("jedec_id"), at + ".jedec_id", "expected three bytes, e.g. \"A7 40 14\"");
    }
    if (id.size() == 3) std::copy(id.begin(), id.end(), f.jedecId);
    std::vector<uint8_t> contents;
    const bool hasContents = r.Bytes(t, at, "contents", "", "contents_file", contents);
    if (!r.failed() && contents.size() > f.size) {
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

void ReadGpio(Reader& r, const toml::table& t, const std::string& at, DeviceDesc& d) {
    r.Keys(t, at, {"line", "level", "after_polls"});
    GpioDesc g;
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
    g.scheduled = t.get("after_polls") != nullptr;
    g.afterPolls = static_cast<uint32_t>(r.Int(t, at, "after_polls", 0, UINT32_MAX, 0));
    if (g.scheduled) {
        d.schedules.push_back(g);
        return;
    }
    const uint16_t bit = static_cast<uint16_t>(1u << g.line);
    if (g.level < 0) {
        d.targets.externalDriveMask &= static_cast<uint16_t>(~bit);
    } else {
        d.targets.externalDriveMask |= bit;
        d.targets.externalDriveLevels =
            static_cast<uint16_t>(g.level ? (d.targets.externalDriveLevels | bit)
                                          : (d.targets.externalDriveLevels & ~bit));
    }
}

void ReadPeer(Reader& r, const toml::table& t, const std::string& at, PeerDesc& p) {
    r.Keys(t, at, {"peer", "delay_polls", "data", "text", "file", "trigger", "polls"});
    p.kind = static_cast<PeerKind>(r.Choice(
        t, at, "peer", {"none", "loopback", "echo", "sink", "script"}, static_cast<int>(p.kind)));
    p.delayPolls = static_cast<uint32_t>(r.Int(t, at, "delay_polls", 0, UINT32_MAX, 0));
    const bool hasData = r.Bytes(t, at, "data", "text", "file", p.data);
    if (p.kind == PeerKind::kScript && !hasData) {
        r.Fail(t, at, "a script peer needs its bytes: 'data' (hex), 'text' or 'file'");
    }
    p.onDtrRise = r.Choice(t, at, "trigger", {"dtr_rise", "after_polls"}, 0) == 0;
    p.polls = static_cast<uint32_t>(r.Int(t, at, "polls", 0, UINT32_MAX, 0));
}

void ReadDevice(Reader& r, const toml::table& t, const std::string& at, DeviceDesc& d) {
    r.Keys(t, at,
           {"type", "description", "serial", "eeprom", "manufacturer", "manufacturer_id",
            "user_area_size", "user_area_text", "user_area_hex", "cycle_absence", "jtag", "flash",
            "gpio", "uart_a", "uart_b"});
    d.dual = r.Choice(t, at, "type", {"cable", "single"}, 0) == 0;
    if (!t.get("description")) r.Fail(t, at, "missing key 'description'");
    d.description = r.Text(t, at, "description").value_or("");
    d.serial = r.Text(t, at, "serial").value_or("");
    d.programmed = r.Choice(t, at, "eeprom", {"programmed", "blank"}, 0) == 0;
    if (!d.dual && !d.programmed) r.Fail(t, at, "a single-channel device is always programmed");
    d.manufacturer = r.Text(t, at, "manufacturer");
    d.manufacturerId = r.Text(t, at, "manufacturer_id");
    if (t.get("user_area_size")) {
        d.userAreaSize =
            static_cast<uint32_t>(r.Int(t, at, "user_area_size", 0, kMaxUserAreaSize, 0));
    }
    r.Bytes(t, at, "user_area_hex", "user_area_text", "", d.userAreaData);
    d.cycleAbsence = static_cast<uint32_t>(r.Int(t, at, "cycle_absence", 0, UINT32_MAX, 0));
    if (!d.dual) {
        for (const char* key : {"jtag", "flash", "gpio", "uart_b"}) {
            if (t.get(key))
                r.Fail(*t.get(key), at,
                       std::string("a single-channel device has no ") + key + " (only cables do)");
        }
    }
    d.peers[1].kind = d.dual ? PeerKind::kLoopback : PeerKind::kNone;
    if (t.get("jtag")) {
        d.targets.chain.clear();
        int i = 0;
        for (const toml::table* dev : r.Tables(t, at, "jtag")) {
            JtagDeviceSetup setup;
            ReadJtag(r, *dev, at + ".jtag[" + std::to_string(i++) + "]", setup);
            d.targets.chain.push_back(setup);
        }
    }
    if (const toml::table* flash = r.SubTable(t, at, "flash")) {
        ReadFlash(r, *flash, at + ".flash", d.targets.flash);
    }
    int i = 0;
    for (const toml::table* g : r.Tables(t, at, "gpio")) {
        ReadGpio(r, *g, at + ".gpio[" + std::to_string(i++) + "]", d);
    }
    if (const toml::table* a = r.SubTable(t, at, "uart_a"))
        ReadPeer(r, *a, at + ".uart_a", d.peers[0]);
    if (const toml::table* b = r.SubTable(t, at, "uart_b"))
        ReadPeer(r, *b, at + ".uart_b", d.peers[1]);
}

void ReadFault(Reader& r, const toml::table& t, const std::string& at, int devices, FaultDesc& f) {
    r.Keys(t, at,
           {"type", "entry", "nth", "status", "persistent", "max_bytes", "device", "channel",
            "data", "text"});
    f.kind = static_cast<FaultKind>(
        r.Choice(t, at, "type", {"fail", "short_write", "unplug", "inject_rx"}, 0));
    const bool needsEntry = f.kind != FaultKind::kShortWrite;
    if (needsEntry && !t.get("entry")) r.Fail(t, at, "missing key 'entry' (e.g. \"FT_Write\")");
    if (auto name = r.Text(t, at, "entry")) {
        const int index = EntryIndex(name->c_str());
        if (index < 0) {
            r.Fail(
                *t.get("entry"), at + ".entry",
                "expected a vendor entry point name such as \"FT_Write\", found \"" + *name + "\"");
        }
        f.entry = static_cast<Entry>(index < 0 ? 0 : index);
    }
    f.nth = static_cast<uint32_t>(r.Int(t, at, "nth", 1, UINT32_MAX, 1));
    f.status = static_cast<uint32_t>(r.Int(t, at, "status", 0, UINT32_MAX, 4));
    f.persistent = r.Bool(t, at, "persistent", false);
    f.maxBytes = static_cast<uint32_t>(r.Int(t, at, "max_bytes", 0, UINT32_MAX, 0));
    f.device = static_cast<int>(r.Int(t, at, "device", 0, devices > 0 ? devices - 1 : 0, 0));
    f.channel = static_cast<int>(r.Int(t, at, "channel", 0, 1, 0));
    if (!r.Bytes(t, at, "data", "text", "", f.data) && f.kind == FaultKind::kInjectRx) {
        r.Fail(t, at, "an inject_rx fault needs 'data' (hex) or 'text'");
    }
}

}  // namespace

bool ParserAvailable() { return true; }

bool Parse(const std::string& text, const std::string& origin, const std::string& folder,
           ScenarioDesc& out, std::string& error) {
    toml::parse_result parsed = toml::parse(text, origin);
    if (!parsed) {
        const toml::parse_error& e = parsed.error();
        error = origin + ":" + std::to_string(e.source().begin.line) + ": " +
                std::string(e.description());
        return false;
    }
    const toml::table& root = parsed.table();
    Reader r(origin, folder);
    r.Keys(root, "scenario", {"library_version", "device", "fault"});
    if (root.get("library_version")) {
        out.libraryVersion =
            static_cast<uint32_t>(r.Int(root, "scenario", "library_version", 0, UINT32_MAX, 0));
    }
    int i = 0;
    for (const toml::table* t : r.Tables(root, "scenario", "device")) {
        out.devices.emplace_back();
        ReadDevice(r, *t, "device[" + std::to_string(i++) + "]", out.devices.back());
    }
    i = 0;
    const int devices = static_cast<int>(out.devices.size());
    for (const toml::table* t : r.Tables(root, "scenario", "fault")) {
        out.faults.emplace_back();
        ReadFault(r, *t, "fault[" + std::to_string(i++) + "]", devices, out.faults.back());
    }
    error = r.error();
    return !r.failed();
}

}  // namespace vcable::scenario_file
