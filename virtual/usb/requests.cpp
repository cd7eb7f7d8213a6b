// Control requests: the standard ones a host enumerates with, and the chip's vendor requests,
// each carried out in the Call frame of the vendor entry point that does the same on the other
// face, over the same chip functions and rules. A value the request's encoding has no room for,
// or one the chip's rules refuse, stalls with a model error that names the rule.
#include <algorithm>
#include <cstring>
#include <vector>

#include "chip/chip_rules.h"
#include "entry_points/call.h"
#include "record/call_log.h"
#include "usb/descriptors.h"
#include "usb/eeprom_image.h"
#include "usb/usb_status.h"
#include "vendor_api/ft_api.h"

namespace vcable::usb {
namespace {

// The chip's vendor requests.
enum Request : uint8_t {
    kReset = 0x00,
    kModemControl = 0x01,
    kFlowControl = 0x02,
    kBaudRate = 0x03,
    kData = 0x04,
    kPollModemStatus = 0x05,
    kEventChar = 0x06,
    kErrorChar = 0x07,
    kSetLatency = 0x09,
    kGetLatency = 0x0A,
    kSetBitMode = 0x0B,
    kReadPins = 0x0C,
    kReadEeprom = 0x90,
    kWriteEeprom = 0x91,
    kEraseEeprom = 0x92,
};

// The reset request's values. The purges are named from the chip's side: 1 empties the buffer of
// bytes from the host (toward the pins), 2 the buffer of bytes for the host.
constexpr uint16_t kResetSio = 0, kPurgeFromHost = 1, kPurgeToHost = 2;
constexpr uint16_t kDtrBit = 0x0001, kRtsBit = 0x0002, kDtrEnable = 0x0100, kRtsEnable = 0x0200;
constexpr uint16_t kModemControlBits = kDtrBit | kRtsBit | kDtrEnable | kRtsEnable;
constexpr uint16_t kBreakBit = 0x4000, kDataBits = 0x7FFF;
constexpr uint16_t kCharBits = 0x01FF;  // the character and its enable
constexpr uint8_t kRequestTypeMask = 0x60, kStandard = 0x00, kVendor = 0x40;
// The baud request: the divisor's 14 whole bits in the value, its three fraction bits in the
// value's top two and the index's bit 8; the index's low byte names the channel. Bits 9 to 15
// have no use on this chip (bit 9 picks the high-speed chips' faster clock).
constexpr uint16_t kWholeBits = 0x3FFF, kUnusedBaudIndexBits = 0xFE00;
// The fraction of the baud divisor in eighths, by its three-bit code.
constexpr uint32_t kFractionEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};

// The words hosts see: their own while the EEPROM still encodes as it did when they last read or
// wrote, else the EEPROM's encoding afresh.
EepromImage& WordsOf(Device& device) {
    HostWords& host = device.eeprom.hostWords;
    const EepromImage now = EncodeImage(device.eeprom, device.dual);
    if (!host.taken || host.basis != now) {
        host.words = now;
        host.basis = now;
        host.taken = true;
    }
    return host.words;
}

int Answer(uint8_t* data, uint16_t length, const std::vector<uint8_t>& bytes) {
    const uint16_t n = static_cast<uint16_t>(std::min<size_t>(length, bytes.size()));
    if (n > 0) std::memcpy(data, bytes.data(), n);
    return n;
}

int Standard(Session& session, uint8_t request, uint16_t value, uint8_t* data, uint16_t length) {
    const Device& device = *session.device;
    std::vector<uint8_t> bytes;
    switch (request) {
        case LIBUSB_REQUEST_GET_STATUS:
            return Answer(data, length, {0, 0});
        case LIBUSB_REQUEST_GET_CONFIGURATION:
            return Answer(data, length, {1});
        case LIBUSB_REQUEST_SET_CONFIGURATION:
            return 0;
        case LIBUSB_REQUEST_GET_DESCRIPTOR:
            break;
        default:
            RecordModelError("standard request 0x%02X is not modelled", request);
            return LIBUSB_ERROR_PIPE;
    }
    switch (value >> 8) {
        case LIBUSB_DT_DEVICE:
            return Answer(data, length, DeviceDescriptorBytes(device));
        case LIBUSB_DT_CONFIG:
            return Answer(data, length, ConfigDescriptorBytes(device));
        case LIBUSB_DT_STRING:
            if (StringDescriptorBytes(device, static_cast<uint8_t>(value), bytes)) {
                return Answer(data, length, bytes);
            }
            return LIBUSB_ERROR_PIPE;
        default:
            return LIBUSB_ERROR_PIPE;
    }
}

BaudDivisor DivisorOf(uint16_t value, uint16_t index) {
    const uint32_t code = (value >> 14) | ((index >> 6) & 0x04);
    return {static_cast<uint32_t>(value & kWholeBits), kFractionEighths[code]};
}

int Status(Session& session, uint32_t status) { return status == kFtOk ? 0 : FailedCall(session); }

// A request whose value the chip's encoding has no room for.
int Malformed(const char* rule, uint8_t request, uint16_t value, uint16_t index) {
    Refused(kFtInvalidParameter, rule, "vendor request 0x%02X (value 0x%04X, index 0x%04X)",
            request, value, index);
    return LIBUSB_ERROR_PIPE;
}

// Runs `body` on the channel in the Call frame of the vendor entry point that does the same, for
// requests whose vendor call takes other values (a rate for a divisor) or narrower ones.
template <class Body>
int AsEntry(Session& session, Entry entry, void* handle, std::initializer_list<uint64_t> args,
            Body&& body) {
    FtStatus status;
    {
        Call call(entry, handle, args);
        status = call.OnChannel(handle, body);
    }
    return Status(session, status);
}

int Reset(Session& session, void* handle, uint16_t value, uint16_t index) {
    switch (value) {
        case kResetSio:
            return Status(session, FT_ResetDevice(handle));
        case kPurgeFromHost:
            return Status(session, FT_Purge(handle, kPurgeTx));
        case kPurgeToHost:
            return Status(session, FT_Purge(handle, kPurgeRx));
        default:
            return Malformed("the reset request's value is 0 (reset), 1 or 2 (purges)", kReset,
                             value, index);
    }
}

int BaudRate(Session& session, void* handle, uint16_t value, uint16_t index) {
    if ((index & kUnusedBaudIndexBits) != 0) {
        return Malformed("the D chip's divisor has 17 bits: the index adds only bit 8", kBaudRate,
                         value, index);
    }
    const BaudDivisor divisor = DivisorOf(value, index);
    return AsEntry(session, Entry::FT_SetBaudRate, handle, {value, index}, [&](ChannelRef ref) {
        return SetChannelDivisor(ref.Get(), ref.Engine(), divisor, 0);
    });
}

int ModemControl(Session& session, void* handle, uint16_t value, uint16_t index) {
    if ((value & ~kModemControlBits) != 0) {
        return Malformed(
            "the modem-control request sets DTR (bit 0) and RTS (bit 1) with their "
            "enables (bits 8 and 9)",
            kModemControl, value, index);
    }
    Channel& channel = session.device->channels[FindHandle(handle).channel];
    if (value & kRtsEnable) channel.settings.rts = (value & kRtsBit) != 0;
    if (value & kDtrEnable) {
        return Status(session, (value & kDtrBit) ? FT_SetDtr(handle) : FT_ClrDtr(handle));
    }
    return 0;
}

int DataCharacteristics(Session& session, void* handle, uint16_t value, uint16_t index) {
    if ((value & ~kDataBits) != 0) {
        return Malformed("the data request's bit 15 is not used", kData, value, index);
    }
    const uint32_t status = FT_SetDataCharacteristics(handle, static_cast<uint8_t>(value & 0xFF),
                                                      static_cast<uint8_t>((value >> 11) & 0x07),
                                                      static_cast<uint8_t>((value >> 8) & 0x07));
    if (status != kFtOk) return FailedCall(session);
    return Status(session, (value & kBreakBit) ? FT_SetBreakOn(handle) : FT_SetBreakOff(handle));
}

int SetChar(Session& session, void* handle, uint8_t request, uint16_t value, uint16_t index) {
    if ((value & ~kCharBits) != 0) {
        return Malformed(
            "the character request carries the character (bits 0 to 7) and its enable "
            "(bit 8)",
            request, value, index);
    }
    ChannelSettings s = session.device->channels[FindHandle(handle).channel].settings;
    const uint8_t c = static_cast<uint8_t>(value), on = (value >> 8) & 1;
    if (request == kEventChar)
        return Status(session, FT_SetChars(handle, c, on, s.errorChar, s.errorEnable));
    return Status(session, FT_SetChars(handle, s.eventChar, s.eventEnable, c, on));
}

int ChannelRequest(Session& session, void* handle, uint8_t request, uint16_t value, uint16_t index,
                   uint8_t* data, uint16_t length) {
    uint8_t byte = 0;
    switch (request) {
        case kReset:
            return Reset(session, handle, value, index);
        case kModemControl:
            return ModemControl(session, handle, value, index);
        case kFlowControl:
            return Status(session, FT_SetFlowControl(handle, index & 0xFF00, value & 0xFF,
                                                     static_cast<uint8_t>(value >> 8)));
        case kBaudRate:
            return BaudRate(session, handle, value, index);
        case kData:
            return DataCharacteristics(session, handle, value, index);
        case kPollModemStatus:
            return Answer(data, length, {kModemStatus, kLineStatus});
        case kEventChar:
        case kErrorChar:
            return SetChar(session, handle, request, value, index);
        case kSetLatency:
            // The chip's own range: the vendor library's call takes less.
            return AsEntry(session, Entry::FT_SetLatencyTimer, handle, {value},
                           [&](ChannelRef ref) { return SetChannelLatency(ref.Get(), value); });
        case kGetLatency:
            if (FT_GetLatencyTimer(handle, &byte) != kFtOk) return FailedCall(session);
            return Answer(data, length, {byte});
        case kSetBitMode:
            return Status(session, FT_SetBitMode(handle, static_cast<uint8_t>(value),
                                                 static_cast<uint8_t>(value >> 8)));
        case kReadPins:
            if (FT_GetBitMode(handle, &byte) != kFtOk) return FailedCall(session);
            return Answer(data, length, {byte});
        default:
            RecordModelError("vendor request 0x%02X (value 0x%04X, index 0x%04X) is not modelled",
                             request, value, index);
            return LIBUSB_ERROR_PIPE;
    }
}

// Runs `body(call)` in the Call frame of the record call that does the same on the other face.
// The EEPROM belongs to the chip, not to a channel: the frame names a channel the session has
// open, if any.
template <class Body>
int AsEepromEntry(Session& session, Entry entry, std::initializer_list<uint64_t> args,
                  Body&& body) {
    void* handle = session.channels[0] != nullptr ? session.channels[0] : session.channels[1];
    FtStatus status;
    {
        Call call(entry, handle, args);
        status = call.Run([&] { return body(call); });
    }
    return Status(session, status);
}

// Reads and writes the words, erases the EEPROM; a fault rule on the record call fails the
// request before it changes anything.
int EepromRequest(Session& session, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                  uint16_t length) {
    Device& device = *session.device;
    const uint32_t at = index & (kImageWords - 1);  // the 93C46 ignores higher address bits
    if (request == kReadEeprom) {
        int answered = 0;
        const int failed = AsEepromEntry(session, Entry::FT_EE_Read, {index}, [&](Call& call) {
            const uint16_t word = WordsOf(device)[at];
            answered = Answer(data, length, {uint8_t(word), uint8_t(word >> 8)});
            call.Data(data, static_cast<size_t>(answered));
            call.Transferred(static_cast<uint32_t>(answered));
            return kFtOk;
        });
        return failed != 0 ? failed : answered;
    }
    if (request == kWriteEeprom) {
        return AsEepromEntry(session, Entry::FT_EE_Program, {index, value}, [&](Call&) {
            EepromImage& words = WordsOf(device);
            words[at] = value;
            // The words form a programmed EEPROM once the checksum agrees with them.
            if (DecodeImage(words, device.eeprom)) {
                ++device.eeprom.programs;
                device.eeprom.hostWords.basis = EncodeImage(device.eeprom, device.dual);
            }
            return kFtOk;
        });
    }
    return AsEepromEntry(session, Entry::FT_EraseEE, {}, [&](Call&) {
        EraseEeprom(device.eeprom);
        ++device.eeprom.erases;
        return kFtOk;
    });
}

}  // namespace

