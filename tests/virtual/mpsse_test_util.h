// Helpers for the engine and target tests: the engine's targets, and a small host that builds the
// command streams a JTAG or SPI host sends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "engine/mpsse_engine.h"
#include "targets/flash/spi_flash.h"
#include "targets/gpio/gpio_inputs.h"
#include "targets/jtag/jtag_chain.h"
#include "test_bytes.h"

namespace vtest {

// The open's pin and clock set-up: default levels, directions 0xCB, loopback off, divisor 5.
inline const Bytes kOpenSequence = {0x80, 0xFA, 0xCB, 0x85, 0x86, 0x05, 0x00};

// The engine's targets, found by type (each test's wiring has the one it asks for).
inline vcable::JtagChain& Chain(const vcable::MpsseEngine& engine) {
    return *engine.Find<vcable::JtagChain>();
}
inline vcable::SpiFlash& Flash(const vcable::MpsseEngine& engine) {
    return *engine.Find<vcable::SpiFlash>();
}
inline vcable::GpioInputs& Gpio(const vcable::MpsseEngine& engine) {
    return *engine.Find<vcable::GpioInputs>();
}

inline Bytes Send(vcable::MpssePort& port, const Bytes& bytes) {
    Bytes rx;
    port.Write(bytes.data(), bytes.size(), rx);
    return rx;
}

// Not insert(): GCC 12 at -O3 reports a false overflow for it when `to` is short.
inline void Append(Bytes& to, const Bytes& more) {
    std::copy(more.begin(), more.end(), std::back_inserter(to));
}

// One SPI flash transaction as the library sends it: chip select (GPIOL2) low, the bytes out with
// 0x11 (out on the falling edge, MSB first), readCount bytes in with 0x20, chip select high.
inline Bytes SpiTransaction(const Bytes& out, uint32_t readCount = 0) {
    // A byte-shift command: the opcode and the length less one, low byte first.
    auto shift = [](Bytes& to, uint8_t opcode, size_t count) {
        to.push_back(opcode);
        to.push_back(static_cast<uint8_t>(count - 1));
        to.push_back(static_cast<uint8_t>((count - 1) >> 8));
    };
    Bytes stream = {0x80, 0xBA, 0xCB};
    shift(stream, 0x11, out.size());
    Append(stream, out);
    if (readCount > 0) shift(stream, 0x20, readCount);
    Append(stream, {0x80, 0xFA, 0xCB});
    return stream;
}

// TMS bits, bit 0 first, at most 7 per command, TDI held high.
inline Bytes Tms(uint32_t bits, int count) {
    Bytes out;
    for (int done = 0; done < count; done += 7) {
        const int n = count - done < 7 ? count - done : 7;
        // push_back rather than insert: GCC 12 at -O3 reports a false overflow in the latter.
        out.push_back(0x4B);
        out.push_back(static_cast<uint8_t>(n - 1));
        out.push_back(static_cast<uint8_t>(0x80 | ((bits >> done) & 0x7F)));
    }
    return out;
}

// Moves any TAP to Test-Logic-Reset and then to Run-Test/Idle.
inline Bytes ResetToIdle() { return Tms(0x1F, 6); }
// From Run-Test/Idle to Shift-DR or Shift-IR.
inline Bytes IdleToShiftDr() { return Tms(0b001, 3); }
inline Bytes IdleToShiftIr() { return Tms(0b0011, 4); }
// From Exit1 to Run-Test/Idle through Update.
inline Bytes Exit1ToIdle() { return Tms(0b01, 2); }

// A capturing shift of `bits` bits of value (LSB first) the way the library does it: whole bytes
// with 0x39, tail bits with 0x3B, the last bit with 0x6B (TMS 1, leaving the shift state).
inline Bytes ShiftOut(uint64_t value, int bits) {
    Bytes out;
    int whole = bits / 8;
    int tail = bits % 8;
    if (tail == 0) {
        --whole;
        tail = 8;
    }
    if (whole > 0) {
        out.insert(out.end(), {0x39, static_cast<uint8_t>(whole - 1), 0x00});
        for (int i = 0; i < whole; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    for (int i = 0; i < tail; ++i) {
        const int bit = static_cast<int>((value >> (8 * whole + i)) & 1);
        if (i == tail - 1) {
            out.insert(out.end(), {0x6B, 0x00, static_cast<uint8_t>(bit ? 0x83 : 0x03)});
        } else {
            out.insert(out.end(), {0x3B, 0x00, static_cast<uint8_t>(bit ? 0x03 : 0x00)});
        }
    }
    return out;
}

// Unpacks the replies of ShiftOut: whole bytes as they are, then one byte per tail bit with the
// captured bit in bit 7.
inline uint64_t ShiftIn(const Bytes& reply, int bits) {
    int whole = bits / 8;
    if (bits % 8 == 0) --whole;
    uint64_t value = 0;
    for (int i = 0; i < whole; ++i) value |= static_cast<uint64_t>(reply.at(i)) << (8 * i);
    for (size_t i = whole; i < reply.size(); ++i) {
        value |= static_cast<uint64_t>(reply[i] >> 7) << (8 * whole + (i - whole));
    }
    return value;
}

}  // namespace vtest
