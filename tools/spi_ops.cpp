#include "spi_ops.h"

#include <algorithm>
#include <vector>

#include "kestrellink.h"

namespace kestrel {
namespace {

// MPSSE byte commands for SPI mode 0: data out on the falling edge and in on the rising edge,
// most significant bit first.
constexpr kl_u8 kSpiWriteBytes = 0x11;
constexpr kl_u8 kSpiReadBytes = 0x20;

// Flash commands.
constexpr uint8_t kCmdWriteEnable = 0x06;
constexpr uint8_t kCmdReadStatus = 0x05;
constexpr uint8_t kCmdReadJedecId = 0x9F;
constexpr uint8_t kCmdRead = 0x03;
constexpr uint8_t kCmdPageProgram = 0x02;
constexpr uint8_t kCmdSectorErase = 0x20;
constexpr uint8_t kStatusBusy = 0x01;

// Status reads before an operation counts as hung.
constexpr int kMaxBusyPolls = 100000;
// Bytes per SPI_ReadDI call of a long read (the library cuts them into its own blocks).
constexpr uint32_t kReadChunk = 16 * 1024;
constexpr uint8_t kMinCapacityCode = 0x10;  // 64 KiB
constexpr uint8_t kMaxCapacityCode = 0x1A;  // 64 MiB

bool Select(CallResult& r) { return Check(GPIO2_low2(), "GPIO2_low2", r); }
bool Deselect(CallResult& r) { return Check(Disable_AllTalk(), "Disable_AllTalk", r); }

bool Send(const uint8_t* data, uint32_t count, CallResult& r) {
    return Check(SPI_WriteDO(kSpiWriteBytes, count, data), "SPI_WriteDO", r);
}

bool Receive(uint8_t* out, uint32_t count, CallResult& r) {
    kl_u32 received = 0;
    if (!Check(SPI_ReadDI(kSpiReadBytes, count, out, &received), "SPI_ReadDI", r)) return false;
    if (received == count) return true;
    return Reject("SPI_ReadDI delivered " + std::to_string(received) + " of " +
                      std::to_string(count) + " bytes",
                  r);
}

// One transaction: chip select low, the command bytes, an optional read, chip select high.
bool Transaction(const uint8_t* command, uint32_t commandBytes, uint8_t* in, uint32_t inBytes,
                 CallResult& r) {
    const bool ok =
        Select(r) && Send(command, commandBytes, r) && (inBytes == 0 || Receive(in, inBytes, r));
    return Deselect(r) && ok;
}

bool WaitReady(CallResult& r) {
    const uint8_t command = kCmdReadStatus;
    for (int poll = 0; poll < kMaxBusyPolls; ++poll) {
        uint8_t status = 0;
        if (!Transaction(&command, 1, &status, 1, r)) return false;
        if (!(status & kStatusBusy)) return true;
    }
    return Reject("the flash stayed busy", r);
}

bool WriteEnable(CallResult& r) {
    const uint8_t command = kCmdWriteEnable;
    return Transaction(&command, 1, nullptr, 0, r);
}

void AddressCommand(uint8_t command, uint32_t address, std::vector<uint8_t>& out) {
    out = {command, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
           static_cast<uint8_t>(address)};
}

}  // namespace

bool FlashJedecId(uint8_t id[3], CallResult& result) {
    const uint8_t command = kCmdReadJedecId;
    return Transaction(&command, 1, id, 3, result);
}

uint32_t FlashSizeFromJedec(const uint8_t id[3]) {
    if (id[2] < kMinCapacityCode || id[2] > kMaxCapacityCode) return 0;
    return 1u << id[2];
}

bool FlashRead(uint32_t address, uint8_t* out, uint32_t count, CallResult& result,
               const std::function<void(uint32_t)>& progress) {
    std::vector<uint8_t> command;
    AddressCommand(kCmdRead, address, command);
    bool ok = Select(result) && Send(command.data(), static_cast<uint32_t>(command.size()), result);
    for (uint32_t done = 0; ok && done < count;) {
        const uint32_t chunk = std::min(kReadChunk, count - done);
        ok = Receive(out + done, chunk, result);
        done += chunk;
        if (ok && progress) progress(done);
    }
    return Deselect(result) && ok;
}

bool FlashWrite(uint32_t address, const uint8_t* data, uint32_t count, bool erase,
                CallResult& result, const std::function<void(uint32_t)>& progress) {
    std::vector<uint8_t> command;
    if (erase && count > 0) {
        const uint32_t first = address / kFlashSectorSize;
        const uint32_t last = (address + count - 1) / kFlashSectorSize;
        for (uint32_t sector = first; sector <= last; ++sector) {
            AddressCommand(kCmdSectorErase, sector * kFlashSectorSize, command);
            if (!WriteEnable(result) || !Transaction(command.data(), 4, nullptr, 0, result) ||
                !WaitReady(result)) {
                return false;
            }
        }
    }
    for (uint32_t done = 0; done < count;) {
        // A page program wraps within its page, so no piece may cross a page boundary.
        const uint32_t at = address + done;
        const uint32_t piece = std::min(kFlashPageSize - at % kFlashPageSize, count - done);
        AddressCommand(kCmdPageProgram, at, command);
        command.insert(command.end(), data + done, data + done + piece);
        if (!WriteEnable(result) ||
            !Transaction(command.data(), static_cast<uint32_t>(command.size()), nullptr, 0,
                         result) ||
            !WaitReady(result)) {
            return false;
        }
        done += piece;
        if (progress) progress(done);
    }
    return true;
}

}  // namespace kestrel
