// The UART peers a scenario or a test can hang on a channel: loopback, a delayed echo, a scripted
// device and a sink. Every one of them records what it saw (bytes received, DTR levels), which
// the control API hands out (vcable_uart.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "uart/uart_peer.h"

namespace vcable {

// What a peer remembers. Received bytes are kept up to a cap; the count goes on.
class RecordingPeer : public UartPeer {
  public:
    static constexpr size_t kReceivedLimit = 16u << 20;

    void Write(const uint8_t* data, size_t count, const UartLine& line,
               std::vector<uint8_t>& rx) final;
    void SetDtr(bool level) final;
    void OnPoll(std::vector<uint8_t>& rx) final;

    const std::vector<uint8_t>& Received() const { return received_; }
    uint64_t ReceivedCount() const { return receivedCount_; }
    const std::vector<uint8_t>& DtrHistory() const { return dtrHistory_; }  // 1 set, 0 cleared
    uint64_t Polls() const { return polls_; }

    // From now on the peer understands only bytes sent on this line; others are counted as
    // garbled and neither recorded nor answered.
    void ExpectLine(const UartLine& line);
    uint64_t GarbledCount() const { return garbledCount_; }

  protected:
    // What the peer does with the bytes, a DTR edge and a poll (polls_ already counts this one).
    virtual void OnBytes(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) = 0;
    virtual void OnDtr(bool /*level*/, bool /*rising*/) {}
    virtual void OnTick(std::vector<uint8_t>& /*rx*/) {}

  private:
    bool lineExpected_ = false;
    UartLine line_;
    uint64_t garbledCount_ = 0;
    std::vector<uint8_t> received_;
    uint64_t receivedCount_ = 0;
    std::vector<uint8_t> dtrHistory_;
    bool dtr_ = false;
    uint64_t polls_ = 0;
};

// When a scripted peer sends its bytes.
enum class ScriptTrigger {
    kDtrRise,    // at the first poll after each rising edge of DTR
    kAfterPolls  // once, at the n-th poll after the peer was attached
};

// Every byte straight back into the receive queue (MakeLoopbackPeer of uart_peer.h is this one).
std::unique_ptr<RecordingPeer> MakeRecordingLoopbackPeer();
// Every byte back after delayPolls receive-queue polls (0: at once).
std::unique_ptr<RecordingPeer> MakeEchoPeer(uint32_t delayPolls);
// Sends script when triggered; records what the host sends and never answers it.
std::unique_ptr<RecordingPeer> MakeScriptedPeer(std::vector<uint8_t> script, ScriptTrigger trigger,
                                                uint32_t polls);
// Records and never answers.
std::unique_ptr<RecordingPeer> MakeSinkPeer();

}  // namespace vcable
