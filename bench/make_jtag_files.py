#!/usr/bin/env python3
"""Writes the JTAG programming files that the JTAG benchmarks play, with the scenarios that answer
them, into OUT (the same bytes on every run, from fixed seeds):

  fpga-config.svf, fpga-config.toml  an FPGA configuration as a vendor tool writes it: the IDCODE
      checked, the device enabled and erased (time-and-clock RUNTESTs), its status checked, a
      bitstream of BITS bits in one SDR, the DONE bit checked, the device disabled.
  cpld-program.xsvf, cpld-program.toml  a CPLD's program and verify: every compared scan allows
      retries (XREPEAT) and waits in Run-Test/Idle (XRUNTEST) after it, as a CPLD programming
      file does: an erase, WORDS words programmed (each scan checks the status bits of the one
      before), then every word read back and checked.

  bench/make_jtag_files.py OUT [--bits BITS] [--words WORDS]
"""
import argparse
import os
import random
import struct

FPGA_IDCODE = 0x41113043
CPLD_IDCODE = 0x59A04093


def scenario_head(comment, idcode):
    """A scenario of one cable whose chain is one device with an 8-bit instruction register."""
    return (comment + '[[device]]\ndescription = "ZV7300LNK"\nserial = "ZV000001"\n\n'
            f"[[device.jtag]]\nir_length = 8\nidcode = {idcode:#010x}\n")


