// Entry points of the channel settings. Each takes what the vendor library takes: its own rules
// first (narrower than the chip's where it has them), then the chip's, which the USB face's
// requests meet on the same chip functions.
#include "chip/bit_bang.h"
#include "chip/chip_rules.h"
#include "entry_points/call.h"
#include "vendor_api/ft_api.h"

using namespace vcable;

namespace {

// The vendor library takes a latency of 2 ms and more; the chip itself takes 1.
constexpr uint8_t kVendorMinLatencyMs = 2;
constexpr const char* kVendorLatencyRule = "the vendor library takes 2 to 255 ms";

}  // namespace

extern "C" {

VC_API uint32_t FT_SetBaudRate(void* handle, uint32_t baud) {
    Call call(Entry::FT_SetBaudRate, handle, {baud});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        const std::optional<BaudDivisor> divisor = DivisorForRate(baud);
        if (!divisor) return Refused(kFtInvalidBaudRate, kRateRule, "FT_SetBaudRate(%u)", baud);
        return SetChannelDivisor(ref.Get(), ref.Engine(), *divisor, baud);
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
        *mode = ChannelPinLevels(ref.Get(), ref.Engine());
        return kFtOk;
    });
}

VC_API uint32_t FT_SetBitMode(void* handle, uint8_t mask, uint8_t mode) {
    Call call(Entry::FT_SetBitMode, handle, {mask, mode});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        return SetChannelBitMode(ref.Get(), ref.Engine(), mask, mode);
    });
}

VC_API uint32_t FT_SetLatencyTimer(void* handle, uint8_t latency_ms) {
    Call call(Entry::FT_SetLatencyTimer, handle, {latency_ms});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        if (latency_ms < kVendorMinLatencyMs) {
            return Refused(kFtInvalidParameter, kVendorLatencyRule, "FT_SetLatencyTimer(%u)",
                           latency_ms);
        }
        return SetChannelLatency(ref.Get(), latency_ms);
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
        return SetChannelLine(ref.Get(), word_length, stop_bits, parity);
    });
}

VC_API uint32_t FT_SetFlowControl(void* handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
    Call call(Entry::FT_SetFlowControl, handle, {flow, xon, xoff});
    return call.OnChannel(handle, [&](ChannelRef ref) -> FtStatus {
        return SetChannelFlow(ref.Get(), flow, xon, xoff);
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
