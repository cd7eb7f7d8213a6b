// The flash a job drives, passed to every operation on it: its geometry (how addresses past
// 16 MiB are sent, how long status polls may wait) and the buffers its transfers use, allocated
// once with it so that no transfer allocates them: the capture queue of a long read's pieces and
// the page pipeline's command stream with its replies.
#pragma once

#include <cstdint>
#include <memory>

#include "flash/flash_geometry.h"
#include "flash/page_pipeline.h"
#include "wire/capture.h"

namespace kestrel {

// Bytes per JTAG_ReadTDO2 of a long read. Its replies, one byte more than it reads, fill whole USB
// packets at either speed (62 payload bytes at full speed, 510 at high speed: multiples of 15810
// bytes), so only a read's last piece waits for the latency timer. The first piece shares the
// queue with the command bytes (a few dozen at most) and stays under the library's queue
// threshold, so that both go in one write.
constexpr uint32_t kPacketsAtBothSpeeds = 15810;
constexpr uint32_t kReadPiece = kPacketsAtBothSpeeds - 1;
constexpr uint32_t kFirstReadPiece = 3 * kPacketsAtBothSpeeds - 1;
constexpr uint32_t kCommandBytesBeforeRead = 64;
static_assert(kFirstReadPiece + kCommandBytesBeforeRead <= wire::kQueueThreshold);
// The size of the piece that reads on from `done` of a read of `count` bytes.
constexpr uint32_t ReadPieceAt(uint32_t done, uint32_t count) {
    const uint32_t piece = done == 0 ? kFirstReadPiece : kReadPiece;
    return piece < count - done ? piece : count - done;
}

// A read's pieces travel in groups: each piece is queued and sent (a USB write of its own) before
// any of the group is collected, so the replies of one come back while the next is clocked. Only
// the last piece of a group waits for its replies alone, so the pieces are short and a group many
// of them; its replies (at most 126480 bytes, two of the 64 KiB a capturing shift may bring back)
// stay well inside what the vendor driver buffers while the host has not read them.
constexpr uint32_t kGroupReplyBytes = 8 * kPacketsAtBothSpeeds;
static_assert(kFirstReadPiece + 1 <= kGroupReplyBytes);

struct Flash {
    // Until the probe gives the geometry: 3-byte addresses and generous time-outs.
    FlashGeometry geometry;
    wire::CaptureQueue reads{kGroupReplyBytes};
    std::unique_ptr<StreamBuffers> streams = std::make_unique<StreamBuffers>();
};

}  // namespace kestrel
