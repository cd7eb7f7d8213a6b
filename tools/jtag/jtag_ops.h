// JTAG chain examination through the library's JTAG exports: count the devices with BYPASS and
// read their IDCODEs after Test-Logic-Reset.
#pragma once

#include <cstdint>
#include <vector>

#include "common/common.h"
#include "jtag/chain.h"

namespace kestrel {

struct ChainDevice {
    bool hasIdcode = false;  // false: the device came up in BYPASS (one 0 bit)
    uint32_t idcode = 0;
};

struct ChainScan {
    int count = 0;
    std::vector<ChainDevice> devices;  // device 0 nearest TDI
};

using jtag::kMaxChainDevices;
using jtag::kMaxTotalIrBits;

// Counts the devices: every instruction register filled with ones (BYPASS), then a run of zeros
// followed by ones shifted through the data registers; the ones come out after one bit of delay
// per device.
bool CountChainDevices(int& count, CallResult& result);

// Reads the `count` data registers that Test-Logic-Reset selects (IDCODE, or BYPASS for devices
// without one) in one queued capture: JTAG_ReadTDO2, JTAG_Send2FTDI, JTAG_RxFTDI.
bool ReadIdcodes(int count, std::vector<ChainDevice>& devices, CallResult& result);

// Both, on a connection opened with OpenDevice.
bool ScanChain(ChainScan& scan, CallResult& result);

// "manufacturer 0x0BB part 0x2345 version 1" for an IDCODE.
std::string DescribeIdcode(uint32_t idcode);

}  // namespace kestrel
