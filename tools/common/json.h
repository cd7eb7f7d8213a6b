// JSON text of single values, for kestrel's --json document and the engine's events.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::json {

// JSON text of one value: a string (escaped), a whole number, a boolean, an object of fields
// already in JSON text, or an array of values already in JSON text.
std::string String(const std::string& text);
std::string Number(uint64_t value);
std::string Number(int64_t value);
inline std::string Number(int value) { return Number(static_cast<int64_t>(value)); }
inline std::string Number(uint32_t value) { return Number(static_cast<uint64_t>(value)); }
std::string Bool(bool value);
using Fields = std::vector<std::pair<std::string, std::string>>;
std::string Object(const Fields& fields);
std::string Array(const std::vector<std::string>& values);

}  // namespace kestrel::json

namespace kestrel::json {

// Reading back what the functions above write: the text of a JSON string, and the members of a
// JSON object, each value kept as its JSON text. False when the text is not of that form.
bool Unquote(const std::string& text, std::string& out);
bool Members(const std::string& text, Fields& members);

}  // namespace kestrel::json
