// A device's memory array as an in-system programming flow reaches it: an address register, and
// instructions that erase the array, program the word at the address and read it back.
//
// An erase starts when its instruction is loaded, a program at the Update-DR of its data
// register (then the address moves on, when auto-increment is on). Either takes effect at once,
// or after the set number of TCK periods in Run-Test/Idle; loading another instruction, or
// programming again, before then loses it, and the array keeps its old contents. Addresses past
// the last word read the erased value and drop what is programmed there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "targets/jtag/jtag_setup.h"
#include "targets/jtag/shift_register.h"
#include "targets/pin_target.h"

namespace vcable {

class JtagMemory {
  public:
    // Notes go to `events` (if any), each starting with `name`.
    JtagMemory(const JtagMemorySetup& setup, std::string name, TargetEvents* events);

    uint32_t Words() const { return setup_.words; }
    int WordBits() const { return setup_.wordBits; }
    int AddressBits() const { return setup_.addressBits; }
    uint32_t WordBytes() const { return static_cast<uint32_t>(setup_.wordBits + 7) / 8; }
    uint32_t Address() const { return address_; }
    // Run-Test/Idle periods until the pending erase or program takes effect (0: none pending).
    uint32_t PendingTcks() const { return pending_.kind == Op::kNone ? 0 : pending_.tcksLeft; }

    // Words one after another, WordBytes() each. Bits above a word's width are kept at 0.
    const std::vector<uint8_t>& Image() const { return image_; }
    void Write(uint32_t offset, const uint8_t* data, uint32_t count);

    // What the memory's instructions do in the TAP's states.
    void CaptureAddress(ShiftRegister& dr) const;
    void UpdateAddress(const ShiftRegister& dr);
    void CaptureWord(ShiftRegister& dr);  // read-back
    void UpdateRead();
    void CaptureProgram(ShiftRegister& dr) const;  // the last word shifted in
    void UpdateProgram(const ShiftRegister& dr);
    void StartErase();
    void RunTestClocks(uint64_t periods);
    void InstructionChanged();

  private:
    enum class Op : uint8_t { kNone, kErase, kProgram };
    struct Pending {
        Op kind = Op::kNone;
        uint32_t address = 0;
        uint32_t tcksLeft = 0;
        uint32_t tcksNeeded = 0;
    };

    void Start(Op kind, uint32_t tcks);
    void Complete();
    void MaskWord(uint32_t word);
    void NextAddress();
    std::string Describe(const Pending& op) const;

    JtagMemorySetup setup_;
    std::string name_;
    TargetEvents* events_;
    std::vector<uint8_t> image_;
    uint32_t address_ = 0;
    std::vector<uint8_t> word_;  // the program register's last word, a padded bit stream
    Pending pending_;
};

}  // namespace vcable
