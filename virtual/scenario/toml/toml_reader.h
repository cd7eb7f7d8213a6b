// The checked reading of one scenario file's TOML tree: typed look-ups that record the first
// problem with its line ("file.toml:12: device[0].jtag[1].ir_length: expected ..."), and the
// common shapes of the format (choices, byte strings, line names, arrays of tables). Only the
// sources in this folder include it: they are built only when toml++ is there.
#pragma once

#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
// toml++ 3.3 asserts its parser's internal preconditions and, with NDEBUG, has the compiler assume
// them. Malformed text breaks more of them than text_checks.h refuses first ("K=[}" does too), and
// the parser's own checks right after each turn such text into a parse error. So here the
// assertions do nothing and these sources are built without NDEBUG (virtual/CMakeLists.txt):
// such text gets that error, never an abort or undefined behaviour.
#define TOML_ASSERT(expr) static_cast<void>(0)
#include <toml++/toml.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vcable::scenario_file::toml_reader {

// Channel A of the dual-channel chip has twelve lines: ADBUS0 to ADBUS7 and ACBUS0 to ACBUS3.
constexpr int kLineCount = 12;
// The largest file a scenario may name (a flash's contents at most).
constexpr uintmax_t kMaxFileBytes = 64u << 20;

inline constexpr const char* kLineNames[kLineCount] = {"TCK",    "TDI",    "TDO",    "TMS",
                                                       "GPIOL0", "GPIOL1", "GPIOL2", "GPIOL3",
                                                       "GPIOH0", "GPIOH1", "GPIOH2", "GPIOH3"};

inline const char* TypeName(const toml::node& node) {
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

inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hex digits in pairs; blanks, commas, colons and underscores between bytes are ignored.
inline bool ParseHex(std::string_view text, std::vector<uint8_t>& out) {
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

    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }

    void Fail(const toml::node& node, const std::string& where, const std::string& what) {
        if (Failed()) return;
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
            const std::string path = PathOf(*name);
            // Only regular files: a device or a pipe could be endless.
            std::error_code code;
            const bool regular = std::filesystem::is_regular_file(path, code);
            std::ifstream file(path, std::ios::binary);
            if (!regular || !file) {
                Fail(*t.get(fileKey), where + "." + std::string(fileKey),
                     "cannot read the file \"" + path + "\"");
                return true;
            }
            if (std::filesystem::file_size(path, code) > kMaxFileBytes) {
                Fail(*t.get(fileKey), where + "." + std::string(fileKey),
                     "the file \"" + path + "\" is larger than " + std::to_string(kMaxFileBytes) +
                         " bytes");
                return true;
            }
            out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            return true;
        }
        return false;
    }

    // A file the scenario names: relative names start from the scenario file's folder.
    std::string PathOf(const std::string& name) const {
        return name.empty() || name[0] == '/' || folder_.empty() ? name : folder_ + "/" + name;
    }

    // An array of strings (absent: empty).
    std::vector<std::string> Words(const toml::table& t, const std::string& where,
                                   std::string_view key) {
        std::vector<std::string> out;
        const toml::node* node = t.get(key);
        if (!node) return out;
        const toml::array* array = node->as_array();
        const std::string at = where + "." + std::string(key);
        if (!array) {
            Fail(*node, at, std::string("expected an array of strings, found ") + TypeName(*node));
            return out;
        }
        for (const toml::node& item : *array) {
            if (!item.is_string()) {
                Fail(item, at, "expected a string, found " + std::string(TypeName(item)));
                continue;
            }
            out.push_back(item.as_string()->get());
        }
        return out;
    }

    // A line by name ("GPIOH1") or number (0 to 11).
    int Line(const toml::table& t, const std::string& where, std::string_view key, int fallback) {
        const toml::node* node = t.get(key);
        if (!node) return fallback;
        if (node->is_integer()) {
            return static_cast<int>(Int(t, where, key, 0, kLineCount - 1, fallback));
        }
        if (node->is_string()) {
            const std::string& name = node->as_string()->get();
            for (int line = 0; line < kLineCount; ++line) {
                if (name == kLineNames[line]) return line;
            }
            if (name.size() == 6 && name.compare(0, 5, "GPIOH") == 0 && name[5] >= '4' &&
                name[5] <= '7') {
                Fail(*node, where + "." + std::string(key),
                     "channel A of the dual-channel chip has GPIOH0 to GPIOH3 only, not " + name);
                return fallback;
            }
        }
        Fail(*node, where + "." + std::string(key),
             "expected a line name (TCK, TDI, TDO, TMS, GPIOL0 to GPIOL3, GPIOH0 to GPIOH3) or a "
             "number from 0 to 11");
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

}  // namespace vcable::scenario_file::toml_reader
