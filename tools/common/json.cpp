#include "common/json.h"

#include <cstdio>
#include <cstring>

namespace kestrel::json {

std::string String(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
            out += escaped;
        } else {
            out += c;  // UTF-8 passes through as it is
        }
    }
    return out + "\"";
}

std::string Number(uint64_t value) { return std::to_string(value); }
std::string Number(int64_t value) { return std::to_string(value); }
std::string Bool(bool value) { return value ? "true" : "false"; }

std::string Object(const Fields& fields) {
    std::string out = "{";
    for (const auto& [name, value] : fields) {
        if (out.size() > 1) out += ", ";
        out += String(name) + ": " + value;
    }
    return out + "}";
}

std::string Array(const std::vector<std::string>& values) {
    std::string out = "[";
    for (const std::string& value : values) {
        if (out.size() > 1) out += ", ";
        out += value;
    }
    return out + "]";
}

}  // namespace kestrel::json

namespace kestrel::json {
namespace {

void SkipBlanks(const std::string& text, size_t& at) {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\n' || text[at] == '\t' || text[at] == '\r')) {
        ++at;
    }
}

// The code point of a \u escape (four hex digits at `at`), or -1.
long HexCode(const std::string& text, size_t at) {
    if (at + 4 > text.size()) return -1;
    long code = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return -1;
        code = code * 16 + digit;
    }
    return code;
}

// Appends a code point below 0x10000 as UTF-8.
void PutUtf8(long code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Reads the string starting at `at` (its opening quote) into `out`; `at` ends past it.
bool ReadString(const std::string& text, size_t& at, std::string& out) {
    if (at >= text.size() || text[at] != '"') return false;
    for (++at; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++at >= text.size()) return false;
        const char escaped = text[at];
        const char* simple = "\"\\/bfnrt";
        const char* meaning = "\"\\/\b\f\n\r\t";
        if (const char* found = std::strchr(simple, escaped); found && escaped) {
            out += meaning[found - simple];
        } else if (escaped == 'u' && HexCode(text, at + 1) >= 0) {
            PutUtf8(HexCode(text, at + 1), out);
            at += 4;
        } else {
            return false;
        }
    }
    return false;
}

// Moves `at` past the value starting there (a string, or anything up to the next comma or
// closing bracket at its own depth).
bool SkipValue(const std::string& text, size_t& at) {
    int depth = 0;
    const size_t start = at;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '"') {
            std::string ignored;
            if (!ReadString(text, at, ignored)) return false;
            continue;
        }
        if (c == '{' || c == '[') ++depth;
        if (c == '}' || c == ']' || c == ',') {
            if (depth == 0) break;
            if (c != ',') --depth;
        }
        ++at;
    }
    return at > start && depth == 0;
}

}  // namespace

bool Unquote(const std::string& text, std::string& out) {
    size_t at = 0;
    out.clear();
    return ReadString(text, at, out) && at == text.size();
}

bool Members(const std::string& text, Fields& members) {
    members.clear();
    size_t at = 0;
    SkipBlanks(text, at);
    if (at >= text.size() || text[at++] != '{') return false;
    SkipBlanks(text, at);
    if (at < text.size() && text[at] == '}') return at + 1 == text.size();
    while (at < text.size()) {
        std::string name;
        SkipBlanks(text, at);
        if (!ReadString(text, at, name)) return false;
        SkipBlanks(text, at);
        if (at >= text.size() || text[at++] != ':') return false;
        SkipBlanks(text, at);
        const size_t start = at;
        if (!SkipValue(text, at) || at >= text.size()) return false;
        size_t end = at;
        while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\n')) --end;
        members.emplace_back(name, text.substr(start, end - start));
        if (text[at] == '}') return at + 1 == text.size();
        ++at;  // the comma
    }
    return false;
}

}  // namespace kestrel::json
