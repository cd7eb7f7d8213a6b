// Scenario files: the parsed form of a scenario (plain data, checked against the model's limits)
// and the two steps of loading one. Parsing needs the TOML reader and exists only in builds that
// have it; applying a parsed scenario works on the device table, the targets and the fault rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "chip/model_options.h"
#include "targets/target_setup.h"
#include "vendor_api/entry_list.h"

namespace vcable::scenario_file {

enum class PeerKind { kNone, kLoopback, kEcho, kSink, kScript };

struct PeerDesc {
    PeerKind kind = PeerKind::kNone;
    uint32_t delayPolls = 0;    // echo
    std::vector<uint8_t> data;  // script
    bool onDtrRise = true;      // script: on each DTR rise, or once after `polls` polls
    uint32_t polls = 0;
};

struct DeviceDesc {
    bool dual = true;
    std::string description;
    std::string serial;
    bool programmed = true;
    std::optional<std::string> manufacturer;
    std::optional<std::string> manufacturerId;
    std::optional<uint16_t> vendorId;  // a programmed EEPROM's USB pair
    std::optional<uint16_t> productId;
    std::optional<uint32_t> userAreaSize;
    std::vector<uint8_t> userAreaData;
    uint32_t cycleAbsence = 0;
    TargetSetup targets;  // what hangs off channel A's pins (dual-channel devices)
    PeerDesc peers[2];
};

enum class FaultKind { kFail, kShortWrite, kUnplug, kInjectRx, kSplitRx, kHoldRx };

struct FaultDesc {
    FaultKind kind = FaultKind::kFail;
    Entry entry = Entry::FT_Write;
    uint32_t nth = 1;
    uint32_t status = 4;
    int usbError = 0;  // fail: the USB face's libusb error (0: an I/O error)
    bool persistent = false;
    uint32_t maxBytes = 0;
    uint32_t polls = 0;
    int device = 0;
    int channel = 0;
    std::vector<uint8_t> data;
};

struct ScenarioDesc {
    std::optional<uint32_t> libraryVersion;
    ReplyDelivery delivery = ReplyDelivery::kImmediate;
    Platform platform = Platform::kWindows;
    std::vector<DeviceDesc> devices;
    std::vector<FaultDesc> faults;
};

// True when this build can parse scenario files.
bool ParserAvailable();

// Parses TOML text. `origin` names the text in messages ("scenario.toml"); `folder` is where
// relative file names inside it are looked up (empty: the current folder). On failure returns
// false with one line in `error`.
bool Parse(const std::string& text, const std::string& origin, const std::string& folder,
           ScenarioDesc& out, std::string& error);

// Replaces the scenario in force with a parsed one.
void Apply(const ScenarioDesc& scenario);

// Parses and applies a scenario; on failure the scenario in force stays and `error` says why.
// LoadFile reads the file and takes relative file names inside it from the file's folder.
bool LoadText(const std::string& text, const std::string& origin, const std::string& folder,
              std::string& error);
bool LoadFile(const std::string& path, std::string& error);

}  // namespace vcable::scenario_file
