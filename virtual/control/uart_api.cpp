// The control API of the UART peers (vcable_uart.h).
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "chip/devices.h"
#include "entry_points/model_lock.h"
#include "uart/uart_peers.h"
#include "vcable_uart.h"

namespace vcable {
namespace {

int Attach(int device, int channel, std::unique_ptr<UartPeer> peer) {
    Channel* target = ChannelAt(device, channel);
    if (target == nullptr) return -1;
    target->peer = std::move(peer);
    return 0;
}

// The channel's peer when it is one of ours (a recording peer), else null.
RecordingPeer* Recorder(int device, int channel) {
    Channel* target = ChannelAt(device, channel);
    if (target == nullptr) return nullptr;
    return dynamic_cast<RecordingPeer*>(target->peer.get());
}

bool ReadFile(const char* path, std::vector<uint8_t>& out) {
    if (path == nullptr) return false;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    uint8_t chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0)
        out.insert(out.end(), chunk, chunk + got);
    bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
}

bool ToTrigger(int trigger, ScriptTrigger& out) {
    if (trigger == VC_UART_ON_DTR_RISE) {
        out = ScriptTrigger::kDtrRise;
    } else if (trigger == VC_UART_AFTER_POLLS) {
        out = ScriptTrigger::kAfterPolls;
    } else {
        return false;
    }
    return true;
}

}  // namespace
}  // namespace vcable

using namespace vcable;

extern "C" {

VC_API int vc_uart_peer_loopback(int device, int channel) {
    const ModelLock lock;
    return Attach(device, channel, MakeRecordingLoopbackPeer());
}

VC_API int vc_uart_peer_echo(int device, int channel, uint32_t delay_polls) {
    const ModelLock lock;
    return Attach(device, channel, MakeEchoPeer(delay_polls));
}

VC_API int vc_uart_peer_script(int device, int channel, const uint8_t* data, uint32_t length,
                               int trigger, uint32_t polls) {
    const ModelLock lock;
    ScriptTrigger when;
    if (!ToTrigger(trigger, when) || (data == nullptr && length != 0)) return -1;
    std::vector<uint8_t> script(data, data + length);
    return Attach(device, channel, MakeScriptedPeer(std::move(script), when, polls));
}

VC_API int vc_uart_peer_script_file(int device, int channel, const char* path, int trigger,
                                    uint32_t polls) {
    const ModelLock lock;
    ScriptTrigger when;
    std::vector<uint8_t> script;
    if (!ToTrigger(trigger, when) || !ReadFile(path, script)) return -1;
    return Attach(device, channel, MakeScriptedPeer(std::move(script), when, polls));
}

VC_API int vc_uart_peer_sink(int device, int channel) {
    const ModelLock lock;
    return Attach(device, channel, MakeSinkPeer());
}

VC_API int vc_uart_peer_none(int device, int channel) {
    const ModelLock lock;
    return Attach(device, channel, nullptr);
}

VC_API int vc_uart_peer_line(int device, int channel, uint32_t baud_rate, uint8_t word_length,
                             uint8_t stop_bits, uint8_t parity) {
    const ModelLock lock;
    RecordingPeer* peer = Recorder(device, channel);
    if (peer == nullptr) return -1;
    peer->ExpectLine(UartLine{baud_rate, word_length, stop_bits, parity});
    return 0;
}

VC_API uint64_t vc_uart_garbled_count(int device, int channel) {
    const ModelLock lock;
    const RecordingPeer* peer = Recorder(device, channel);
    return peer ? peer->GarbledCount() : 0;
}

VC_API uint64_t vc_uart_received_count(int device, int channel) {
    const ModelLock lock;
    const RecordingPeer* peer = Recorder(device, channel);
    return peer ? peer->ReceivedCount() : 0;
}

VC_API uint32_t vc_uart_received_read(int device, int channel, uint32_t offset, uint8_t* out,
                                      uint32_t capacity) {
    const ModelLock lock;
    const RecordingPeer* peer = Recorder(device, channel);
    if (peer == nullptr || out == nullptr) return 0;
    const std::vector<uint8_t>& bytes = peer->Received();
    if (offset >= bytes.size()) return 0;
    size_t n = bytes.size() - offset < capacity ? bytes.size() - offset : capacity;
    std::copy(bytes.begin() + offset, bytes.begin() + offset + n, out);
    return static_cast<uint32_t>(n);
}

VC_API uint32_t vc_uart_dtr_history(int device, int channel, uint8_t* out, uint32_t capacity) {
    const ModelLock lock;
    const RecordingPeer* peer = Recorder(device, channel);
    if (peer == nullptr) return 0;
    const std::vector<uint8_t>& levels = peer->DtrHistory();
    for (size_t i = 0; out != nullptr && i < levels.size() && i < capacity; ++i) out[i] = levels[i];
    return static_cast<uint32_t>(levels.size());
}

VC_API uint64_t vc_uart_polls(int device, int channel) {
    const ModelLock lock;
    const RecordingPeer* peer = Recorder(device, channel);
    return peer ? peer->Polls() : 0;
}

}  // extern "C"
