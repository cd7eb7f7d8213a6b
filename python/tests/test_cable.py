"""The Cable objects, checked against what the virtual targets saw."""

import pytest
from conftest import REPO

import kestrellink

CHAINS = [  # scenario, IDCODEs nearest TDI first, IR lengths, a device with its USER instruction
    pytest.param(None, [0x12345677, 0x87654321], [6, 8], 1, 0xC2, 32, id="default"),
    pytest.param(str(REPO / "examples/scenarios/jtag-chain.toml"),
                 [0x0BA00477, 0x13631093, 0x41111043], [4, 10, 5], 2, 0x02, 16, id="three"),
]


@pytest.mark.parametrize("virtual_cable, idcodes, ir_lengths, device, user, bits", CHAINS,
                         indirect=["virtual_cable"])
def test_jtag_chain(cable, virtual_cable, idcodes, ir_lengths, device, user, bits):
    assert [hex(i) for i in cable.jtag.idcodes()] == [hex(i) for i in idcodes]
    # A playback at the cable's clock (1 MHz), after which the chain is looked at afresh.
    events = []
    cable.jtag.play(b"RUNTEST 0.001 SEC;", progress=events.append)
    assert (events[-1].done, events[-1].unit) == (1000, "bits and clocks")
    # Each device left with the data register reset selects: IDCODE, 32 bits.
    assert hex(cable.jtag.shift_dr(0, 32, 0)) == hex(idcodes[0])
    assert cable.jtag.shift_ir(device, user) == 0x1  # what Capture-IR loaded
    assert cable.jtag.ir_lengths == ir_lengths
    assert [virtual_cable.instruction(d) for d in range(len(idcodes))] == [
        user if d == device else (1 << n) - 1 for d, n in enumerate(ir_lengths)]
    value = 0x5A5A & ((1 << bits) - 1)
    assert cable.jtag.shift_dr(device, bits, value) == 0
    assert hex(cable.jtag.shift_dr(device, bits, 1)) == hex(value)
    assert virtual_cable.user_register(device) == 1
    assert {virtual_cable.tap_state(d) for d in range(len(idcodes))} == {"Run-Test/Idle"}
    cable.gpio.pulse_gpiol1(0, 0)  # the chain's reset line
    assert virtual_cable.user_register(device) == 0


def test_flash(cable, virtual_cable):
    assert cable.spi.jedec_id() == bytes.fromhex("A74014")
    assert cable.spi.read(0x1F0, 600).hex() == virtual_cable.flash_read(0x1F0, 600).hex()
    sector = virtual_cable.flash_read(0x1000, 0x1000)
    cable.spi.write(0x10F0, b"across a page boundary")
    assert virtual_cable.flash_read(0x1000, 0x1000) == (  # the rest of the sector kept
        sector[:0xF0] + b"across a page boundary" + sector[0x106:])
    virtual_cable.flash_write(0x2000, b"\0" * 16)
    with pytest.raises(ValueError, match="needs --size"):
        cable.spi.erase(0x2001, 0)
    cable.spi.erase(0x1FFF, 2)
    assert virtual_cable.flash_read(0x1FFF, 2) == b"\xff\xff"
    assert virtual_cable.flash_read(0x2001, 15) == b"\0" * 15 and \
        virtual_cable.flash_read(0x1000, 0xF0) == sector[:0xF0]


def clocks_sent(virtual_cable):
    """The clock commands the host wrote, each a write of its own (FTDI_SetClk)."""
    return [call.data.hex(" ") for call in virtual_cable.call_log("FT_Write")
            if len(call.data) == 3 and call.data[0] == 0x86]


@pytest.mark.parametrize("clock, sent", [
    pytest.param(None, ["86 00 00", "86 05 00"], id="the fastest, the cable's own after"),
    pytest.param("1.5M", ["86 03 00", "86 05 00"], id="1.5M"),
    pytest.param(1_000_000, [], id="the cable's own clock"),
    pytest.param(999_999, ["86 06 00", "86 05 00"], id="never faster than asked"),
])
def test_flash_jobs_run_at_the_clock_asked_for(cable, virtual_cable, clock, sent):
    virtual_cable.clear_call_log()
    assert cable.spi.read(0, 600, clock=clock) == virtual_cable.flash_read(0, 600)
    assert clocks_sent(virtual_cable) == sent
    assert cable.divisor == 5


@pytest.mark.parametrize("virtual_cable", [str(REPO / "examples/scenarios/jtag-memory.toml")],
                         indirect=True)
def test_jtag_memory_programming(cable, virtual_cable):
    """A script's erase, program and read-back reach the memory behind device 1's instructions
    (address 0x10, program 0x11, read 0x12, erase 0x13), and only after their idle clocks."""
    jtag = cable.jtag
    virtual_cable.jtag_memory_write(1, 8, bytes.fromhex("11223344"))  # word 2
    jtag.shift_ir(1, 0x13)
    assert virtual_cable.jtag_memory_read(1, 8, 4) == bytes.fromhex("11223344")  # still pending
    jtag.idle(1000)
    assert virtual_cable.jtag_memory_read(1, 0, 64) == b"\xff" * 64
    jtag.shift_ir(1, 0x10)
    jtag.shift_dr(1, 4, 5)
    jtag.shift_ir(1, 0x11)
    jtag.shift_dr(1, 32, 0xCAFEF00D)
    jtag.idle(100)
    assert virtual_cable.jtag_memory_read(1, 20, 4) == (0xCAFEF00D).to_bytes(4, "little")
    jtag.shift_ir(1, 0x10)
    jtag.shift_dr(1, 4, 5)
    jtag.shift_ir(1, 0x12)
    assert hex(jtag.shift_dr(1, 32, 0)) == hex(0xCAFEF00D)


@pytest.mark.parametrize("operation, args, outputs", [
    ("defaults", (), 0xCA), ("gpiol0_low", (), 0xCA),  # GPIOL0 is an input after OpenDevice
    ("gpiol2_low", (), 0x8A), ("gpiol2_low", (True,), 0x8A), ("gpiol3_low", (), 0x4A)])
def test_pin_operations(cable, virtual_cable, operation, args, outputs):
    getattr(cable.gpio, operation)(*args)
    pins = virtual_cable.pins()
    assert hex(pins.levels & pins.directions & 0xFF) == hex(outputs)
    assert cable.gpio.read() == pins.levels & 0xFF


def test_gpioh1(cable, virtual_cable):
    assert not cable.gpio.gpioh1_is_low()
    virtual_cable.drive(9, 0, after_polls=2)
    assert cable.gpio.wait_gpioh1_low(attempts=3)


def test_uart(cable, virtual_cable):
    with cable.uart(57600) as port:
        assert virtual_cable.channel(0, 1).baud_rate == 57600
        port.write(b"ping")
        assert virtual_cable.uart_received() == b"ping"
        assert port.read(4, timeout=2) == b"ping"  # the default peer loops back
        port.set_dtr(True)
        port.set_dtr(False)
        with pytest.raises(kestrellink.KestrelLinkError, match="uart block"):
            cable.jtag.idcodes()
    assert virtual_cable.dtr_history() == [1, 0]
    assert virtual_cable.channel(0, 0).bit_mode == 2 and len(cable.jtag.idcodes()) == 2


def test_the_cable_closes_what_it_opened(virtual_cable):
    with kestrellink.Cable.open(divisor=2) as cable:
        cable.set_clock(0x100)
        assert virtual_cable.written(0).hex(" ").endswith("86 02 00 86 00 01")
    assert [virtual_cable.channel(0, c).open for c in (0, 1)] == [0, 0]
