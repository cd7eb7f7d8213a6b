// The result of one run for programs that call the tool (--json): a JSON document that names the
// command, its arguments, the cable, the exit code with its class, every warning and error, the
// first library call that failed and the command's own fields. docs/kestrel-result.schema.json
// describes it.
#pragma once

#include <string>
#include <vector>

#include "common/json.h"

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
