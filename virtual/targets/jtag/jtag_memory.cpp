#include "targets/jtag/jtag_memory.h"

#include <algorithm>
#include <cstdio>

#include "targets/bit_stream.h"

namespace vcable {
namespace {

std::string HexWord(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

JtagMemory::JtagMemory(const JtagMemorySetup& setup, std::string name, TargetEvents* events)
    : setup_(setup),
      name_(std::move(name)),
      events_(events),
      image_(static_cast<size_t>(setup.words) * WordBytes(), setup.erasedOnes ? 0xFF : 0x00),
      word_(bits::StreamBytes(setup.wordBits), 0) {
    setup_.image.clear();
    Write(0, setup.image.data(),
          static_cast<uint32_t>(std::min(setup.image.size(), image_.size())));
    for (uint32_t w = 0; w < setup_.words; ++w) MaskWord(w);
}

void JtagMemory::Write(uint32_t offset, const uint8_t* data, uint32_t count) {
    std::copy_n(data, count, image_.begin() + offset);
    if (count == 0) return;
    for (uint32_t w = offset / WordBytes(); w <= (offset + count - 1) / WordBytes(); ++w) {
        MaskWord(w);
    }
}

void JtagMemory::MaskWord(uint32_t word) {
    const int tail = setup_.wordBits % 8;
    if (tail != 0) image_[(word + 1) * WordBytes() - 1] &= static_cast<uint8_t>((1u << tail) - 1);
}

void JtagMemory::CaptureAddress(ShiftRegister& dr) const { dr.Load(setup_.addressBits, address_); }

void JtagMemory::UpdateAddress(const ShiftRegister& dr) {
    const uint64_t mask = (uint64_t{1} << setup_.addressBits) - 1;
    address_ = static_cast<uint32_t>(dr.Low64() & mask);
}

void JtagMemory::CaptureWord(ShiftRegister& dr) {
    std::vector<uint8_t> word(bits::StreamBytes(setup_.wordBits), setup_.erasedOnes ? 0xFF : 0x00);
    if (address_ < setup_.words) {
        std::copy_n(image_.begin() + static_cast<size_t>(address_) * WordBytes(), WordBytes(),
                    word.begin());
    } else if (events_) {
        events_->Note(name_ + ": read-back at address " + HexWord(address_) +
                      " is past the last word, reads erased");
    }
    dr.Load(setup_.wordBits, word.data());
}

void JtagMemory::UpdateRead() {
    if (setup_.autoIncrement) NextAddress();
}

void JtagMemory::CaptureProgram(ShiftRegister& dr) const { dr.Load(setup_.wordBits, word_.data()); }

void JtagMemory::UpdateProgram(const ShiftRegister& dr) {
    InstructionChanged();  // a program still pending is cut short by this one
    dr.Store(word_.data());
    Start(Op::kProgram, setup_.programTcks);
    if (setup_.autoIncrement) NextAddress();
}

void JtagMemory::StartErase() { Start(Op::kErase, setup_.eraseTcks); }

void JtagMemory::Start(Op kind, uint32_t tcks) {
    pending_ = {kind, address_, tcks, tcks};
    if (tcks == 0) Complete();
}

void JtagMemory::Complete() {
    const Pending op = pending_;
    pending_ = {};
    if (op.kind == Op::kErase) {
        std::fill(image_.begin(), image_.end(), setup_.erasedOnes ? 0xFF : 0x00);
        for (uint32_t w = 0; w < setup_.words; ++w) MaskWord(w);
    } else if (op.address < setup_.words) {
        std::copy_n(word_.begin(), WordBytes(),
                    image_.begin() + static_cast<size_t>(op.address) * WordBytes());
        MaskWord(op.address);
    } else if (events_) {
        events_->Note(name_ + ": " + Describe(op) + " is past the last word, dropped");
    }
}

void JtagMemory::RunTestClocks(uint64_t periods) {
    if (pending_.kind == Op::kNone) return;
    if (periods >= pending_.tcksLeft) {
        Complete();
    } else {
        pending_.tcksLeft -= static_cast<uint32_t>(periods);
    }
}

void JtagMemory::InstructionChanged() {
    if (pending_.kind == Op::kNone) return;
    if (events_) {
        events_->Note(name_ + ": " + Describe(pending_) + " lost after " +
                      std::to_string(pending_.tcksNeeded - pending_.tcksLeft) + " of " +
                      std::to_string(pending_.tcksNeeded) + " Run-Test/Idle clocks");
    }
    pending_ = {};
}

void JtagMemory::NextAddress() {
    const uint64_t mask = (uint64_t{1} << setup_.addressBits) - 1;
    address_ = static_cast<uint32_t>((address_ + uint64_t{1}) & mask);
}

std::string JtagMemory::Describe(const Pending& op) const {
    return op.kind == Op::kErase ? "erase" : "program at address " + HexWord(op.address);
}

}  // namespace vcable
