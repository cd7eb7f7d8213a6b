// The result of one run for programs that call the tool (--json): a JSON document that names the
// command, its arguments, the cable, the exit code with its class, every warning and error, the
// first library call that failed and the command's own fields. docs/kestrel-result.schema.json
// describes it.
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

namespace kestrel::report {

// --json: from here on standard output carries only the document; what the commands print for
// people goes to standard error. Call once, before anything is printed.
void Enable();
bool Enabled();

void SetCommand(const std::string& command, const std::vector<std::string>& arguments);
// The cable's fields (description, serial, library, d2xx) as JSON text.
void SetCable(const json::Fields& cable);
// One of the command's own fields; a second call with the same name replaces the value.
void Set(const std::string& name, const std::string& jsonText);
// Appends a value to the command's array field `name`.
void Append(const std::string& name, const std::string& jsonText);
// --cables: the per-cable results (a JSON array) that the combined document carries.
void SetCables(const std::string& jsonArray);
void Warning(const std::string& text);
void Error(const std::string& text);
// The first library export that returned a result other than 0.
void LibraryCall(const std::string& call, int code);

// The exit code's class: "ok", "mismatch", "usage", ... (docs/kestrel.md lists them).
const char* ExitClass(int code);
// The whole document for `exitCode`.
std::string Document(int exitCode);
// From a signal handler: writes the document of an interrupted run (exit code 130), built ahead.
void WriteInterrupted();
// Writes the document to the standard output Enable kept, when enabled; returns exitCode.
int Finish(int exitCode);

}  // namespace kestrel::report
