#include "scenario/toml/text_checks.h"

namespace vcable::scenario_file::toml_reader {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool KeyStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '"' || c == '\'';
}

bool Blank(char c) { return c == ' ' || c == '\t'; }

// The first line that holds a character beyond ASCII and is not a comment line.
size_t NonAsciiLine(std::string_view text) {
    size_t line = 1;
    bool comment = false;
    bool lineStart = true;
    for (char c : text) {
        if (c == '\n') {
            ++line;
            comment = false;
            lineStart = true;
            continue;
        }
        if (lineStart && c == '#') comment = true;
        if (!Blank(c)) lineStart = false;
        if (static_cast<unsigned char>(c) >= 0x80 && !comment) return line;
    }
    return 0;
}

enum class Within { kCode, kBasic, kLiteral, kMultiBasic, kMultiLiteral };

// One character inside a string: leaves it at its closing quote(s) (a multi-line string may end
// with up to two more quotes, which belong to it); returns where the character ends.
size_t InString(std::string_view text, size_t i, Within& within) {
    const bool basic = within == Within::kBasic || within == Within::kMultiBasic;
    const bool multi = within == Within::kMultiBasic || within == Within::kMultiLiteral;
    const char quote = basic ? '"' : '\'';
    if (basic && text[i] == '\\') return i + 1;
    if (text[i] != quote) return i;
    if (!multi) {
        within = Within::kCode;
        return i;
    }
    if (text.substr(i, 3) != std::string(3, quote)) return i;
    within = Within::kCode;
    size_t end = i + 2;
    for (int extra = 0; extra < 2 && end + 1 < text.size() && text[end + 1] == quote; ++extra) {
        ++end;
    }
    return end;
}

// The first table header whose name does not start as a key. Strings, comments and the insides
// of arrays and inline tables are told apart, so a '[' that opens a value is never taken for a
// header. The parser reaches a header only after a valid prefix, which this follows exactly.
size_t BadHeaderLine(std::string_view text) {
    Within within = Within::kCode;
    size_t line = 1;
    size_t depth = 0;  // arrays and inline tables open in a value
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            lineStart = true;
            if (within == Within::kBasic || within == Within::kLiteral) within = Within::kCode;
            continue;
        }
        if (within != Within::kCode) {
            i = InString(text, i, within);
            continue;
        }
        const bool atLineStart = lineStart;
        if (!Blank(c) && c != '\r') lineStart = false;
        if (c == '#') {
            while (i + 1 < text.size() && text[i + 1] != '\n') ++i;
        } else if (c == '"' || c == '\'') {
            const bool tripled = text.substr(i, 3) == std::string(3, c);
            within = c == '"' ? (tripled ? Within::kMultiBasic : Within::kBasic)
                              : (tripled ? Within::kMultiLiteral : Within::kLiteral);
            if (tripled) i += 2;
        } else if (c == '[' && depth == 0 && atLineStart) {
            size_t j = i + 1;
            if (j < text.size() && text[j] == '[') ++j;
            while (j < text.size() && Blank(text[j])) ++j;
            if (j == text.size() || !KeyStart(text[j])) return line;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return 0;
}

}  // namespace

size_t UnsafeTextLine(std::string_view text, std::string& what) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    const size_t nonAscii = NonAsciiLine(text);
    const size_t header = BadHeaderLine(text);
    if (nonAscii && (!header || nonAscii <= header)) {
        what = "expected ASCII (other characters only in comment lines; bytes go in hex keys)";
        return nonAscii;
    }
    if (header) what = "expected a table name (a key or a quoted string) after '['";
    return header;
}

}  // namespace vcable::scenario_file::toml_reader
