// One run of a command against the cable: which vendor library (the virtual cable or the system's
// D2XX library), the scenario, the trace and waveform recorders, LoadD2XXDLL at the start and
// UnLoadD2XXDLL at the end, and the opens with their results in words.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/common.h"
#include "common/inputs.h"
#include "common/trace.h"
#include "common/vcd.h"
#include "common/virtual_cable.h"
#include "kestrellink.h"

namespace kestrel {

struct GlobalOptions {
    std::optional<std::string> virtualScenario;  // set (maybe empty) when --virtual was given
    bool hardware = false;                       // demo: use the vendor library after all
    std::string d2xx;   // --d2xx: "vendor", "libftdi" or a path (empty: $KESTREL_D2XX)
    std::string state;  // --state: the virtual cable's memory, loaded before and saved after
    std::string trace;
    std::string vcd;
    int vcdCable = 0;
    std::string description = "ZV7300LNK";
    std::string serial;
    uint32_t divisor = 5;
    bool divisorGiven = false;  // --divisor was on the command line
};

// Refuses two roles that name one file: the command's own files and the global ones (--virtual's
// scenario, --state, --trace, --vcd) and the virtual cable's own (VCABLE_TRACE and the others,
// kVirtualCableFileVariables); and VCABLE_STATE on the virtual cable, where --state keeps the
// memory. Returns 0, or exit code 2 after saying which.
int CheckCommandFiles(const GlobalOptions& options, const CommandFiles& own = {});

// The largest scenario file the tool hands to the virtual cable.
inline constexpr uint64_t kMaxScenarioBytes = uint64_t{1} << 20;

// How long a command waits for another one that holds the same --state file.
inline constexpr double kStateLockWaitSeconds = 60;

class Session {
  public:
    explicit Session(const GlobalOptions& options) : options_(options) {}
    ~Session();

    // Loads the vendor library (virtual when asked, or when `virtualByDefault` and not
    // --hardware), the scenario and the recorders, then LoadD2XXDLL. Returns an exit code.
    int Start(bool virtualByDefault = false);
    // Unloads the library, saves the state file (or says once that the virtual cable's changes
    // are dropped) and writes the recorders; returns `code`, or 5 when the state file cannot be
    // saved after a command that succeeded. The state is saved also after a command that failed
    // once the cable was in use: it holds what the cable holds, as a real flash keeps the
    // sectors a failed write reached. A command stopped before Start changes no file.
    int Finish(int code);

    bool isVirtual() const { return virtual_ != nullptr; }
    VirtualCable* virtualCable() { return virtual_.get(); }
    const GlobalOptions& options() const { return options_; }
    // "virtual cable (scenario x.toml)" or "vendor D2XX library".
    std::string CableName() const;
    // The file of the D2XX library a real cable's run loaded, or empty when the system's loader
    // finds none.
    std::string D2xxLibraryPath() const;

    // OpenDevice with the description, serial and divisor options; false with a message.
    bool OpenMpsse(CallResult& result);
    // OpenDevice4 with the description and serial options at `baud`.
    bool OpenUart(uint32_t baud, CallResult& result);

  private:
    GlobalOptions options_;
    std::unique_ptr<VirtualCable> virtual_;
    std::unique_ptr<TraceRecorder> trace_;
    std::unique_ptr<VcdRecorder> vcd_;
    StateLock stateLock_;
    bool loaded_ = false;
    bool started_ = false;  // the command runs: the state is saved however it ends
    VirtualCable::Memory memory_;
    std::string d2xxPath_;  // a D2XX library loaded by path for a real cable, or empty

    int KeepVirtualMemory(int code);
    int CheckModel(int code);
    int StartVirtual();
    int StartRecorders();
    int LoadLibrary();
    bool SaveState(std::string& error);
    // Loads the D2XX library --d2xx or $KESTREL_D2XX names, if any; an exit code and a message.
    int LoadChosenD2xx(std::string& error);
};

// The meaning of an OpenDevice / OpenDevice4 result code.
std::string OpenResultText(int code, bool uart);

}  // namespace kestrel
