#include "flash/flash_protect.h"

#include <algorithm>
#include <cstdio>

#include "flash/flash_geometry.h"
#include "flash/spi_ops.h"

namespace kestrel {
namespace {

// Makers whose schemes the tool decodes (the first byte of the JEDEC ID).
constexpr uint8_t kWinbond = 0xEF;
constexpr uint8_t kGigaDevice = 0xC8;
constexpr uint8_t kMacronix = 0xC2;
constexpr uint8_t kIssi = 0x9D;

constexpr uint8_t kReadStatus2 = 0x35;
constexpr uint8_t kReadConfiguration = 0x15;
constexpr uint8_t kStatusProtect = 0x80;  // SRP / SRWD in status register 1
constexpr uint8_t kStatusLock = 0x01;     // SRL in status register 2
constexpr uint8_t kComplement = 0x40;     // CMP in status register 2
constexpr uint64_t kBlock = 64 * 1024;

// Where a scheme keeps its bits: BP0 is bit 2 of status register 1 in all of them.
struct Scheme {
    int bpBits;     // 3 or 4
    int tbBit;      // in status register 1, or -1
    int tbBitCr;    // in the second register, or -1
    int secBit;     // in status register 1, or -1
    bool cmp;       // bit 6 of status register 2
    uint64_t unit;  // what BP = 1 protects
};

Scheme SchemeOf(uint8_t maker, uint64_t size) {
    switch (maker) {
        case kWinbond:
        case kGigaDevice:
            if (size > kThreeByteLimit) return {4, 6, -1, -1, true, kBlock};
            return {3, 5, -1, 6, true, std::max(kBlock, size / 64)};
        case kMacronix:
            return {4, -1, 3, -1, false, kBlock};
        default:
            return {4, -1, -1, -1, false, kBlock};
    }
}

void Decode(FlashProtection& p) {
    const Scheme s = SchemeOf(p.maker, p.size);
    const uint8_t sr1 = p.status[0];
    const uint32_t bp = (sr1 >> 2) & ((1u << s.bpBits) - 1);
    p.locked = (sr1 & kStatusProtect) || (p.writeBoth && (p.status[1] & kStatusLock));
    if (!p.known) {
        // An unknown scheme: any block-protect bit may cover any part of the flash.
        p.first = 0;
        p.end = bp ? p.size : 0;
        return;
    }
    uint64_t bytes = 0;
    const bool all = bp == (1u << s.bpBits) - 1 || (bp && (s.unit << (bp - 1)) >= p.size);
    if (all) {
        bytes = p.size;
    } else if (bp && s.secBit >= 0 && (sr1 >> s.secBit & 1)) {
        bytes = bp >= 4 ? 32 * 1024 : 4096u << (bp - 1);
    } else if (bp) {
        bytes = s.unit << (bp - 1);
    }
    const bool bottom = (s.tbBit >= 0 && (sr1 >> s.tbBit & 1)) ||
                        (s.tbBitCr >= 0 && p.hasSecond && (p.status[1] >> s.tbBitCr & 1));
    p.first = bottom ? 0 : p.size - bytes;
    p.end = bottom ? bytes : p.size;
    if (s.cmp && (p.status[1] & kComplement)) {
        p.first = bottom ? bytes : 0;
        p.end = bottom ? p.size : p.size - bytes;
    }
}

std::string Hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

bool WriteRegisters(Flash& flash, const FlashProtection& p, uint8_t sr1, uint8_t second,
                    CallResult& r) {
    const uint8_t bytes[2] = {sr1, second};
    return FlashWriteStatus(flash, bytes, p.writeBoth ? 2 : 1, r);
}

}  // namespace

bool ReadProtection(Flash& flash, const uint8_t id[3], uint64_t size, FlashProtection& p,
                    CallResult& result) {
    p = FlashProtection{};
    p.maker = id[0];
    p.size = size;
    p.known = id[0] == kWinbond || id[0] == kGigaDevice || id[0] == kMacronix || id[0] == kIssi;
    if (id[0] == kWinbond || id[0] == kGigaDevice) {
        p.hasSecond = p.writeBoth = true;
        p.secondOpcode = kReadStatus2;
        p.secondName = "status register 2";
    } else if (id[0] == kMacronix) {
        p.hasSecond = true;
        p.secondOpcode = kReadConfiguration;
        p.secondName = "configuration register";
    }
    if (!FlashReadRegister(flash, flash_cmd::kReadStatus, p.status[0], result)) return false;
    if (p.hasSecond && !FlashReadRegister(flash, p.secondOpcode, p.status[1], result)) return false;
    if (p.writeBoth && p.status[1] == 0xFF) {
        // An older part of the family has status register 1 alone and ignores 0x35, leaving DI
        // to its pull-up; all ones taken as register bits would read as locked and complemented.
        p.hasSecond = p.writeBoth = false;
        p.status[1] = 0;
    }
    Decode(p);
    return true;
}

bool ReadThirdRegister(Flash& flash, FlashProtection& p, CallResult& result) {
    p.hasThird = false;
    if (p.maker != kWinbond && p.maker != kGigaDevice) return true;
    if (!FlashReadRegister(flash, kReadStatus3, p.status[2], result)) return false;
    p.hasThird = p.status[2] != 0xFF;
    return true;
}

std::string DescribeProtection(const FlashProtection& p) {
    std::string text = "status register 1 " + Hex(p.status[0], 2);
    if (p.hasSecond) text += ", " + std::string(p.secondName) + " " + Hex(p.status[1], 2);
    if (p.hasThird) text += ", status register 3 " + Hex(p.status[2], 2);
    text += ": ";
    if (p.first >= p.end) {
        text += "nothing protected";
    } else {
        text += Hex(p.first, 6) + " to " + Hex(p.end - 1, 6) + " (" + SizeText(p.end - p.first) +
                ") protected";
        if (!p.known) text += " (block-protect bits of an unknown scheme: all of it assumed)";
    }
    if (p.locked) text += "; the status registers are locked (SRP)";
    return text;
}

bool ClearProtection(Flash& flash, const FlashProtection& p, CallResult& result) {
    if (p.locked) {
        return Reject(
            "the status registers are locked (status-register protect is set), so "
            "the protection cannot be cleared",
            result);
    }
    // BP with TB and SEC where status register 1 holds them; elsewhere bit 6 is quad enable.
    const uint8_t sr1 = static_cast<uint8_t>(p.status[0] & ~(p.writeBoth ? 0x7C : 0x3C));
    const uint8_t second = static_cast<uint8_t>(p.writeBoth ? p.status[1] & ~kComplement : 0);
    if (!WriteRegisters(flash, p, sr1, second, result)) return false;
    uint8_t id[3] = {p.maker, 0, 0};
    FlashProtection after;
    if (!ReadProtection(flash, id, p.size, after, result)) return false;
    if (after.first < after.end) {
        return Reject("the flash kept its protection after the status write (" +
                          DescribeProtection(after) + ")",
                      result);
    }
    return true;
}

bool RestoreProtection(Flash& flash, const FlashProtection& p, CallResult& result) {
    return WriteRegisters(flash, p, p.status[0], p.status[1], result);
}

std::string RestoreText(const FlashProtection& p) {
    const uint8_t command[3] = {flash_cmd::kWriteStatus, p.status[0], p.status[1]};
    std::string text = "status register 1 " + Hex(p.status[0], 2);
    if (p.writeBoth) text += " and " + std::string(p.secondName) + " " + Hex(p.status[1], 2);
    return text + " (write enable " + Hex(flash_cmd::kWriteEnable, 2) + ", then the status write " +
           HexBytes(command, p.writeBoth ? 3 : 2) + ")";
}

}  // namespace kestrel
