// The default UART peer: a wire from TXD to RXD.
#include "uart_peer.h"

namespace vcable {
namespace {

class LoopbackPeer final : public UartPeer {
  public:
    void Write(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) override {
        rx.insert(rx.end(), data, data + count);
    }
};

}  // namespace

std::unique_ptr<UartPeer> MakeLoopbackPeer() { return std::make_unique<LoopbackPeer>(); }

}  // namespace vcable
