// The [[device.jtag]] tables of a scenario file: one TAP controller each, device 0 nearest TDI,
// with its instruction table and its memory when it has them.
#include <string>

#include "scenario/toml/jtag_behaviour_keys.h"
#include "scenario/toml/target_keys.h"
#include "targets/bit_stream.h"

namespace vcable::scenario_file::toml_reader {
namespace {

// Limits of the model that a file may ask for.
constexpr int64_t kMaxMemoryWords = int64_t{1} << 24;
constexpr uint64_t kMaxMemoryBytes = uint64_t{64} << 20;

std::string HexText(uint64_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value);
    return "0x" + text;
}

// A register value: an integer, or a string of hex digits with the most significant first (as
// SVF writes them). Into `bits` in clock order; false (and a recorded failure) when it does not
// fit `length` bits.
bool ReadValue(Reader& r, const toml::table& t, const std::string& at, std::string_view key,
               int length, std::vector<uint8_t>& bits) {
    const toml::node* node = t.get(key);
    bits.assign(bits::StreamBytes(length), 0);
    const std::string where = at + "." + std::string(key);
    const std::string fit = "expected a value of at most " + std::to_string(length) + " bits";
    if (node->is_integer()) {
        const int64_t value = node->as_integer()->get();
        if (value < 0 || (length < 63 && (value >> length) != 0)) {
            r.Fail(*node, where, fit + ", found " + std::to_string(value));
            return false;
        }
        for (int k = 0; k < length && k < 64; ++k) bits::Put(bits.data(), k, (value >> k) & 1);
        return true;
    }
    if (!node->is_string()) {
        r.Fail(
            *node, where,
            std::string("expected an integer or a string of hex digits, found ") + TypeName(*node));
        return false;
    }
    const std::string& text = node->as_string()->get();
    int k = 0;
    for (auto c = text.rbegin(); c != text.rend(); ++c) {
        if (*c == '_' || *c == ' ') continue;
        const int digit = HexDigit(*c);
        if (digit < 0) {
            r.Fail(*node, where, "expected hex digits, most significant first, e.g. \"1F00\"");
            return false;
        }
        for (int b = 0; b < 4; ++b, ++k) {
            if (((digit >> b) & 1) == 0) continue;
            if (k >= length) {
                r.Fail(*node, where, fit);
                return false;
            }
            bits::Put(bits.data(), k, true);
        }
    }
    return true;
}

void ReadInstruction(Reader& r, const toml::table& t, const std::string& at,
                     const JtagDeviceSetup& d, JtagInstruction& row) {
    r.Keys(t, at,
           {"opcode", "register", "length", "reset", "capture", "busy_us", "starts_on", "sets",
            "clears", "busy_bit", "busy_level", "flags", "start_bit", "chip_select"});
    const int irLength = d.irLength;
    const int64_t irMax = (int64_t{1} << irLength) - 1;
    if (!t.get("opcode")) r.Fail(t, at, "missing key 'opcode'");
    row.opcode = static_cast<uint32_t>(r.Int(t, at, "opcode", 0, irMax, 0));
    if (!t.get("register")) r.Fail(t, at, "missing key 'register' (\"bypass\", \"idcode\", ...)");
    // In the order of JtagRegister.
    row.reg =
        static_cast<JtagRegister>(r.Choice(t, at, "register",
                                           {"bypass", "idcode", "usercode", "data", "address",
                                            "program", "read", "erase", "status", "spi_bridge"},
                                           0));
    if (r.Failed()) return;
    if (row.opcode == irMax && row.reg != JtagRegister::kBypass) {
        r.Fail(*t.get("opcode"), at + ".opcode", "the all-ones opcode is BYPASS");
        return;
    }
    const bool data = row.reg == JtagRegister::kData;
    const bool status = row.reg == JtagRegister::kStatus;
    for (const char* key : {"length", "reset", "capture"}) {
        const bool takes = data || (status && std::string(key) != "reset");
        if (t.get(key) && !takes) {
            r.Fail(*t.get(key), at,
                   std::string(status ? "a \"status\" register does not take '"
                                      : "only \"data\" and \"status\" registers take '") +
                       key + "'");
        }
    }
    if (data || status) {
        if (!t.get("length")) r.Fail(t, at, "missing key 'length' (the register's bits)");
        row.length = static_cast<int>(r.Int(t, at, "length", 1, kMaxRegisterBits, 1));
        if (t.get("reset")) ReadValue(r, t, at, "reset", row.length, row.resetValue);
        row.fixedCapture = data && t.get("capture") != nullptr;
        if (t.get("capture")) ReadValue(r, t, at, "capture", row.length, row.captureValue);
    }
    if (!r.Failed()) ReadRowBehaviour(r, t, at, d.flags, row);
}

void ReadMemory(Reader& r, const toml::table& t, const std::string& at, JtagMemorySetup& m) {
    r.Keys(t, at,
           {"words", "word_bits", "address_bits", "erased", "auto_increment", "program_tcks",
            "erase_tcks", "contents", "contents_file"});
    if (!t.get("words")) r.Fail(t, at, "missing key 'words' (the number of words)");
    m.words = static_cast<uint32_t>(r.Int(t, at, "words", 1, kMaxMemoryWords, 1));
    m.wordBits = static_cast<int>(r.Int(t, at, "word_bits", 1, kMaxRegisterBits, m.wordBits));
    m.addressBits = static_cast<int>(r.Int(t, at, "address_bits", 1, 32, m.addressBits));
    if (r.Failed()) return;
    if (m.words > (uint64_t{1} << m.addressBits)) {
        r.Fail(*t.get("words"), at + ".words",
               std::to_string(m.words) + " words do not fit an address of " +
                   std::to_string(m.addressBits) + " bits");
    }
    const uint64_t bytes = uint64_t{m.words} * ((m.wordBits + 7) / 8);
    if (bytes > kMaxMemoryBytes) {
        r.Fail(t, at, "the memory would take " + std::to_string(bytes) + " bytes (at most 64 MiB)");
    }
    m.erasedOnes = r.Int(t, at, "erased", 0, 1, 1) == 1;
    m.autoIncrement = r.Bool(t, at, "auto_increment", true);
    m.programTcks = static_cast<uint32_t>(r.Int(t, at, "program_tcks", 0, UINT32_MAX, 0));
    m.eraseTcks = static_cast<uint32_t>(r.Int(t, at, "erase_tcks", 0, UINT32_MAX, 0));
    if (r.Bytes(t, at, "contents", "", "contents_file", m.image) && !r.Failed() &&
        m.image.size() > bytes) {
        r.Fail(*(t.get("contents") ? t.get("contents") : t.get("contents_file")), at,
               "the contents (" + std::to_string(m.image.size()) +
                   " bytes) do not fit the memory (" + std::to_string(bytes) + " bytes)");
    }
}

// The instruction table and the memory it reaches: no opcode twice, a memory exactly when an
// instruction reaches it, an IDCODE when the table selects one.
void ReadTable(Reader& r, const toml::table& t, const std::string& at, JtagDeviceSetup& d) {
    for (const char* legacy :
         {"idcode_instruction", "user_instruction", "user_length", "user_reset"}) {
        if (t.get(legacy)) {
            r.Fail(*t.get(legacy), at,
                   std::string("'") + legacy +
                       "' does not go with 'instructions': list the register there");
        }
    }
    int i = 0;
    bool reachesMemory = false;
    bool selectsIdcode = false;
    for (const toml::table* row : r.Tables(t, at, "instructions")) {
        const std::string rowAt = at + ".instructions[" + std::to_string(i++) + "]";
        JtagInstruction instruction;
        ReadInstruction(r, *row, rowAt, d, instruction);
        if (r.Failed()) return;
        for (const JtagInstruction& other : d.instructions) {
            if (other.opcode == instruction.opcode) {
                r.Fail(*row, rowAt, "opcode " + HexText(instruction.opcode) + " is listed twice");
                return;
            }
        }
        // The registers from kAddress on are the memory's.
        reachesMemory = reachesMemory || (instruction.reg >= JtagRegister::kAddress &&
                                          instruction.reg <= JtagRegister::kErase);
        selectsIdcode = selectsIdcode || instruction.reg == JtagRegister::kIdcode;
        d.instructions.push_back(instruction);
    }
    if (d.instructions.empty() && !r.Failed()) {
        r.Fail(*t.get("instructions"), at + ".instructions",
               "empty (a device with BYPASS only lists one \"bypass\" row)");
    }
    if (selectsIdcode && !t.get("idcode")) {
        r.Fail(t, at, "missing key 'idcode' (a 32-bit value with bit 0 set)");
    }
    const toml::table* memory = r.SubTable(t, at, "memory");
    if (memory) ReadMemory(r, *memory, at + ".memory", d.memory);
    if (reachesMemory && !memory) {
        r.Fail(t, at, "the instructions reach a memory: describe it in [device.jtag.memory]");
    } else if (memory && !reachesMemory) {
        r.Fail(*memory, at + ".memory",
               "no instruction reaches the memory (\"address\", \"program\", \"read\", \"erase\")");
    }
}

void ReadDevice(Reader& r, const toml::table& t, const std::string& at, JtagDeviceSetup& d) {
    r.Keys(t, at,
           {"ir_length", "idcode", "idcode_instruction", "user_instruction", "user_length",
            "user_reset", "ir_capture", "usercode", "instructions", "memory", "flags", "plugin",
            "plugin_config"});
    ReadDeviceBehaviour(r, t, at, d);
    d.irLength = static_cast<int>(r.Int(t, at, "ir_length", 2, 32, d.irLength));
    const int64_t irMax = (int64_t{1} << d.irLength) - 1;
    const bool table = t.get("instructions") != nullptr;
    if (!table && !t.get("idcode")) {
        r.Fail(t, at, "missing key 'idcode' (a 32-bit value with bit 0 set)");
    }
    d.idcode = static_cast<uint32_t>(r.Int(t, at, "idcode", 0, 0xFFFFFFFF, d.idcode));
    if (!r.Failed() && (d.idcode & 1) == 0) {
        r.Fail(*t.get("idcode"), at + ".idcode", "an IDCODE has bit 0 set");
    }
    d.irCapture = static_cast<uint32_t>(r.Int(t, at, "ir_capture", 0, irMax, d.irCapture));
    if (!r.Failed() && (d.irCapture & 3) != 1) {
        r.Fail(*t.get("ir_capture"), at + ".ir_capture",
               "the captured instruction ends in binary 01 (its two lowest bits)");
    }
    d.usercode = static_cast<uint32_t>(r.Int(t, at, "usercode", 0, 0xFFFFFFFF, d.usercode));
    if (table) {
        ReadTable(r, t, at, d);
        return;
    }
    if (t.get("memory")) {
        r.Fail(*t.get("memory"), at + ".memory", "a memory needs 'instructions' to reach it");
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
    // The line that resets the chain's data registers: the cable's reset line by default.
    const toml::node* reset = device.get("jtag_reset");
    if (reset && reset->is_string() && reset->as_string()->get() == "none") {
        jtag.resetLine = JtagSetup::kNoResetLine;
    } else {
        jtag.resetLine = r.Line(device, at, "jtag_reset", jtag.resetLine);
    }
    if (!device.get(key)) return;
    jtag.devices.clear();
    int i = 0;
    int bridges = 0;
    for (const toml::table* t : r.Tables(device, at, key)) {
        JtagDeviceSetup setup;
        const std::string deviceAt = at + "." + std::string(key) + "[" + std::to_string(i++) + "]";
        ReadDevice(r, *t, deviceAt, setup);
        bool bridge = false;
        for (const JtagInstruction& row : setup.instructions) {
            bridge = bridge || row.reg == JtagRegister::kBridge;
        }
        if (bridge && ++bridges > 1) {
            r.Fail(*t, deviceAt, "a second device bridges to the flash (one chain, one bridge)");
        }
        jtag.devices.push_back(setup);
    }
}

}  // namespace vcable::scenario_file::toml_reader
