// The recording UART peers.
#include "uart/uart_peers.h"

#include <deque>
#include <utility>

namespace vcable {

void RecordingPeer::ExpectLine(const UartLine& line) {
    lineExpected_ = true;
    line_ = line;
}

void RecordingPeer::Write(const uint8_t* data, size_t count, const UartLine& line,
                          std::vector<uint8_t>& rx) {
    if (lineExpected_ && !line_.Reads(line)) {
        garbledCount_ += count;
        return;
    }
    receivedCount_ += count;
    size_t room = received_.size() < kReceivedLimit ? kReceivedLimit - received_.size() : 0;
    received_.insert(received_.end(), data, data + (count < room ? count : room));
    OnBytes(data, count, rx);
}

void RecordingPeer::SetDtr(bool level) {
    dtrHistory_.push_back(level ? 1 : 0);
    bool rising = level && !dtr_;
    dtr_ = level;
    OnDtr(level, rising);
}

void RecordingPeer::OnPoll(std::vector<uint8_t>& rx) {
    ++polls_;
    OnTick(rx);
}

namespace {

class LoopbackPeer final : public RecordingPeer {
  protected:
    void OnBytes(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) override {
        rx.insert(rx.end(), data, data + count);
    }
};

class EchoPeer final : public RecordingPeer {
  public:
    explicit EchoPeer(uint32_t delayPolls) : delayPolls_(delayPolls) {}

  protected:
    void OnBytes(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) override {
        if (delayPolls_ == 0) {
            rx.insert(rx.end(), data, data + count);
            return;
        }
        pending_.push_back({Polls() + delayPolls_, std::vector<uint8_t>(data, data + count)});
    }
    void OnTick(std::vector<uint8_t>& rx) override {
        while (!pending_.empty() && pending_.front().duePoll <= Polls()) {
            const std::vector<uint8_t>& bytes = pending_.front().bytes;
            rx.insert(rx.end(), bytes.begin(), bytes.end());
            pending_.pop_front();
        }
    }

  private:
    struct Pending {
        uint64_t duePoll;
        std::vector<uint8_t> bytes;
    };
    uint32_t delayPolls_;
    std::deque<Pending> pending_;
};

class ScriptedPeer final : public RecordingPeer {
  public:
    ScriptedPeer(std::vector<uint8_t> script, ScriptTrigger trigger, uint32_t polls)
        : script_(std::move(script)), trigger_(trigger), triggerPolls_(polls) {}

  protected:
    void OnBytes(const uint8_t*, size_t, std::vector<uint8_t>&) override {}
    void OnDtr(bool, bool rising) override {
        if (trigger_ == ScriptTrigger::kDtrRise && rising) armed_ = true;
    }
    void OnTick(std::vector<uint8_t>& rx) override {
        if (trigger_ == ScriptTrigger::kAfterPolls && !sentOnce_ && Polls() >= triggerPolls_) {
            armed_ = true;
            sentOnce_ = true;
        }
        if (!armed_) return;
        armed_ = false;
        rx.insert(rx.end(), script_.begin(), script_.end());
    }

  private:
    std::vector<uint8_t> script_;
    ScriptTrigger trigger_;
    uint32_t triggerPolls_;
    bool armed_ = false;
    bool sentOnce_ = false;
};

class SinkPeer final : public RecordingPeer {
  protected:
    void OnBytes(const uint8_t*, size_t, std::vector<uint8_t>&) override {}
};

}  // namespace

std::unique_ptr<RecordingPeer> MakeRecordingLoopbackPeer() {
    return std::make_unique<LoopbackPeer>();
}

std::unique_ptr<RecordingPeer> MakeEchoPeer(uint32_t delayPolls) {
    return std::make_unique<EchoPeer>(delayPolls);
}

std::unique_ptr<RecordingPeer> MakeScriptedPeer(std::vector<uint8_t> script, ScriptTrigger trigger,
                                                uint32_t polls) {
    return std::make_unique<ScriptedPeer>(std::move(script), trigger, polls);
}

std::unique_ptr<RecordingPeer> MakeSinkPeer() { return std::make_unique<SinkPeer>(); }

std::unique_ptr<UartPeer> MakeLoopbackPeer() { return MakeRecordingLoopbackPeer(); }

}  // namespace vcable
