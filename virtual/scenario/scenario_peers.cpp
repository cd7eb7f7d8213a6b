// The UART peers a scenario file can attach, built from their parsed form.
#include "scenario/scenario_file.h"
#include "uart/uart_peers.h"

namespace vcable::scenario_file {

std::unique_ptr<UartPeer> MakePeer(const PeerDesc& peer) {
    switch (peer.kind) {
        case PeerKind::kNone:
            return nullptr;
        case PeerKind::kLoopback:
            return MakeRecordingLoopbackPeer();
        case PeerKind::kEcho:
            return MakeEchoPeer(peer.delayPolls);
        case PeerKind::kSink:
            return MakeSinkPeer();
        case PeerKind::kScript:
            return MakeScriptedPeer(
                peer.data, peer.onDtrRise ? ScriptTrigger::kDtrRise : ScriptTrigger::kAfterPolls,
                peer.polls);
    }
    return nullptr;
}

}  // namespace vcable::scenario_file
