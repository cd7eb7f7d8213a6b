// The pins of channel A's two MPSSE bytes, the levels the pin operations start from, and the
// directions the opens give them.
#pragma once

#include <cstdint>

namespace kl::mpsse {

// Pin bits of the low byte (ADBUS).
constexpr uint8_t kPinTck = 0x01;
constexpr uint8_t kPinTdi = 0x02;
constexpr uint8_t kPinTdo = 0x04;
constexpr uint8_t kPinTms = 0x08;
constexpr uint8_t kPinGpioL0 = 0x10;
constexpr uint8_t kPinGpioL1 = 0x20;
constexpr uint8_t kPinGpioL2 = 0x40;
constexpr uint8_t kPinGpioL3 = 0x80;
// Pin bits of the high byte (ACBUS).
constexpr uint8_t kPinGpioH1 = 0x02;
constexpr uint8_t kPinGpioH2 = 0x04;

// The default low-byte levels: TCK low, TDI and TMS high, GPIOL0..3 high.
constexpr uint8_t kDefaultLowLevels = 0xFA;
// The high-byte levels the EDP opens and GPIO2_low send: GPIOH0..3 high, GPIOH4..7 low.
constexpr uint8_t kDefaultHighLevels = 0x0F;

// Directions after the opens: TCK, TDI, TMS, GPIOL2 and GPIOL3 outputs; the EDP opens also drive
// GPIOL0 and, on the high byte, GPIOH2 alone. Every other open leaves the high byte all inputs.
constexpr uint8_t kOpenLowDirections = kPinTck | kPinTdi | kPinTms | kPinGpioL2 | kPinGpioL3;
constexpr uint8_t kEdpLowDirections = kOpenLowDirections | kPinGpioL0;
constexpr uint8_t kEdpHighDirections = kPinGpioH2;
constexpr uint8_t kAllInputs = 0x00;
static_assert(kOpenLowDirections == 0xCB && kEdpLowDirections == 0xDB);

}  // namespace kl::mpsse
