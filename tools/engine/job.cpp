#include "engine/job.h"

#include "flash/flash_stop.h"

namespace kestrel::engine {

void Job::Send(int kind, const std::string& json) {
    if (events_ && events_(context_, kind, json.c_str()) != 0 && !stopAsked_) {
        stopAsked_ = true;
        AskToStop();  // heard at the flash job's next safe point
    }
}

void Job::Field(const std::string& name, const std::string& json) {
    Send(KESTREL_EVENT_FIELD, json::Object({{"name", json::String(name)}, {"value", json}}));
}

void Job::Line(const std::string& text) { Send(KESTREL_EVENT_LINE, json::String(text)); }

void Job::Warning(const std::string& text) {
    if (!text.empty()) Send(KESTREL_EVENT_WARNING, json::String(text));
}

int Job::Fail(int code, const std::string& reason) {
    Send(KESTREL_EVENT_ERROR, json::String(reason));
    return code;
}

int Job::FailCall(const CallResult& result, const std::string& context) {
    const std::string reason =
        context.empty() ? result.Describe() : context + ": " + result.Describe();
    if (result.code == 0) return Fail(kExitFailed, reason);
    Send(KESTREL_EVENT_LIBRARY_CALL, json::Object({{"export", json::String(result.call)},
                                                   {"code", json::Number(result.code)}}));
    return Fail(kExitLibraryCall, reason);
}

void Job::Progress(const char* phase, uint64_t done, uint64_t total, const char* unit) {
    Send(KESTREL_EVENT_PROGRESS, json::Object({{"phase", json::String(phase)},
                                               {"done", json::Number(done)},
                                               {"total", json::Number(total)},
                                               {"unit", json::String(unit)}}));
}

bool Readable(const void* request, uint32_t version, const char* what, Job& job) {
    const std::string name = std::string("a ") + what + " job";
    if (!request) return job.Fail(kExitUsage, std::string("no ") + what + " job given") == 0;
    if (version != KESTREL_ENGINE_VERSION) {
        return job.Fail(kExitUsage, name + " of engine version " + std::to_string(version) +
                                        ", not " + std::to_string(KESTREL_ENGINE_VERSION)) == 0;
    }
    return true;
}

}  // namespace kestrel::engine
