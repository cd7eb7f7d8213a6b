// The table of cable descriptions.
#include "connection/cable_descriptions.h"

#include "platform/text.h"

namespace kl::connection {
namespace {

constexpr const WChar* kCableDescriptions[kCableDescriptionCount] = {
    KL_W("ZV7300LNK A"),
    KL_W("ZV7300LNK B"),
    KL_W("ZV7300LNK-USB A"),
    KL_W("ZV7300LNK-USB B"),
    KL_W("StudyBenchUnit A"),
    KL_W("StudyBenchUnit B"),
    KL_W("FlashingLeash A"),
    KL_W("FlashingLeash B"),
    KL_W("ZV7300QRB-USB A"),
    KL_W("ZV7300QRB-USB B"),
    KL_W(" "),
};

}  // namespace

const WChar* CableDescription(int index) {
    if (index < 0 || index >= kCableDescriptionCount) return nullptr;
    return kCableDescriptions[index];
}

}  // namespace kl::connection