def svf_hex(value, bits):
    return format(value, "0%dX" % ((bits + 3) // 4))


def fpga_files(bits):
    rng = random.Random(20240501)
    bitstream = rng.getrandbits(bits)
    lines = [
        "! An FPGA configuration: erase, one bitstream burst, the DONE bit checked.",
        "! Written by bench/make_jtag_files.py; one command a line.",
        "HDR 0;", "HIR 0;", "TDR 0;", "TIR 0;",
        "ENDDR DRPAUSE;", "ENDIR IRPAUSE;", "STATE IDLE;",
        "SIR 8 TDI (E0);",
        "SDR 32 TDI (00000000) TDO (%08X) MASK (FFFFFFFF);" % FPGA_IDCODE,
        "SIR 8 TDI (1C);",
        "SDR 510 TDI (%s);" % svf_hex((1 << 510) - 1, 510),
        "SIR 8 TDI (C6);", "SDR 8 TDI (00);",
        "RUNTEST IDLE 2 TCK 1.00E-02 SEC;",
        "SIR 8 TDI (0E);", "SDR 8 TDI (01);",
        "RUNTEST IDLE 2 TCK 2.00E-01 SEC;",
        "SIR 8 TDI (3C);",
        "SDR 32 TDI (00000000) TDO (00000000) MASK (0000B000);",
        "SIR 8 TDI (46);", "SDR 8 TDI (01);",
        "RUNTEST IDLE 2 TCK 1.00E-02 SEC;",
        "SIR 8 TDI (7A);",
        "RUNTEST IDLE 2 TCK 1.00E-02 SEC;",
    ]
    # The bitstream, 64 digits a line as vendor tools split long values.
    digits = svf_hex(bitstream, bits)
    lines.append("SDR %d TDI (" % bits)
    lines += [digits[i:i + 64] for i in range(0, len(digits), 64)]
    lines[-1] += ");"
    lines += [
        "SIR 8 TDI (FF);",
        "RUNTEST IDLE 100 TCK 1.00E-02 SEC;",
        "SIR 8 TDI (3C);",
        "SDR 32 TDI (00000000) TDO (00000100) MASK (00002100);",
        "SIR 8 TDI (26);",
        "RUNTEST IDLE 2 TCK 2.00E-01 SEC;",
        "SIR 8 TDI (FF);",
        "RUNTEST IDLE 2 TCK 1.00E-03 SEC;",
    ]
    scenario = scenario_head("""# The device that fpga-config.svf configures (bench/make_jtag_files.py): the erase keeps it
# busy for 100 ms, the status register shows busy in bit 12 and DONE in bit 8, and the burst
# instruction takes the bitstream through BYPASS and sets DONE.
""", FPGA_IDCODE) + f"""flags = ["done"]
instructions = [
    {{ opcode = 0xE0, register = "idcode" }},
    {{ opcode = 0x1C, register = "data", length = 510 }},
    {{ opcode = 0xC6, register = "data", length = 8 }},
    {{ opcode = 0x0E, register = "data", length = 8, starts_on = "update", busy_us = 100000, clears = ["done"] }},
    {{ opcode = 0x3C, register = "status", length = 32, busy_bit = 12, flags = {{ done = 8 }} }},
    {{ opcode = 0x46, register = "data", length = 8 }},
    {{ opcode = 0x7A, register = "bypass", sets = ["done"] }},
    {{ opcode = 0x26, register = "bypass" }},
]
"""
    return "\n".join(lines) + "\n", scenario


# XSVF commands (the format's command bytes).
XCOMPLETE, XTDOMASK, XSIR, XSDR, XRUNTEST = 0x00, 0x01, 0x02, 0x03, 0x04
XREPEAT, XSDRSIZE, XSDRTDO = 0x07, 0x08, 0x09

WORD_BITS = 34  # two status bits (binary 01) below 32 data bits
ADDRESS_BITS = 12
OPCODES = {"idcode": 0x01, "address": 0x10, "enable": 0xE8, "erase": 0xED, "program": 0xEA,
           "read": 0xEE, "disable": 0xF0}


def value(v, bits):
    return v.to_bytes((bits + 7) // 8, "big")


class Xsvf:
    def __init__(self):
        self.out = bytearray()
        self.size = 0

    def sir(self, opcode):
        self.out += bytes([XSIR, 8, opcode])

    def runtest(self, us):
        self.out += bytes([XRUNTEST]) + struct.pack(">I", us)

    def sdrsize(self, bits, mask):
        self.size = bits
        self.out += bytes([XSDRSIZE]) + struct.pack(">I", bits)
        self.out += bytes([XTDOMASK]) + value(mask, bits)

    def sdrtdo(self, tdi, expected):
        self.out += bytes([XSDRTDO]) + value(tdi, self.size) + value(expected, self.size)

    def address(self, a):
        """Sets the array's address, without a wait or a check."""
        self.runtest(0)
        self.sir(OPCODES["address"])
        self.sdrsize(ADDRESS_BITS, 0)
        self.sdrtdo(a, 0)


def cpld_files(words):
    rng = random.Random(20240502)
    data = [(rng.getrandbits(WORD_BITS - 2) << 2) | 0b01 for _ in range(words)]
    x = Xsvf()
    x.out += bytes([XREPEAT, 32])
    x.runtest(0)
    x.sir(OPCODES["idcode"])
    x.sdrsize(32, 0x0FFFFFFF)
    x.sdrtdo(0, CPLD_IDCODE)
    x.sir(OPCODES["enable"])
    x.runtest(100000)  # the erase: 100 ms in Run-Test/Idle after its instruction
    x.sir(OPCODES["erase"])
    x.address(0)
    # Program: each scan shifts its word and checks the status bits of the one before (the
    # register captures the last word it was given); 1 ms in Run-Test/Idle programs it.
    x.runtest(1000)
    x.sir(OPCODES["program"])
    x.sdrsize(WORD_BITS, 0b11)
    for i, word in enumerate(data):
        x.sdrtdo(word, data[i - 1] if i else 0)
    x.address(0)
    # Verify: every word read back and checked, 20 us in Run-Test/Idle after each.
    x.runtest(20)
    x.sir(OPCODES["read"])
    x.sdrsize(WORD_BITS, (1 << WORD_BITS) - 1)
    for word in data:
        x.sdrtdo((1 << WORD_BITS) - 1, word)
    x.runtest(0)
    x.sir(OPCODES["disable"])
    x.sir(0xFF)
    x.out += bytes([XCOMPLETE])
    scenario = scenario_head(f"""# The device that cpld-program.xsvf erases, programs and verifies
# (bench/make_jtag_files.py): {words} words of {WORD_BITS} bits behind an address register.
""", CPLD_IDCODE) + f"""instructions = [
    {{ opcode = {OPCODES["idcode"]:#04x}, register = "idcode" }},
    {{ opcode = {OPCODES["address"]:#04x}, register = "address" }},
    {{ opcode = {OPCODES["erase"]:#04x}, register = "erase" }},
    {{ opcode = {OPCODES["program"]:#04x}, register = "program" }},
    {{ opcode = {OPCODES["read"]:#04x}, register = "read" }},
]

[device.jtag.memory]
words = {words}
word_bits = {WORD_BITS}
address_bits = {ADDRESS_BITS}
erase_tcks = 50000
program_tcks = 500
"""
    return bytes(x.out), scenario


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--bits", type=int, default=4500000, help="bits of the FPGA bitstream")
    parser.add_argument("--words", type=int, default=1024, help="words of the CPLD")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    svf, fpga = fpga_files(args.bits)
    xsvf, cpld = cpld_files(args.words)
    for name, content in (("fpga-config.svf", svf), ("fpga-config.toml", fpga),
                          ("cpld-program.xsvf", xsvf), ("cpld-program.toml", cpld)):
        mode = "wb" if isinstance(content, bytes) else "w"
        with open(os.path.join(args.out, name), mode) as f:
            f.write(content)


if __name__ == "__main__":
    main()
