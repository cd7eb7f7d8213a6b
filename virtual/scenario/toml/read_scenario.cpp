// Reading a scenario file: TOML through toml++, checked key by key against what the model can do.
// The first problem ends the reading with a message naming its line and what was expected there.
#include "chip/devices.h"
#include "chip/eeprom.h"
#include "scenario/scenario_file.h"
#include "scenario/toml/target_keys.h"
#include "scenario/toml/text_checks.h"
#include "scenario/toml/toml_reader.h"

namespace vcable::scenario_file {
namespace {

// A kind's key in a list of keys: "jtag", ...
#define VC_TARGET_KEY(field) #field,

using namespace toml_reader;

// The largest EEPROM user area a file may ask for.
constexpr uint32_t kMaxUserAreaSize = 65535;

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
            "vendor_id", "product_id", "user_area_size", "user_area_text", "user_area_hex",
            "cycle_absence", "jtag_reset", VC_TARGET_KINDS(VC_TARGET_KEY) "uart_a", "uart_b"});
    d.dual = r.Choice(t, at, "type", {"cable", "single"}, 0) == 0;
    if (!t.get("description")) r.Fail(t, at, "missing key 'description'");
    d.description = r.Text(t, at, "description").value_or("");
    d.serial = r.Text(t, at, "serial").value_or("");
    d.programmed = r.Choice(t, at, "eeprom", {"programmed", "blank"}, 0) == 0;
    if (!d.dual && !d.programmed) r.Fail(t, at, "a single-channel device is always programmed");
    d.manufacturer = r.Text(t, at, "manufacturer");
    d.manufacturerId = r.Text(t, at, "manufacturer_id");
    for (auto [key, id] : {std::pair{"vendor_id", &d.vendorId}, {"product_id", &d.productId}}) {
        if (!t.get(key)) continue;
        if (!d.programmed) r.Fail(t, at, std::string("a blank EEPROM has no ") + key);
        *id = static_cast<uint16_t>(r.Int(t, at, key, 0, 0xFFFF, 0));
    }
    const uint32_t words =
        StringWords(d.manufacturer.value_or(kDefaultManufacturer), d.description, d.serial);
    if (d.programmed && words > kSharedWords) {
        r.Fail(t, at,
               "manufacturer, description and serial take " + std::to_string(words) +
                   " words of the EEPROM; its 93C46 has " + std::to_string(kSharedWords) +
                   " for them and the user area");
    }
    if (t.get("user_area_size")) {
        d.userAreaSize =
            static_cast<uint32_t>(r.Int(t, at, "user_area_size", 0, kMaxUserAreaSize, 0));
    }
    r.Bytes(t, at, "user_area_hex", "user_area_text", "", d.userAreaData);
    d.cycleAbsence = static_cast<uint32_t>(r.Int(t, at, "cycle_absence", 0, UINT32_MAX, 0));
    if (!d.dual) {
        for (const char* key : {VC_TARGET_KINDS(VC_TARGET_KEY) "uart_b"}) {
            if (t.get(key))
                r.Fail(*t.get(key), at,
                       std::string("a single-channel device has no ") + key + " (only cables do)");
        }
    }
    d.peers[1].kind = d.dual ? PeerKind::kLoopback : PeerKind::kNone;
    // Each kind of target reads its own section.
#define VC_READ_TARGET_KEYS(field) ReadTargetKeys(r, t, at, #field, d.targets.field);
    VC_TARGET_KINDS(VC_READ_TARGET_KEYS)
#undef VC_READ_TARGET_KEYS
    if (const toml::table* a = r.SubTable(t, at, "uart_a"))
        ReadPeer(r, *a, at + ".uart_a", d.peers[0]);
    if (const toml::table* b = r.SubTable(t, at, "uart_b"))
        ReadPeer(r, *b, at + ".uart_b", d.peers[1]);
}

void ReadFault(Reader& r, const toml::table& t, const std::string& at, int devices, FaultDesc& f) {
    r.Keys(t, at,
           {"type", "entry", "nth", "status", "persistent", "max_bytes", "polls", "device",
            "channel", "data", "text", "usb_error"});
    f.kind = static_cast<FaultKind>(r.Choice(
        t, at, "type", {"fail", "short_write", "unplug", "inject_rx", "split_rx", "hold_rx"}, 0));
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
    f.usbError = static_cast<int>(r.Int(t, at, "usb_error", -99, 0, 0));
    f.persistent = r.Bool(t, at, "persistent", false);
    f.maxBytes = static_cast<uint32_t>(r.Int(t, at, "max_bytes", 0, UINT32_MAX, 0));
    f.polls = static_cast<uint32_t>(r.Int(t, at, "polls", 0, UINT32_MAX, 1));
    f.device = static_cast<int>(r.Int(t, at, "device", 0, devices > 0 ? devices - 1 : 0, 0));
    f.channel = static_cast<int>(r.Int(t, at, "channel", 0, 1, 0));
    if (!r.Bytes(t, at, "data", "text", "", f.data) && f.kind == FaultKind::kInjectRx) {
        r.Fail(t, at, "an inject_rx fault needs 'data' (hex) or 'text'");
    }
}

// A message kept to one line: the parser may quote the character it saw and the reader a value
// it refuses, a line end too.
std::string OneLine(std::string_view message) {
    std::string line;
    for (const char c : message) {
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else {
            line += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
    }
    return line;
}

}  // namespace

bool ParserAvailable() { return true; }

bool Parse(const std::string& text, const std::string& origin, const std::string& folder,
           ScenarioDesc& out, std::string& error) {
    std::string what;
    if (const size_t line = UnsafeTextLine(text, what)) {
        error = origin + ":" + std::to_string(line) + ": " + what;
        return false;
    }
    toml::parse_result parsed = toml::parse(text, origin);
    if (!parsed) {
        const toml::parse_error& e = parsed.error();
        error =
            origin + ":" + std::to_string(e.source().begin.line) + ": " + OneLine(e.description());
        return false;
    }
    const toml::table& root = parsed.table();
    Reader r(origin, folder);
    r.Keys(root, "scenario", {"library_version", "reply_delivery", "platform", "device", "fault"});
    if (root.get("library_version")) {
        out.libraryVersion =
            static_cast<uint32_t>(r.Int(root, "scenario", "library_version", 0, UINT32_MAX, 0));
    }
    const bool usb = r.Choice(root, "scenario", "reply_delivery", {"immediate", "usb"}, 0) == 1;
    out.delivery = usb ? ReplyDelivery::kUsb : ReplyDelivery::kImmediate;
    const bool linux = r.Choice(root, "scenario", "platform", {"windows", "linux"}, 0) == 1;
    out.platform = linux ? Platform::kLinux : Platform::kWindows;
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
    error = OneLine(r.Error());
    return !r.Failed();
}

}  // namespace vcable::scenario_file
