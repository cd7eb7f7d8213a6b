// The line settings of a channel, each taken only within the chip's rules.
#include "chip/bit_bang.h"
#include "chip/channel.h"
#include "chip/chip_rules.h"

namespace vcable {

FtStatus SetChannelLatency(Channel& channel, uint32_t ms) {
    if (const char* broken = rule::Latency(ms)) {
        return Refused(kFtInvalidParameter, broken, "latency timer of %u ms", ms);
    }
    channel.settings.latencyMs = static_cast<uint8_t>(ms);
    channel.rx.SetLatency(ms);
    return kFtOk;
}

FtStatus SetChannelDivisor(Channel& channel, MpssePort* engine, BaudDivisor divisor,
                           uint32_t asked) {
    if (const char* broken = DivisorRule(divisor)) {
        return Refused(kFtInvalidBaudRate, broken, "baud divisor %u + %u/8", divisor.whole,
                       divisor.eighths);
    }
    // Asynchronous bit-bang samples at the old rate up to now.
    TakeSamples(channel, engine, false);
    const uint32_t achieved = BaudOfDivisor(divisor);
    channel.settings.baudRate = asked != 0 ? asked : achieved;
    channel.settings.achievedBaud = achieved;
    return kFtOk;
}

FtStatus SetChannelLine(Channel& channel, uint32_t wordLength, uint32_t stopBits, uint32_t parity) {
    if (const char* broken = rule::Line(wordLength, stopBits, parity)) {
        return Refused(kFtInvalidParameter, broken,
                       "data characteristics of %u bits, stop code %u, parity %u", wordLength,
                       stopBits, parity);
    }
    ChannelSettings& s = channel.settings;
    s.wordLength = static_cast<uint8_t>(wordLength);
    s.stopBits = static_cast<uint8_t>(stopBits);
    s.parity = static_cast<uint8_t>(parity);
    return kFtOk;
}

FtStatus SetChannelFlow(Channel& channel, uint32_t handshake, uint8_t xon, uint8_t xoff) {
    if (const char* broken = rule::Flow(handshake)) {
        return Refused(kFtInvalidParameter, broken, "flow control 0x%04X", handshake);
    }
    ChannelSettings& s = channel.settings;
    s.flowControl = static_cast<uint16_t>(handshake);
    s.xon = xon;
    s.xoff = xoff;
    return kFtOk;
}

}  // namespace vcable
