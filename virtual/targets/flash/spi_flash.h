// A serial NOR flash in SPI mode 0 on SK (ADBUS0), DO (ADBUS1, into the flash) and DI (ADBUS2, out
// of the flash), selected by an active-low chip select on a line chosen by the setup, acting out
// one part of the table (flash_part.h): JEDEC ID, SFDP, reads, status registers with their write
// and volatile write enables, page program and the erases (refused where the block-protect bits
// protect the range), probe commands (unique ID, manufacturer/device ID, power-down and release,
// software reset) and 4-byte addressing where the part has it. Programs, erases and status writes
// keep the busy bit up for the part's typical time on the full-speed model clock, which is the
// one that decides what the host sees; when a poll finds the part ready, the high-speed clock is
// brought up to the same moment of the operation. Every transaction (chip select low to high) is
// recorded with its command, address and length: what the flash saw of the bus.
#pragma once

#include <algorithm>
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
    const FlashPart& Part() const { return part_; }
    // Status register 1 as a read shows it now (busy and write enable included).
    uint8_t Status() const { return StatusRegister(0); }
    uint8_t StatusRegister(int index) const;
    uint64_t FullSpeedNowPs() const;
    bool Busy() const;
    bool FourByteMode() const { return fourByteMode_; }
    // The status registers' stored bits, as a state file keeps them.
    void StoredStatus(uint8_t out[3]) const { std::copy_n(status_, 3, out); }
    void RestoreStatus(const uint8_t in[3]) { std::copy_n(in, 3, status_); }

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
    void StartCommand();
    void DataByte(uint32_t index, uint8_t byte);
    uint8_t ProbeByte(uint32_t index) const;
    void Finish();
    void FinishStatusWrite();
    void FinishWrite();
    bool Refuse(const char* why);
    void StartBusy(uint64_t us);
    void SoftwareReset();
    void Record();
    uint8_t SfdpByte(uint32_t address) const;
    uint32_t AddressLength(uint8_t command) const;
    uint32_t DummyLength(uint8_t command) const;
    void RisingEdge(bool tdi);
    void FallingEdge();
    bool PullsTdo() const { return !driving_ || outBit_; }
    bool InReadData() const;
    uint32_t ReadDataBytes(const ClockRun& run, uint32_t from, uint8_t* tdo);
    uint32_t Wrap(uint32_t address) const { return address % memory_.size(); }

    FlashSetup setup_;
    const FlashPart& part_;
    TargetEvents& events_;
    std::vector<uint8_t> memory_;
    std::vector<uint8_t> sfdp_;  // empty: the flash does not answer the SFDP read
    uint16_t levels_ = 0xFFFF;
    bool held_ = false;
    uint64_t selectedAtPs_ = 0;  // the full-speed model clock when chip select fell
    bool selected_ = false;
    bool writeEnabled_ = false;
    bool volatileWrite_ = false;    // 0x50 came: the next status write does not persist
    uint8_t status_[3] = {};        // the registers' stored bits (busy and write enable apart)
    uint64_t busyFromPs_ = 0;       // on the full-speed clock
    uint64_t busyUntilPs_[2] = {};  // per model clock speed
    bool fourByteMode_ = false;
    bool poweredDown_ = false;
    bool resetEnabled_ = false;  // 0x66 came: 0x99 resets

    // The transaction in progress (chip select low).
    uint8_t command_ = 0;
    uint32_t bytesIn_ = 0;  // whole bytes received, command included
    int bitsIn_ = 0;        // bits of the byte being received
    uint8_t shiftIn_ = 0;
    uint32_t address_ = 0;
    uint32_t addressLength_ = 0;  // of the command in progress
    uint32_t dummyLength_ = 0;
    uint8_t out_ = 0xFF;
    bool driving_ = false;
    bool outBit_ = true;
    std::vector<uint8_t> page_;   // PAGE PROGRAM or status write data in arrival order
    uint8_t firstByte_ = 0;       // the command byte as it came, for the record
    uint32_t recordAddress_ = 0;  // the address bytes of the transaction, for the record
    uint32_t recordAddressLength_ = 0;

    uint64_t transactionCount_ = 0;
    std::vector<FlashTransaction> transactions_;
};

// A flash for a setup that has one; null when the setup says there is none.
std::unique_ptr<PinTarget> BuildTarget(const FlashSetup& setup, TargetEvents& events);

}  // namespace vcable
