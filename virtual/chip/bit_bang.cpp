// The bit-bang lines of a channel, and the asynchronous mode's sampling on the model clock.
#include "chip/bit_bang.h"

#include <algorithm>
#include <vector>

namespace vcable {
namespace {

// The baud-rate generator updates the bit-bang lines at 16 times the baud rate.
constexpr uint64_t kUpdatesPerBaud = 16;
constexpr uint64_t kPsPerSecond = 1000000000000ull;
constexpr uint64_t kPsPerMs = 1000000000ull;

// Channel B's low byte in UART mode: TXD, RXD, RTS#, CTS#, DTR#, DSR#, DCD#, RI#. The chip drives
// TXD (low during a break), RTS# and DTR# (low while asserted); the others are inputs.
constexpr uint8_t kTxdLine = 0x01, kRtsLine = 0x04, kDtrLine = 0x10;

uint64_t UpdateRateHz(const Channel& channel) {
    return kUpdatesPerBaud * channel.settings.achievedBaud;
}

uint64_t UpdatePs(const Channel& channel) { return kPsPerSecond / UpdateRateHz(channel); }

bool Asynchronous(const Channel& channel) {
    return channel.settings.bitMode == kBitModeAsyncBitBang;
}

// Lines with nothing attached: the latch on the outputs, the pull-ups on the inputs.
uint8_t LatchLevels(const Channel& channel) {
    const uint8_t mask = channel.settings.bitMask;
    return static_cast<uint8_t>((channel.bitBang.latch & mask) | ~mask);
}

uint8_t Levels(const Channel& channel, MpssePort* engine) {
    return engine != nullptr ? engine->LowPinLevels() : LatchLevels(channel);
}

size_t RoomForSamples(const Channel& channel) {
    const size_t pending = channel.rx.Pending();
    return pending < kSampleLimit ? kSampleLimit - pending : 0;
}

// The chip goes on sampling while its packets travel, so they leave full and nothing waits for the
// latency timer: the samples leave at once.
void AppendSamples(Channel& channel, MpssePort* engine, uint64_t count) {
    if (count == 0) return;
    std::vector<uint8_t>& tail = channel.rx.Tail();
    tail.insert(tail.end(), count, Levels(channel, engine));
    channel.rx.Produced(tail.size());
}

// The samples due by now; those the full queue has no room for are never taken.
void SampleUpToNow(Channel& channel, MpssePort* engine) {
    const uint64_t now = NowPs(kFullSpeed);
    uint64_t& next = channel.bitBang.nextSamplePs;
    if (now < next) return;
    const uint64_t step = UpdatePs(channel);
    const uint64_t due = (now - next) / step + 1;
    next += due * step;
    AppendSamples(channel, engine, std::min<uint64_t>(due, RoomForSamples(channel)));
}

void ElapseEverywhere(uint64_t ps) {
    for (int s = 0; s < kWireSpeeds; ++s) Elapse(s, ps);
}

}  // namespace

bool IsBitBang(uint8_t mode) { return mode == kBitModeAsyncBitBang || mode == kBitModeSyncBitBang; }

void StartBitBang(Channel& channel, MpssePort* engine) {
    if (engine != nullptr)
        engine->BitBang(&channel.bitBang.latch, 1, channel.settings.bitMask, 0, nullptr);
    RestartSampling(channel);
}

void BitBangWrite(Channel& channel, MpssePort* engine, const uint8_t* data, size_t count,
                  WireWrite& wire) {
    if (count == 0) return;
    const bool async = Asynchronous(channel);
    if (async) SampleUpToNow(channel, engine);
    const uint64_t step = UpdatePs(channel);
    // Synchronous mode answers every byte; asynchronous mode samples while the queue has room.
    const size_t kept = async ? std::min(count, RoomForSamples(channel)) : count;
    std::vector<uint8_t>& tail = channel.rx.Tail();
    const size_t start = tail.size();
    tail.resize(start + count);
    uint8_t* samples = tail.data() + start;
    if (engine != nullptr) {
        engine->BitBang(data, count, channel.settings.bitMask, UpdateRateHz(channel), samples);
    } else {
        for (size_t i = 0; i < count; ++i) {
            samples[i] = LatchLevels(channel);
            channel.bitBang.latch = data[i];
        }
    }
    channel.bitBang.latch = data[count - 1];
    tail.resize(start + kept);
    if (async) channel.bitBang.nextSamplePs = NowPs(kFullSpeed) + count * step;
    wire.pinSteps = count;
    wire.pinRateHz = UpdateRateHz(channel);
    wire.pinLimitHz = kUpdatesPerBaud * kMaxBaud;
}

void TakeSamples(Channel& channel, MpssePort* engine, bool wait) {
    if (!Asynchronous(channel)) return;
    SampleUpToNow(channel, engine);
    if (!wait || channel.rx.Pending() > 0) return;
    for (int s = 0; s < kWireSpeeds; ++s) Elapse(s, SpeedOf(s).framePs);
    SampleUpToNow(channel, engine);
}

void AwaitSamples(Channel& channel, MpssePort* engine, uint32_t count, uint32_t timeoutMs) {
    if (!Asynchronous(channel)) return;
    SampleUpToNow(channel, engine);
    const size_t pending = channel.rx.Pending();
    if (pending >= count) return;
    const uint64_t step = UpdatePs(channel);
    uint64_t lacking = count - pending;
    if (timeoutMs > 0) lacking = std::min<uint64_t>(lacking, timeoutMs * kPsPerMs / step);
    if (lacking == 0) return;
    // The read takes them as they come, a packet's worth at a time, so the queue's limit does not
    // hold them back.
    const uint64_t packet = SpeedOf(kFullSpeed).inPacketBytes;
    for (uint64_t taken = 0; taken < lacking;) {
        const uint64_t chunk = std::min(packet, lacking - taken);
        const uint64_t last = channel.bitBang.nextSamplePs + (chunk - 1) * step;
        const uint64_t now = NowPs(kFullSpeed);
        if (last > now) ElapseEverywhere(last - now);
        channel.bitBang.nextSamplePs = last + step;
        AppendSamples(channel, engine, chunk);
        taken += chunk;
    }
}

void RestartSampling(Channel& channel) { channel.bitBang.nextSamplePs = NowPs(kFullSpeed); }

uint8_t ChannelPinLevels(const Channel& channel, MpssePort* engine) {
    if (engine != nullptr) return engine->LowPinLevels();
    if (IsBitBang(channel.settings.bitMode)) return LatchLevels(channel);
    uint8_t levels = 0xFF;
    if (channel.settings.breakOn) levels &= static_cast<uint8_t>(~kTxdLine);
    if (channel.settings.rts) levels &= static_cast<uint8_t>(~kRtsLine);
    if (channel.settings.dtr) levels &= static_cast<uint8_t>(~kDtrLine);
    return levels;
}

}  // namespace vcable
