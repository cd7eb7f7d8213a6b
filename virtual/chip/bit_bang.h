// The bit-bang modes of a channel (bit modes 0x01 and 0x04): the chip drives the eight lines of
// the channel's low byte (ADBUS on channel A, BDBUS on channel B) from the bytes the host writes,
// the lines of the mask as outputs and the others as inputs, paced by its baud-rate generator:
// one update every period of 16 times the baud rate. Channel A's lines are the engine's pin bus,
// so its targets see every edge and the pin hook (the waveform) sees each at its time; channel B's
// have nothing attached, so an input reads its pull-up.
// - Synchronous: each byte written first samples the lines (its reply byte is the levels before
//   it went out), then drives them; nothing is sampled without a write.
// - Asynchronous: written bytes drive the lines one per period, and the chip samples the lines
//   every period into the receive queue, on the model clock, until kSampleLimit bytes wait unread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "chip/channel.h"
#include "engine/mpsse_port.h"
#include "record/wire_clock.h"

namespace vcable {

// Unread bytes at which asynchronous sampling pauses. The chip's own buffer holds 384 bytes; the
// vendor's driver keeps reading them into its own in the background, so a host sees far more.
constexpr size_t kSampleLimit = 64u << 10;

bool IsBitBang(uint8_t mode);

// Entering a bit-bang mode, or a new mask in one: the mask's lines drive the latch at once.
void StartBitBang(Channel& channel, MpssePort* engine);

// A write in a bit-bang mode: one update of the lines per byte. Says in `wire` how long the
// updates took.
void BitBangWrite(Channel& channel, MpssePort* engine, const uint8_t* data, size_t count,
                  WireWrite& wire);

// Asynchronous mode: the samples due by now join the receive queue. With `wait`, when nothing is
// waiting, the poll is taken a USB frame later, so a host polling for samples always gets some.
void TakeSamples(Channel& channel, MpssePort* engine, bool wait);

// Asynchronous mode, before a read of `count` bytes: waits on the model clock for the samples it
// still lacks, as long as the read time-out allows (0: no time-out).
void AwaitSamples(Channel& channel, MpssePort* engine, uint32_t count, uint32_t timeoutMs);

// Sampling starts afresh now (a purge dropped what was waiting).
void RestartSampling(Channel& channel);

// The low byte's lines now, as the chip's pin read sees them: in a bit-bang mode the latch on the
// outputs and the pull-ups (or channel A's targets) on the inputs; channel B in UART mode its
// serial lines at rest (TXD, RTS#, DTR# driven, the inputs pulled up).
uint8_t ChannelPinLevels(const Channel& channel, MpssePort* engine);

}  // namespace vcable
