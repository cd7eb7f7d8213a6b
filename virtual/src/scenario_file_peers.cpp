// The UART peers a scenario file can attach, built from their parsed form.
#include "scenario_file.h"

namespace vcable::scenario_file {

bool PeersAvailable(const ScenarioDesc& scenario, std::string& error) {
    for (size_t i = 0; i < scenario.devices.size(); ++i) {
        for (const PeerDesc& peer : scenario.devices[i].peers) {
            if (peer.kind == PeerKind::kNone || peer.kind == PeerKind::kLoopback) continue;
            error = "device[" + std::to_string(i) +
                    "]: this build of the virtual cable offers only the loopback UART peer";
            return false;
        }
    }
    return true;
}

std::unique_ptr<UartPeer> MakePeer(const PeerDesc& peer) {
    return peer.kind == PeerKind::kLoopback ? MakeLoopbackPeer() : nullptr;
}

}  // namespace vcable::scenario_file
