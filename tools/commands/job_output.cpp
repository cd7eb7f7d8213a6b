#include "commands/job_output.h"

#include <cstdio>
#include <cstdlib>

#include "common/report.h"

namespace kestrel {
namespace {

// The member `name` of a flat object's members, or empty.
std::string Member(const json::Fields& members, const char* name) {
    for (const auto& [key, value] : members) {
        if (key == name) return value;
    }
    return "";
}

std::string TextMember(const json::Fields& members, const char* name) {
    std::string text;
    json::Unquote(Member(members, name), text);
    return text;
}

uint64_t NumberMember(const json::Fields& members, const char* name) {
    return std::strtoull(Member(members, name).c_str(), nullptr, 10);
}

void ShowProgress(JobOutput& out, const json::Fields& members) {
    const std::string phase = TextMember(members, "phase");
    if (!out.bar || phase != out.phase) {
        out.bar.reset();
        out.phase = phase;
        out.unit = TextMember(members, "unit");
        out.bar = std::make_unique<Progress>(out.phase.c_str(), NumberMember(members, "total"),
                                             out.unit.c_str());
    }
    out.bar->Update(NumberMember(members, "done"));
}

}  // namespace

int OnJobEvent(void* context, int kind, const char* text) {
    auto& out = *static_cast<JobOutput*>(context);
    json::Fields members;
    std::string words;
    switch (kind) {
        case KESTREL_EVENT_PROGRESS:
            if (json::Members(text, members)) ShowProgress(out, members);
            break;
        case KESTREL_EVENT_FIELD:
            if (json::Members(text, members)) {
                report::Set(TextMember(members, "name"), Member(members, "value"));
            }
            break;
        case KESTREL_EVENT_WARNING:
            json::Unquote(text, words);
            EndProgressLine();
            std::fprintf(stderr, "kestrel: %s%s\n", out.warningPrefix, words.c_str());
            report::Warning(words);
            break;
        case KESTREL_EVENT_ERROR:
            json::Unquote(text, words);
            Fail(kExitOk, words);
            break;
        case KESTREL_EVENT_LIBRARY_CALL:
            if (json::Members(text, members)) {
                report::LibraryCall(TextMember(members, "export"),
                                    static_cast<int>(NumberMember(members, "code")));
            }
            break;
        case KESTREL_EVENT_LINE:
            json::Unquote(text, words);
            out.EndBar();
            std::fprintf(out.linesToStderr ? stderr : stdout, "%s\n", words.c_str());
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace kestrel
