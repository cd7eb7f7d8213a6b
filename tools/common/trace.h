// --trace FILE: a readable log of what the host sent, in order. Every vendor call comes from the
// virtual cable's call log (entry point, handle, arguments, status, bytes); the MPSSE commands
// that a write carried come from the engine's trace hook and are listed under that write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/virtual_cable.h"

namespace kestrel {

class TraceRecorder {
  public:
    ~TraceRecorder();

    bool Open(const std::string& path, std::string& error);
    // Starts recording: calls from now on, engine lines of every cable.
    void Attach(const VirtualCable& cable);
    // Writes everything recorded and closes the file.
    void Finish();

  private:
    struct Hook {
        TraceRecorder* recorder;
        int cable;
    };
    struct EngineLine {
        uint32_t call;  // index of the call in progress when the engine emitted the line
        int cable;
        std::string text;
    };
    static void OnLine(void* user, const char* line);
    void WriteCall(uint32_t index, const VcCall& call, uint32_t repeats);

    FILE* file_ = nullptr;
    const VirtualApi* api_ = nullptr;
    uint32_t firstCall_ = 0;
    int cables_ = 0;
    std::vector<std::unique_ptr<Hook>> hooks_;
    std::vector<EngineLine> lines_;
};

}  // namespace kestrel
