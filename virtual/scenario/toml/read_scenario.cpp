// Reading a scenario file: TOML through toml++, checked key by key against what the model can do.
// The first problem ends the reading with a message naming its line and what was expected there.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "scenario/scenario_file.h"
#include "scenario/toml/toml_reader.h"

namespace vcable::scenario_file {
namespace {

using namespace toml_reader;

// Limits of the model that a file may ask for.
constexpr uint32_t kMaxFlashSize = 64u << 20;
constexpr uint32_t kFlashSectorSize = 4096;
constexpr uint32_t kMaxUserAreaSize = 65535;

void ReadJtag(Reader& r, const toml::table& t, const std::string& at, JtagDeviceSetup& d) {
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

void ReadGpio(Reader& r, const toml::table& t, const std::string& at, GpioSetup& gpio) {
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
        d.targets.jtag.devices.clear();
        int i = 0;
        for (const toml::table* dev : r.Tables(t, at, "jtag")) {
            JtagDeviceSetup setup;
            ReadJtag(r, *dev, at + ".jtag[" + std::to_string(i++) + "]", setup);
            d.targets.jtag.devices.push_back(setup);
        }
    }
    if (const toml::table* flash = r.SubTable(t, at, "flash")) {
        ReadFlash(r, *flash, at + ".flash", d.targets.flash);
    }
    int i = 0;
    for (const toml::table* g : r.Tables(t, at, "gpio")) {
        ReadGpio(r, *g, at + ".gpio[" + std::to_string(i++) + "]", d.targets.gpio);
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
    error = r.Error();
    return !r.Failed();
}

}  // namespace vcable::scenario_file
