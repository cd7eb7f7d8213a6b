// One job of the engine as its code sees it: what it tells the caller goes through the caller's
// event callback as JSON values (kestrel_engine.h), and a stop the callback asks for is heard at
// the job's next safe point. The job keeps no state of its own between calls.
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include "common/common.h"
#include "common/json.h"
#include "kestrel_engine.h"

namespace kestrel::engine {

class Job {
  public:
    Job(kestrel_event_fn events, void* context) : events_(events), context_(context) {}

    // A field of kestrel's --json document (`json` is its value as JSON text).
    void Field(const std::string& name, const std::string& json);
    // What the job did, in words for people.
    void Line(const std::string& text);
    // Something the user must know; the job goes on. Nothing for empty text.
    void Warning(const std::string& text);
    // Reports why the job failed and returns `code`.
    int Fail(int code, const std::string& reason);
    // Fails with the exit code a failed operation's result calls for: an export's result (also
    // reported as the library call) or a failed check; `context` starts the message.
    int FailCall(const CallResult& result, const std::string& context = "");
    // A step of a phase ("reading", "erasing", ...): `done` of `total` units.
    void Progress(const char* phase, uint64_t done, uint64_t total, const char* unit = "bytes");

    // Whether an event's callback asked the job to stop.
    bool StopAsked() const { return stopAsked_; }

  private:
    void Send(int kind, const std::string& json);

    kestrel_event_fn events_;
    void* context_;
    bool stopAsked_ = false;
};

// Whether a request given to the C interface can be read: given, and of this engine's version
// (its `version`); reports why not. `what` names the job: "flash", "JTAG".
bool Readable(const void* request, uint32_t version, const char* what, Job& job);

// What every job function of the C interface does: runs `body` on a request it can read, and
// lets no exception out (a job that cannot get its memory fails as an unavailable cable would).
template <typename Request>
int Guarded(int (*body)(const Request&, Job&), const Request* request, const char* what,
            kestrel_event_fn events, void* context) {
    Job job(events, context);
    if (!Readable(request, request ? request->version : 0, what, job)) return kExitUsage;
    try {
        return body(*request, job);
    } catch (const std::bad_alloc&) {
        return job.Fail(kExitUnavailable, std::string("out of memory for the ") + what + " job");
    }
}

}  // namespace kestrel::engine
