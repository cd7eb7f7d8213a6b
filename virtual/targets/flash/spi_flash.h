// A serial NOR flash in SPI mode 0 on SK (ADBUS0), DO (ADBUS1, into the flash) and DI (ADBUS2, out
// of the flash), selected by an active-low chip select on a line chosen by the setup. Commands:
// JEDEC ID, SFDP, READ, FAST READ, WREN, WRDI, RDSR, PAGE PROGRAM, SECTOR ERASE, the 32 and 64 KiB
// BLOCK ERASEs, CHIP ERASE. Program and erase show the busy bit for a fixed number of status reads,
// so a host's polling loop is deterministic. Every transaction (chip select low to high) is
// recorded with its command, address and length: what the flash saw of the bus.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "targets/flash/flash_setup.h"
#include "targets/pin_target.h"

namespace vcable {

namespace flash_status {
constexpr uint8_t kWriteInProgress = 0x01;
constexpr uint8_t kWriteEnableLatch = 0x02;
}  // namespace flash_status

// One transaction as the flash saw it.
struct FlashTransaction {
    uint8_t command = 0;     // the first byte clocked in
    uint32_t address = 0;    // the address it carried, for commands that take one
    uint32_t bytes = 0;      // whole bytes clocked while selected, command and address included
    uint32_t extraBits = 0;  // clocks of an unfinished byte at the end
};

class SpiFlash : public PinTarget {
  public:
    SpiFlash(const FlashSetup& setup, TargetEvents& events);

    void OnPins(uint16_t levels) override;
    uint16_t DriveMask() const override;
    uint16_t DriveLevels() const override;
    bool CanRunFast(const ClockRun& run) const override;
    void RunFast(const ClockRun& run, uint8_t* tdo) override;

    std::vector<uint8_t>& Memory() { return memory_; }
    const std::vector<uint8_t>& Memory() const { return memory_; }
    uint8_t Status() const;
    int BusyPollsLeft() const { return busyPolls_; }

    // The transactions since the last clear: all of them counted, the first kRecordedTransactions
    // kept.
    static constexpr size_t kRecordedTransactions = 65536;
    uint64_t TransactionCount() const { return transactionCount_; }
    const std::vector<FlashTransaction>& Transactions() const { return transactions_; }
    void ClearTransactions();

    // A JTAG bridge holding the flash: while held it ignores its pins and leaves TDO alone, and
    // takes chip select, clock and data from BridgeLines instead; BridgeOut is its data output.
    void Hold(bool held) { held_ = held; }
    void BridgeLines(bool selected, bool clock, bool data);
    bool BridgeOut() const { return PullsTdo(); }

  private:
    void TakeLevels(uint16_t levels);
    void Select();
    void Deselect();
    void OnByte(uint8_t byte);
    void StatusByteSent();
    void Finish();
    void Record();
    uint8_t SfdpByte(uint32_t address) const;
    void RisingEdge(bool tdi);
    void FallingEdge();
    bool PullsTdo() const { return !driving_ || outBit_; }
    bool InReadData() const;
    uint32_t ReadDataBytes(const ClockRun& run, uint32_t from, uint8_t* tdo);
    uint32_t Wrap(uint32_t address) const { return address % memory_.size(); }

    FlashSetup setup_;
    TargetEvents& events_;
    std::vector<uint8_t> memory_;
    std::vector<uint8_t> sfdp_;  // empty: the flash does not answer the SFDP read
    uint16_t levels_ = 0xFFFF;
    bool held_ = false;
    bool selected_ = false;
    bool writeEnabled_ = false;
    int busyPolls_ = 0;

    // The transaction in progress (chip select low).
    uint8_t command_ = 0;
    uint32_t bytesIn_ = 0;  // whole bytes received, command included
    int bitsIn_ = 0;        // bits of the byte being received
    uint8_t shiftIn_ = 0;
    uint32_t address_ = 0;
    uint8_t out_ = 0xFF;
    bool driving_ = false;
    bool outBit_ = true;
    std::vector<uint8_t> page_;  // PAGE PROGRAM data in arrival order
    uint8_t firstByte_ = 0;      // the command byte as it came, for the record
    uint32_t addressBytes_ = 0;  // bytes 2 to 4 of the transaction, for the record

    uint64_t transactionCount_ = 0;
    std::vector<FlashTransaction> transactions_;
};

// A flash for a setup that has one; null when the setup says there is none.
std::unique_ptr<PinTarget> BuildTarget(const FlashSetup& setup, TargetEvents& events);

}  // namespace vcable
