// Fault rules and their application.
#include "faults/faults.h"

#include <algorithm>

#include "chip/devices.h"

namespace vcable {
namespace {

enum class FaultKind { kFail, kShortWrite, kUnplug, kInjectRx, kGateRx };

struct FaultRule {
    FaultKind kind = FaultKind::kFail;
    Entry entry = Entry::FT_ListDevices;
    uint32_t nth = 0;
    bool persistent = false;
    FtStatus status = kFtOk;
    int usbError = 0;
    uint32_t maxBytes = 0;
    uint32_t polls = 0;
    int device = 0;
    int channel = 0;
    std::vector<uint8_t> bytes;
    uint32_t seen = 0;  // calls of entry since the rule was made
    uint32_t hits = 0;  // times the rule acted
};

// Owned by this file; written by the control API and by ApplyFaults.
struct FaultState {
    std::vector<FaultRule> rules;
    FaultDecision last;
};

FaultState& State() {
    static FaultState state;
    return state;
}

FaultRule MakeRule(FaultKind kind, Entry entry, uint32_t nth) {
    FaultRule rule;
    rule.kind = kind;
    rule.entry = entry;
    rule.nth = nth;
    return rule;
}

int Add(FaultRule rule) {
    if (rule.nth == 0) return -1;
    State().rules.push_back(std::move(rule));
    return static_cast<int>(State().rules.size()) - 1;
}

}  // namespace

int AddFailRule(Entry entry, uint32_t nth, FtStatus status, bool persistent, int usbError) {
    FaultRule rule = MakeRule(FaultKind::kFail, entry, nth);
    rule.status = status;
    rule.usbError = usbError;
    rule.persistent = persistent;
    return Add(std::move(rule));
}

int AddShortWriteRule(uint32_t nth, uint32_t maxBytes) {
    FaultRule rule = MakeRule(FaultKind::kShortWrite, Entry::FT_Write, nth);
    rule.maxBytes = maxBytes;
    return Add(std::move(rule));
}

int AddUnplugRule(Entry entry, uint32_t nth, int device) {
    FaultRule rule = MakeRule(FaultKind::kUnplug, entry, nth);
    rule.device = device;
    return Add(std::move(rule));
}

int AddInjectRule(Entry entry, uint32_t nth, int device, int channel, const uint8_t* data,
                  uint32_t length) {
    FaultRule rule = MakeRule(FaultKind::kInjectRx, entry, nth);
    rule.device = device;
    rule.channel = channel;
    if (data != nullptr) rule.bytes.assign(data, data + length);
    return Add(std::move(rule));
}

int AddGateRule(Entry entry, uint32_t nth, int device, int channel, uint32_t bytes,
                uint32_t polls) {
    FaultRule rule = MakeRule(FaultKind::kGateRx, entry, nth);
    rule.device = device;
    rule.channel = channel;
    rule.maxBytes = bytes;
    rule.polls = polls;
    return Add(std::move(rule));
}

uint32_t FaultHits(int rule) {
    const auto& rules = State().rules;
    if (rule < 0 || rule >= static_cast<int>(rules.size())) return 0;
    return rules[static_cast<size_t>(rule)].hits;
}

void ClearFaults() { State().rules.clear(); }

FaultDecision ApplyFaults(Entry entry) {
    FaultDecision decision;
    for (FaultRule& rule : State().rules) {
        if (rule.entry != entry) continue;
        ++rule.seen;
        bool fires = rule.persistent ? rule.seen >= rule.nth : rule.seen == rule.nth;
        if (!fires) continue;
        ++rule.hits;
        switch (rule.kind) {
            case FaultKind::kFail:
                // The oldest failing rule decides the status.
                if (!decision.fail) {
                    decision.fail = true;
                    decision.status = rule.status;
                    decision.usbError = rule.usbError;
                }
                break;
            case FaultKind::kShortWrite:
                decision.writeLimit = std::min(decision.writeLimit, rule.maxBytes);
                break;
            case FaultKind::kUnplug:
                if (Device* device = DeviceAt(rule.device)) UnplugDevice(*device);
                break;
            case FaultKind::kInjectRx:
                if (Channel* channel = ChannelAt(rule.device, rule.channel)) {
                    channel->rx.Append(rule.bytes.data(), rule.bytes.size());
                }
                break;
            case FaultKind::kGateRx:
                if (Channel* channel = ChannelAt(rule.device, rule.channel)) {
                    channel->rx.Gate(rule.maxBytes, rule.polls);
                }
                break;
        }
    }
    State().last = decision;
    return decision;
}

const FaultDecision& LastFaultDecision() { return State().last; }

}  // namespace vcable