int ControlRequest(Session& session, uint8_t requestType, uint8_t request, uint16_t value,
                   uint16_t index, uint8_t* data, uint16_t length) {
    ModelLock lock;
    if (!SessionAlive(session)) return LIBUSB_ERROR_NO_DEVICE;
    if (data == nullptr && length > 0) return LIBUSB_ERROR_INVALID_PARAM;
    if ((requestType & kRequestTypeMask) == kStandard) {
        return Standard(session, request, value, data, length);
    }
    if ((requestType & kRequestTypeMask) != kVendor) {
        RecordModelError("class request 0x%02X is not modelled", request);
        return LIBUSB_ERROR_PIPE;
    }
    if (request == kReadEeprom || request == kWriteEeprom || request == kEraseEeprom) {
        return EepromRequest(session, request, value, index, data, length);
    }
    // Index 0 and 1 address channel A, 2 channel B.
    const int interface = (index & 0xFF) <= 1 ? 0 : (index & 0xFF) - 1;
    const int opened = OpenInterface(session, interface);
    if (opened == LIBUSB_ERROR_NOT_FOUND) {
        return Malformed("the index's low byte names a channel of the chip: 0 or 1 A, 2 B", request,
                         value, index);
    }
    if (opened != LIBUSB_SUCCESS) return opened;
    return ChannelRequest(session, session.channels[interface], request, value, index, data,
                          length);
}

}  // namespace vcable::usb
