// Entry points of the serial line, the modem lines, bit mode and the latency timer.
#include <ftdi.h>
#include <libusb-1.0/libusb.h>

#include <optional>

#include "baud_rate.h"
#include "call.h"
#include "entry_points.h"

using namespace ftl;

namespace {

constexpr uint8_t kRequestOut = 0x40;  // vendor request, host to device
constexpr uint8_t kSetBaudRateRequest = 0x03;
constexpr unsigned kRequestTimeoutMs = 1000;

FtStatus SetLine(Channel& channel, ftdi_break_type breakOn) {
    return Checked(channel,
                   ftdi_set_line_property2(channel.ftdi, static_cast<ftdi_bits_type>(channel.bits),
                                           static_cast<ftdi_stopbits_type>(channel.stop),
                                           static_cast<ftdi_parity_type>(channel.parity), breakOn));
}

}  // namespace

FTL_API FtStatus FT_SetBaudRate(FtHandle handle, uint32_t baud) {
    return OnChannel(handle, [&](Channel& channel) {
        if (channel.type == kDeviceType2232C) {
            std::optional<BaudRequest> request = EncodeBaud(baud);
            if (!request) return kFtInvalidBaudRate;
            const auto port = static_cast<uint16_t>(channel.interface + 1);
            int result = libusb_control_transfer(
                channel.ftdi->usb_dev, kRequestOut, kSetBaudRateRequest, request->value,
                request->index | port, nullptr, 0, kRequestTimeoutMs);
            return result < 0 ? Checked(channel, result) : kFtOk;
        }
        // The high-speed chips' request from libftdi1 carries the port; it refuses a rate the
        // chip cannot come within 5 % of with -1.
        int result = ftdi_set_baudrate(channel.ftdi, static_cast<int>(baud));
        return result == -1 ? kFtInvalidBaudRate : Checked(channel, result);
    });
}

FTL_API FtStatus FT_SetDataCharacteristics(FtHandle handle, uint8_t bits, uint8_t stop,
                                           uint8_t parity) {
    if ((bits != 7 && bits != 8) || (stop != 0 && stop != 2) || parity > 4) {
        return kFtInvalidParameter;
    }
    return OnChannel(handle, [&](Channel& channel) {
        channel.bits = bits;
        channel.stop = stop;
        channel.parity = parity;
        return SetLine(channel, BREAK_OFF);
    });
}

FTL_API FtStatus FT_SetBreakOn(FtHandle handle) {
    return OnChannel(handle, [](Channel& channel) { return SetLine(channel, BREAK_ON); });
}

FTL_API FtStatus FT_SetBreakOff(FtHandle handle) {
    return OnChannel(handle, [](Channel& channel) { return SetLine(channel, BREAK_OFF); });
}

FTL_API FtStatus FT_SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
    if (flow != kFlowNone && flow != kFlowRtsCts && flow != kFlowDtrDsr && flow != kFlowXonXoff) {
        return kFtInvalidParameter;
    }
    return OnChannel(handle, [&](Channel& channel) {
        if (flow == kFlowXonXoff) {
            return Checked(channel, ftdi_setflowctrl_xonxoff(channel.ftdi, xon, xoff));
        }
        // The D2XX flow values are the chip's own handshake bits.
        return Checked(channel, ftdi_setflowctrl(channel.ftdi, flow));
    });
}

FTL_API FtStatus FT_SetChars(FtHandle handle, uint8_t evt, uint8_t evtOn, uint8_t err,
                             uint8_t errOn) {
    return OnChannel(handle, [&](Channel& channel) {
        if (FtStatus status = Checked(channel, ftdi_set_event_char(channel.ftdi, evt, evtOn))) {
            return status;
        }
        return Checked(channel, ftdi_set_error_char(channel.ftdi, err, errOn));
    });
}

FTL_API FtStatus FT_SetDtr(FtHandle handle) {
    return OnChannel(handle, [](Channel& c) { return Checked(c, ftdi_setdtr(c.ftdi, 1)); });
}

FTL_API FtStatus FT_ClrDtr(FtHandle handle) {
    return OnChannel(handle, [](Channel& c) { return Checked(c, ftdi_setdtr(c.ftdi, 0)); });
}

FTL_API FtStatus FT_SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) {
    return OnChannel(handle, [&](Channel& channel) {
        return Checked(channel, ftdi_set_bitmode(channel.ftdi, mask, mode));
    });
}

// The levels on the channel's data pins at the moment of the call, as the guide has it.
FTL_API FtStatus FT_GetBitMode(FtHandle handle, uint8_t* pins) {
    if (pins == nullptr) return kFtInvalidParameter;
    return OnChannel(handle, [&](Channel& channel) {
        return Checked(channel, ftdi_read_pins(channel.ftdi, pins));
    });
}

FTL_API FtStatus FT_SetLatencyTimer(FtHandle handle, uint8_t ms) {
    if (ms < 2) return kFtInvalidParameter;
    return OnChannel(handle, [&](Channel& channel) {
        FtStatus status = Checked(channel, ftdi_set_latency_timer(channel.ftdi, ms));
        if (status == kFtOk) channel.latencyMs = ms;
        return status;
    });
}

FTL_API FtStatus FT_GetLatencyTimer(FtHandle handle, uint8_t* ms) {
    if (ms == nullptr) return kFtInvalidParameter;
    return OnChannel(handle, [&](Channel& channel) {
        return Checked(channel, ftdi_get_latency_timer(channel.ftdi, ms));
    });
}
