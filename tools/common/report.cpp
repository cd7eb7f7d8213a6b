#include "common/report.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/common.h"
#include "common/os.h"

namespace kestrel::report {
namespace {

struct Run {
    bool enabled = false;
    FILE* document = nullptr;  // the standard output the commands no longer print to
    std::string command;
    std::vector<std::string> arguments;
    json::Fields cable;
    json::Fields fields;
    std::vector<std::vector<std::string>> arrays;  // the values of array fields, by index
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
    std::string libraryCall;
    int libraryCode = 0;
    std::string cables;  // --cables: the per-cable results, or empty
};

Run& TheRun() {
    static Run run;
    return run;
}

// The document of an interrupted run, written ahead so that the signal handler only copies bytes.
char interruptedDocument[16384];
std::atomic<size_t> interruptedLength{0};  // 0 while the bytes change
int documentFd = -1;

void PrepareInterrupted() {
    if (!TheRun().enabled) return;
    const std::string text = Document(kExitInterrupted);
    interruptedLength = 0;
    if (text.size() > sizeof interruptedDocument) return;
    std::memcpy(interruptedDocument, text.data(), text.size());
    interruptedLength = text.size();
}

std::string* FindField(const std::string& name) {
    for (auto& [key, value] : TheRun().fields) {
        if (key == name) return &value;
    }
    return nullptr;
}

std::string StringArray(const std::vector<std::string>& texts) {
    std::vector<std::string> values;
    for (const std::string& text : texts) values.push_back(json::String(text));
    return json::Array(values);
}

}  // namespace

void Enable() {
    Run& run = TheRun();
    if (run.enabled) return;
    run.document = os::DivertStdout();
    run.enabled = run.document != nullptr;
    if (run.enabled) documentFd = os::StreamFile(run.document);
    PrepareInterrupted();
}

void WriteInterrupted() {
    if (documentFd < 0 || interruptedLength == 0) return;
    os::WriteBytes(documentFd, interruptedDocument, interruptedLength.load());
}

bool Enabled() { return TheRun().enabled; }

void SetCommand(const std::string& command, const std::vector<std::string>& arguments) {
    TheRun().command = command;
    TheRun().arguments = arguments;
    PrepareInterrupted();
}

void SetCable(const json::Fields& cable) {
    TheRun().cable = cable;
    PrepareInterrupted();
}

void Set(const std::string& name, const std::string& jsonText) {
    if (std::string* value = FindField(name)) {
        *value = jsonText;
    } else {
        TheRun().fields.emplace_back(name, jsonText);
    }
}

void SetCables(const std::string& jsonArray) { TheRun().cables = jsonArray; }

void Append(const std::string& name, const std::string& jsonText) {
    Run& run = TheRun();
    size_t index = 0;
    while (index < run.fields.size() && run.fields[index].first != name) ++index;
    if (index == run.fields.size()) run.fields.emplace_back(name, "[]");
    if (run.arrays.size() <= index) run.arrays.resize(index + 1);
    run.arrays[index].push_back(jsonText);
    run.fields[index].second = json::Array(run.arrays[index]);
}

void Warning(const std::string& text) { TheRun().warnings.push_back(text); }
void Error(const std::string& text) { TheRun().errors.push_back(text); }

void LibraryCall(const std::string& call, int code) {
    if (!TheRun().libraryCall.empty()) return;
    TheRun().libraryCall = call;
    TheRun().libraryCode = code;
}

const char* ExitClass(int code) { return ExitCodeClass(code); }

std::string Document(int exitCode) {
    const Run& run = TheRun();
    json::Fields document = {
        {"command", json::String(run.command)},
        {"arguments", StringArray(run.arguments)},
        {"cable", run.cable.empty() ? "null" : json::Object(run.cable)},
        {"result", json::String(ExitClass(exitCode))},
        {"exit_code", json::Number(exitCode)},
        {"library_call", run.libraryCall.empty()
                             ? "null"
                             : json::Object({{"export", json::String(run.libraryCall)},
                                             {"code", json::Number(run.libraryCode)}})},
        {"warnings", StringArray(run.warnings)},
        {"errors", StringArray(run.errors)},
        {"fields", json::Object(run.fields)},
    };
    if (!run.cables.empty()) document.emplace_back("cables", run.cables);
    return json::Object(document) + "\n";
}

int Finish(int exitCode) {
    Run& run = TheRun();
    if (!run.enabled) return exitCode;
    interruptedLength = 0;
    EndProgressLine();
    std::fflush(stdout);
    const std::string text = Document(exitCode);
    std::fwrite(text.data(), 1, text.size(), run.document);
    std::fflush(run.document);
    return exitCode;
}

}  // namespace kestrel::report
