#include "engine/mpsse_engine.h"

#include <algorithm>
#include <cstdio>

#include "engine/opcodes.h"
#include "record/call_log.h"
#include "record/wire_clock.h"

namespace vcable {
namespace {

std::string Hex2(uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

}  // namespace

using namespace mpsse;

std::unique_ptr<MpssePort> MakeMpssePort(const TargetSetup& setup) {
    return std::make_unique<MpsseEngine>(setup);
}

MpsseEngine::MpsseEngine(const TargetSetup& setup) { Reconfigure(setup); }

void MpsseEngine::Reconfigure(const TargetSetup& setup) {
    pins_.DetachAll();
    targets_ = BuildTargets(setup, Events());
    pins_ = PinBus();
    pins_.SetHook(pinHookFn_, pinHookUser_);
    AttachTargets();
    phase_ = Phase::kOpcode;
    argsHave_ = 0;
    dataLeft_ = 0;
    waiting_ = false;
    held_.clear();
    sendImmediateAt_.reset();
    loopback_ = false;
    divisor_ = 0;
    tckCycles_ = 0;
    fastCycles_ = 0;
    baseTicks_ = 0;
    writeStartTicks_ = 0;
    bitBangCarry_ = 0;
    lastNowNs_ = 0;
    lastClockPs_ = 0;
    ClearErrors();
    pins_.AllInputs();
}

MpsseEngine::~MpsseEngine() = default;

void MpsseEngine::AttachTargets() {
    pins_.DetachAll();
    std::vector<PinTarget*> all;
    for (const std::unique_ptr<PinTarget>& target : targets_) all.push_back(target.get());
    for (PinTarget* target : all) target->SeeNeighbours(all);
    for (PinTarget* target : all) pins_.Attach(target);
}

void MpsseEngine::ReplaceTarget(bool (*sameKind)(const PinTarget*),
                                std::unique_ptr<PinTarget> target) {
    auto present = std::find_if(targets_.begin(), targets_.end(),
                                [&](const auto& t) { return sameKind(t.get()); });
    // Detached first: the bus must not keep a target that is about to go.
    pins_.DetachAll();
    if (present == targets_.end()) {
        if (target) targets_.push_back(std::move(target));
    } else if (target) {
        *present = std::move(target);
    } else {
        targets_.erase(present);
    }
    AttachTargets();
}

void MpsseEngine::Reset() {
    // A mode change drops a half-parsed command and whatever a wait held, and releases every line.
    if (phase_ != Phase::kOpcode) Note("engine reset inside command " + Hex2(op_));
    if (waiting_)
        Note("engine reset during a wait on GPIOL1; " + std::to_string(held_.size()) +
             " held bytes dropped");
    phase_ = Phase::kOpcode;
    argsHave_ = 0;
    dataLeft_ = 0;
    waiting_ = false;
    held_.clear();
    loopback_ = false;
    pins_.AllInputs();
}

void MpsseEngine::OnPoll(std::vector<uint8_t>& rx) {
    sendImmediateAt_.reset();  // a mark belongs to the rx of the call that made it
    writeStartTicks_ = baseTicks_;
    pins_.Poll();
    ResumeIfLevelCame(rx);
}

void MpsseEngine::Write(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) {
    sendImmediateAt_.reset();
    writeStartTicks_ = baseTicks_;
    ResumeIfLevelCame(rx);
    Run(data, count, rx);
}

void MpsseEngine::ResumeIfLevelCame(std::vector<uint8_t>& rx) {
    if (!waiting_ || LineHigh(pins_.Levels(), pin::kGpiol1) != waitForHigh_) return;
    waiting_ = false;
    std::vector<uint8_t> held;
    held.swap(held_);
    Note(std::string("GPIOL1 ") + (waitForHigh_ ? "high" : "low") + ": the wait ends, " +
         std::to_string(held.size()) + " held bytes run");
    Run(held.data(), held.size(), rx);
}

void MpsseEngine::Run(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) {
    for (size_t i = 0; i < count;) {
        if (waiting_) {
            held_.insert(held_.end(), data + i, data + count);
            return;
        }
        if (phase_ != Phase::kData) {
            Feed(data[i++], rx);
            continue;
        }
        // The data of a byte-mode write goes through in one piece, as far as this write has it.
        const auto n = static_cast<uint32_t>(std::min<size_t>(dataLeft_, count - i));
        ShiftDataBytes(data + i, n, rx);
        i += n;
        dataLeft_ -= n;
        if (dataLeft_ == 0) EndCommand();
    }
}

void MpsseEngine::Feed(uint8_t byte, std::vector<uint8_t>& rx) {
    switch (phase_) {
        case Phase::kOpcode:
            StartCommand(byte, rx);
            return;
        case Phase::kArgs:
            args_[argsHave_++] = byte;
            if (argsHave_ == argsNeed_) RunWithArgs(rx);
            return;
        case Phase::kData:
            ShiftDataByte(byte, rx);
            if (--dataLeft_ == 0) EndCommand();
            return;
    }
}

void MpsseEngine::StartCommand(uint8_t op, std::vector<uint8_t>& rx) {
    op_ = op;
    argsHave_ = 0;
    if (IsShift(op)) {
        // Byte mode: a 16-bit length. Bit mode: a length byte, then a data byte when writing.
        argsNeed_ = (op & kBitMode) && (op & kWriteTdi) ? 2 : (op & kBitMode) ? 1 : 2;
    } else if (IsTms(op) || op == kSetLowByte || op == kSetHighByte || op == kSetDivisor) {
        argsNeed_ = 2;
    } else {
        argsNeed_ = 0;
    }
    if (Tracing()) TraceBegin();
    if (argsNeed_ == 0) {
        RunControl(rx);
        return;
    }
    phase_ = Phase::kArgs;
}

void MpsseEngine::RunWithArgs(std::vector<uint8_t>& rx) {
    phase_ = Phase::kOpcode;
    if (IsShift(op_) && !(op_ & kBitMode)) {
        const uint32_t bytes = (args_[0] | (args_[1] << 8)) + 1u;
        if (op_ & kWriteTdi) {
            phase_ = Phase::kData;
            dataLeft_ = bytes;
            return;
        }
        ShiftDataBytes(nullptr, bytes, rx);
        EndCommand();
        return;
    }
    if (IsShift(op_) || IsTms(op_)) {
        const int maxBits = IsTms(op_) ? kTmsMaxBits : 8;
        int bits = args_[0] + 1;
        if (bits > maxBits) {
            Error("command " + Hex2(op_) + " asks for " + std::to_string(bits) +
                  " bits; the chip clocks at most " + std::to_string(maxBits));
            bits = maxBits;
        }
        const uint8_t data = (op_ & kWriteTdi) || IsTms(op_) ? args_[1] : 0;
        if (IsShift(op_) && FastShift((op_ & kWriteTdi) ? &data : nullptr, bits, false, rx)) {
            EndCommand();
            return;
        }
        const uint8_t in = IsTms(op_) ? ShiftTms(op_, data, bits) : ShiftBits(op_, data, bits);
        if (Tracing() && ((op_ & kWriteTdi) || IsTms(op_))) TraceData("data", data);
        if (op_ & kReadTdo) {
            rx.push_back(in);
            if (Tracing()) TraceData("reply", in);
        }
        EndCommand();
        return;
    }
    switch (op_) {
        case kSetLowByte:
            pins_.SetLowByte(args_[0], args_[1]);
            break;
        case kSetHighByte:
            pins_.SetHighByte(args_[0], args_[1]);
            break;
        case kSetDivisor:
            divisor_ = static_cast<uint16_t>(args_[0] | (args_[1] << 8));
            break;
        default:
            break;
    }
    if (Tracing()) {
        TraceData("arg", args_[0]);
        TraceData("arg", args_[1]);
    }
    EndCommand();
}

void MpsseEngine::RunControl(std::vector<uint8_t>& rx) {
    uint8_t reply = 0;
    bool replies = false;
    switch (op_) {
        case kReadLowByte: {
            reply = static_cast<uint8_t>(pins_.Levels() & 0xFF);
            if (loopback_) {
                // The loopback joins DO to DI inside the chip.
                const uint8_t doBit = (pins_.Outputs() >> pin::kTdi) & 1;
                reply = static_cast<uint8_t>((reply & ~(1u << pin::kTdo)) | (doBit << pin::kTdo));
            }
            replies = true;
            break;
        }
        case kReadHighByte:
            reply = static_cast<uint8_t>(pins_.Levels() >> 8);
            replies = true;
            break;
        case kLoopbackOn:
            loopback_ = true;
            break;
        case kLoopbackOff:
            loopback_ = false;
            break;
        case kSendImmediate:
            sendImmediateAt_ = rx.size();
            break;
        case kWaitIoHigh:
        case kWaitIoLow:
            EndCommand();  // traced before the note on the wait
            StartWait(op_ == kWaitIoHigh);
            return;
        default:
            BadCommand(op_, rx);
            return;
    }
    if (replies) {
        rx.push_back(reply);
        if (Tracing()) TraceData("reply", reply);
    }
    EndCommand();
}

void MpsseEngine::StartWait(bool high) {
    if (LineHigh(pins_.Levels(), pin::kGpiol1) == high) return;
    waiting_ = true;
    waitForHigh_ = high;
    Note(std::string("waiting for GPIOL1 ") + (high ? "high" : "low") +
         "; every later command is held until it comes");
}

void MpsseEngine::BadCommand(uint8_t op, std::vector<uint8_t>& rx) {
    if ((op & kBadCommandBit) == 0) {
        // The chip answers only opcodes with bit 7 set; what it does with others is not known.
        if (Tracing()) TraceEnd();
        Error("opcode " + Hex2(op) +
              " is no MPSSE command and has bit 7 clear: the chip gives no answer to it, and what "
              "it makes of the bytes after it is not modelled");
        return;
    }
    rx.push_back(kBadCommandReply);
    rx.push_back(op);
    ++badCommandCount_;
    lastBadCommand_ = op;
    if (Tracing()) {
        TraceData("reply", kBadCommandReply);
        TraceData("reply", op);
        TraceEnd();
    }
    // The sync probes are sent on purpose; any other unknown opcode is a host mistake.
    if (op != kSyncProbe && op != kSyncProbeAlt) {
        Error("bad command " + Hex2(op) + " (not an FT2232 MPSSE opcode), answered 0xFA " +
              Hex2(op));
    }
}

void MpsseEngine::EndCommand() {
    phase_ = Phase::kOpcode;
    if (Tracing()) TraceEnd();
}

void MpsseEngine::Error(const std::string& text) {
    ++errorCount_;
    lastError_ = text;
    RecordModelError("MPSSE engine: %s", text.c_str());
    if (Tracing()) Emit("! error: " + text);
}

void MpsseEngine::Note(const std::string& text) {
    if (Tracing()) Emit("# " + text);
}

// The model clock stands at the end of the last call until this write is charged to it, so the
// periods clocked since the write began are added (at the full-speed clock base of 12 MHz).
// A clock reset (vc_clock_reset) starts the count again from 0.
uint64_t MpsseEngine::NowNs() {
    const uint64_t clocked = (baseTicks_ - writeStartTicks_) * 1000 / 12;
    const uint64_t now = NowPs(kFullSpeed) / 1000 + clocked;
    if (NowPs(kFullSpeed) < lastClockPs_) lastNowNs_ = 0;
    lastClockPs_ = NowPs(kFullSpeed);
    lastNowNs_ = std::max(lastNowNs_, now);
    return lastNowNs_;
}

void MpsseEngine::ClearErrors() {
    errorCount_ = 0;
    lastError_.clear();
    badCommandCount_ = 0;
    lastBadCommand_ = 0;
}

}  // namespace vcable
