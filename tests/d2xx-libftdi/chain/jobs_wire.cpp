// The reference jobs of the call-economy table, with what the chip model saw of each: the bytes
// written to each channel and the SPI flash's contents afterwards, as hashes. Built twice, once
// over the virtual cable's vendor face and once over the library on libftdi1 with the USB face
// beneath it; compare_faces.sh compares the two outputs, so both stacks must put the same bytes
// on the wire.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "reference_jobs.h"
#include "vcable.h"
#include "vcable_targets.h"

namespace {

// FNV-1a over a run of bytes, continued from `hash`.
uint64_t Fnv(uint64_t hash, const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash;
}

uint64_t ChannelBytes(int channel, uint32_t& size) {
    size = vc_tx_size(0, channel);
    std::vector<uint8_t> bytes(size);
    vc_tx_read(0, channel, 0, bytes.data(), size);
    return Fnv(0xCBF29CE484222325ull, bytes.data(), bytes.size());
}

uint64_t FlashContents() {
    uint32_t size = 0;
    if (vc_flash_size(0, &size) != 0) return 0;
    std::vector<uint8_t> bytes(size);
    vc_flash_read(0, 0, bytes.data(), size);
    return Fnv(0xCBF29CE484222325ull, bytes.data(), bytes.size());
}

}  // namespace

int main() {
    for (const kl::jobs::ReferenceJob& job : kl::jobs::ReferenceJobs()) {
        const bool prepared = job.prepare();
        vc_tx_clear(0, 0);
        vc_tx_clear(0, 1);
        const bool ran = job.run();
        uint32_t sizeA = 0, sizeB = 0;
        const uint64_t a = ChannelBytes(0, sizeA);
        const uint64_t b = ChannelBytes(1, sizeB);
        std::printf("%s: prepared %d ran %d A %u bytes %016llx B %u bytes %016llx flash %016llx\n",
                    job.name, prepared, ran, sizeA, static_cast<unsigned long long>(a), sizeB,
                    static_cast<unsigned long long>(b),
                    static_cast<unsigned long long>(FlashContents()));
    }
    return 0;
}
