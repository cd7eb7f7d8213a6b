// Entry points of data transfer, queue status and channel settings.
#include "chip/baud_rate.h"
#include "entry_points/call.h"
#include "vendor_api/ft_api.h"

using namespace vcable;

namespace {

// The latency timer cannot go below 2 ms on these chips.
constexpr uint8_t kMinLatencyMs = 2;

// The bit-bang pins are reported pulled high; pin levels belong to the engine, not the chip.
constexpr uint8_t kUnmodelledPins = 0xFF;

bool KnownBitMode(uint8_t mode) {
    switch (mode) {
        case kBitModeReset:
        case kBitModeAsyncBitBang:
        case kBitModeMpsse:
        case kBitModeSyncBitBang:
        case kBitModeMcuHost:
        case kBitModeFastSerial:
        case kBitModeCbusBitBang:
        case kBitModeSyncFifo:
            return true;
        default:
            return false;
    }
}

}  // namespace

extern "C" {

VC_API uint32_t FT_Read(void* handle, void* buffer, uint32_t count, uint32_t* bytes_read) {
    Call call(Entry::FT_Read, handle, {count});
    if (bytes_read != nullptr) *bytes_read = 0;
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (bytes_read == nullptr || (buffer == nullptr && count > 0)) return kFtInvalidParameter;
        Channel& channel = ref.Get();
        const uint32_t n =
            channel.rx.Read(static_cast<uint8_t*>(buffer), count, channel.settings.readTimeoutMs);
        *bytes_read = n;
        call.Data(buffer, n);
        call.Transferred(n);
        return kFtOk;
    });
}

VC_API uint32_t FT_Write(void* handle, void* buffer, uint32_t count, uint32_t* bytes_written) {
    Call call(Entry::FT_Write, handle, {count});
    call.Data(buffer, count);
    if (bytes_written != nullptr) *bytes_written = 0;
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (bytes_written == nullptr || (buffer == nullptr && count > 0)) {
            return kFtInvalidParameter;
        }
        uint32_t accepted = count < call.WriteLimit() ? count : call.WriteLimit();
        WriteToChannel(ref.Get(), ref.Engine(), static_cast<uint8_t*>(buffer), accepted);
        *bytes_written = accepted;
        call.Transferred(accepted);
        return kFtOk;
    });
}

VC_API uint32_t FT_GetQueueStatus(void* handle, uint32_t* rx_bytes) {
    Call call(Entry::FT_GetQueueStatus, handle, {});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (rx_bytes == nullptr) return kFtInvalidParameter;
        *rx_bytes = PollChannel(ref.Get(), ref.Engine());
        call.Transferred(*rx_bytes);
        return kFtOk;
    });
}

VC_API uint32_t FT_GetStatus(void* handle, uint32_t* rx_bytes, uint32_t* tx_bytes,
                             uint32_t* event_status) {
    Call call(Entry::FT_GetStatus, handle, {});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (rx_bytes == nullptr || tx_bytes == nullptr || event_status == nullptr) {
            return kFtInvalidParameter;
        }
        *rx_bytes = PollChannel(ref.Get(), ref.Engine());
        *tx_bytes = 0;  // writes leave at once
        *event_status = 0;
        call.Transferred(*rx_bytes);
        return kFtOk;
    });
}

VC_API uint32_t FT_Purge(void* handle, uint32_t mask) {
    Call call(Entry::FT_Purge, handle, {mask});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if ((mask & ~(kPurgeRx | kPurgeTx)) != 0) return kFtInvalidParameter;
        if (mask & kPurgeRx) ref.Get().rx.Clear();
        // The host's writes reach the chip at once; only commands a wait holds are still there.
        if ((mask & kPurgeTx) && ref.Engine() != nullptr) ref.Engine()->DropHeld();
        return kFtOk;
    });
}

VC_API uint32_t FT_SetTimeouts(void* handle, uint32_t read_ms, uint32_t write_ms) {
    Call call(Entry::FT_SetTimeouts, handle, {read_ms, write_ms});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        ref.Get().settings.readTimeoutMs = read_ms;
        ref.Get().settings.writeTimeoutMs = write_ms;
        return kFtOk;
    });
}

VC_API uint32_t FT_SetBaudRate(void* handle, uint32_t baud) {
    Call call(Entry::FT_SetBaudRate, handle, {baud});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        const std::optional<uint32_t> achieved = AchievedBaudRate(baud);
        if (!achieved) return kFtInvalidBaudRate;
        ref.Get().settings.baudRate = baud;
        ref.Get().settings.achievedBaud = *achieved;
        return kFtOk;
    });
}

VC_API uint32_t FT_SetChars(void* handle, uint8_t event_char, uint8_t event_enable,
                            uint8_t error_char, uint8_t error_enable) {
    Call call(Entry::FT_SetChars, handle, {event_char, event_enable, error_char, error_enable});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        ChannelSettings& s = ref.Get().settings;
        s.eventChar = event_char;
        s.eventEnable = event_enable;
        s.errorChar = error_char;
        s.errorEnable = error_enable;
        return kFtOk;
    });
}

VC_API uint32_t FT_SetBreakOn(void* handle) {
    Call call(Entry::FT_SetBreakOn, handle, {});
    return call.OnChannel(handle, [](ChannelRef ref) -> FtStatus {
        ref.Get().settings.breakOn = true;
        return kFtOk;
    });
}

VC_API uint32_t FT_SetBreakOff(void* handle) {
    Call call(Entry::FT_SetBreakOff, handle, {});
    return call.OnChannel(handle, [](ChannelRef ref) -> FtStatus {
        ref.Get().settings.breakOn = false;
        return kFtOk;
    });
}

VC_API uint32_t FT_SetEventNotification(void* handle, uint32_t mask, void* param) {
    Call call(Entry::FT_SetEventNotification, handle, {mask, Arg(param)});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        // Events are never signalled: the model has no thread to signal them from.
        ref.Get().settings.eventMask = mask;
        return kFtOk;
    });
}

VC_API uint32_t FT_GetBitMode(void* handle, uint8_t* mode) {
    Call call(Entry::FT_GetBitMode, handle, {});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (mode == nullptr) return kFtInvalidParameter;
        // Channel A's lines are on the engine's pin bus: the instantaneous levels of its low byte
        // (ADBUS), as the chip reads them.
        if (MpssePort* engine = ref.Engine()) {
            *mode = engine->LowPinLevels();
            return kFtOk;
        }
        RecordModelError("FT_GetBitMode at location 0x%04X: pin levels are not modelled",
                         ref.Get().location);
        *mode = kUnmodelledPins;
        return kFtOk;
    });
}

VC_API uint32_t FT_SetBitMode(void* handle, uint8_t mask, uint8_t mode) {
    Call call(Entry::FT_SetBitMode, handle, {mask, mode});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (!KnownBitMode(mode)) return kFtInvalidParameter;
        // Only channel A of the dual-channel chip has an MPSSE.
        if (mode == kBitModeMpsse && ref.Engine() == nullptr) return kFtInvalidParameter;
        SetChannelBitMode(ref.Get(), ref.Engine(), mask, mode);
        return kFtOk;
    });
}

VC_API uint32_t FT_SetLatencyTimer(void* handle, uint8_t latency_ms) {
    Call call(Entry::FT_SetLatencyTimer, handle, {latency_ms});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (latency_ms < kMinLatencyMs) return kFtInvalidParameter;
        SetChannelLatency(ref.Get(), latency_ms);
        return kFtOk;
    });
}

VC_API uint32_t FT_GetLatencyTimer(void* handle, uint8_t* latency_ms) {
    Call call(Entry::FT_GetLatencyTimer, handle, {});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (latency_ms == nullptr) return kFtInvalidParameter;
        *latency_ms = ref.Get().settings.latencyMs;
        return kFtOk;
    });
}

VC_API uint32_t FT_SetDataCharacteristics(void* handle, uint8_t word_length, uint8_t stop_bits,
                                          uint8_t parity) {
    Call call(Entry::FT_SetDataCharacteristics, handle, {word_length, stop_bits, parity});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        bool valid = (word_length == kBits7 || word_length == kBits8) &&
                     (stop_bits == kStopBits1 || stop_bits == kStopBits2) && parity <= kParityMax;
        if (!valid) return kFtInvalidParameter;
        ChannelSettings& s = ref.Get().settings;
        s.wordLength = word_length;
        s.stopBits = stop_bits;
        s.parity = parity;
        return kFtOk;
    });
}

VC_API uint32_t FT_SetFlowControl(void* handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
    Call call(Entry::FT_SetFlowControl, handle, {flow, xon, xoff});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (flow != kFlowNone && flow != kFlowRtsCts && flow != kFlowDtrDsr &&
            flow != kFlowXonXoff) {
            return kFtInvalidParameter;
        }
        ChannelSettings& s = ref.Get().settings;
        s.flowControl = flow;
        s.xon = xon;
        s.xoff = xoff;
        return kFtOk;
    });
}

VC_API uint32_t FT_SetDtr(void* handle) {
    Call call(Entry::FT_SetDtr, handle, {});
    return call.OnChannel(handle, [](ChannelRef ref) -> FtStatus {
        SetChannelDtr(ref.Get(), true);
        return kFtOk;
    });
}

VC_API uint32_t FT_ClrDtr(void* handle) {
    Call call(Entry::FT_ClrDtr, handle, {});
    return call.OnChannel(handle, [](ChannelRef ref) -> FtStatus {
        SetChannelDtr(ref.Get(), false);
        return kFtOk;
    });
}

}  // extern "C"
