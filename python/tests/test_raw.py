"""Every export through the raw layer, checked against what the virtual cable saw."""

import pytest
from conftest import CABLE

import kestrellink


def rc_of(result):
    return result[0] if isinstance(result, tuple) else result


CORE_PINS = "80 fa cb 85"
EDP_PINS = "80 fa db 82 0f 04 85"
MPSSE_OPENS = [  # export, rescans, channel B opened, pin command channel A saw
    ("OpenDevice", 1, 1, CORE_PINS), ("OpenDevice5", 0, 0, CORE_PINS),
    ("OpenDevice5_B7", 1, 0, CORE_PINS), ("OpenDevice5_B8", 0, 0, CORE_PINS),
    ("OpenDevice5_CopyE", 1, 0, CORE_PINS), ("OpenDevice_EDP", 1, 1, EDP_PINS),
    ("OpenDevice_EDP2", 1, 1, EDP_PINS),
]


@pytest.mark.parametrize("name, rescans, b_open, pins", MPSSE_OPENS)
def test_mpsse_opens(lib, virtual_cable, name, rescans, b_open, pins):
    assert rc_of(getattr(lib, name)(CABLE, "", 3)) == 0
    assert len(virtual_cable.call_log("FT_Rescan")) == rescans
    assert (virtual_cable.channel(0, 0).bit_mode, virtual_cable.channel(0, 1).open) == (2, b_open)
    assert f"{pins} 86 03 00" in virtual_cable.written(0).hex(" ")


@pytest.mark.parametrize("name, args, baud", [
    ("OpenDevice2", (), 9600), ("OpenDevice3", (115200,), 115200),
    ("OpenDevice4", (CABLE, "", 57600), 57600)])
def test_uart_opens_leave_channel_b_current(lib, virtual_cable, name, args, baud):
    assert getattr(lib, name)(*args) == 0
    assert [virtual_cable.channel(0, c).baud_rate for c in (0, 1)] == [baud, baud]
    assert lib.Write_UART() == 0
    assert virtual_cable.uart_received().hex(" ") == "80 f8 cb 85"


def test_check_device_talkable_turns_a_uart_open_into_mpsse(uart, virtual_cable):
    assert uart.CheckDeviceTalkable("", "", 5) == 0
    assert (virtual_cable.channel(0, 0).bit_mode, virtual_cable.channel(0, 1).open) == (2, 0)


MPSSE_WRITES = [  # export, arguments, result, bytes channel A saw (queued ones sent after)
    ("JTAG_WriteTMS", (0, 0x01), 0, "4b 00 81"),
    ("JTAG_WriteTMS", (6, 0x01), 4, ""),
    ("JTAG_WriteTMS2", (0x6B, 2, b"\x05"), 0, "6b 02 05"),
    ("JTAG_Clk", (0x09, 20), 0, "86 05 00 19 02 00 ff ff ff 86 05 00"),
    ("JTAG_ReadTDO2", (0x09, 16), 0, "29 00 00 2b 06 6b 00 03"),
    ("JTAG_ReadTDO2", (0x09, 0), 5, ""),
    ("JTAG_WriteTDI", (0x09, 12, b"\xa5\x0c", False, 1), 0,
     "19 00 00 a5 1b 00 00 1b 00 00 1b 00 03 4b 00 83"),
    ("JTAG_WriteTDI2", (0x08, 12, bytearray(b"\xa5\x0c"), False, 1), 0,
     "18 00 00 a5 1a 00 00 1a 00 00 1a 00 03 4a 00 83"),
    ("JTAG_Send2FTDI", (), 0, ""),
    ("JTAG_ReadPort", (), 0, "81"),
    ("ResetXilinx", (0, 0), None, "80 da eb 80 fa cb"),
    ("FTDI_SetClk", (2,), 0, "86 02 00"),
    ("FTDI_SetClk", (0x10000,), 17, ""),
    ("SPI_WriteDO", (0x11, 2, b"\x9f\x00"), 0, "11 01 00 9f 00"),
    ("SPI_ReadDI", (0x20, 3, False), 0, "20 02 00"),
    ("Disable_AllTalk", (), 0, "80 fa cb"), ("GPIOL_low", (), 0, "80 ea cb"),
    ("GPIO2_low2", (), 0, "80 ba cb"), ("GPIO3_low", (), 0, "80 7a cb"),
    ("GPIO2_low", (), 0, "80 ba cb 82 0f 00"),
    ("Wait_GPIOH1_Low", (), 8, "83"),  # an undriven input reads high
    ("Write_UART", (), 0, "80 f8 cb 85"),
]


@pytest.mark.parametrize("name, args, result, sent", MPSSE_WRITES)
def test_mpsse_operations_send_their_commands(mpsse, virtual_cable, name, args, result, sent):
    assert rc_of(getattr(mpsse, name)(*args)) == result
    assert mpsse.JTAG_Send2FTDI() == 0
    assert virtual_cable.written(0).hex(" ") == sent


def test_gpioh2_after_an_edp_open(lib, virtual_cable):
    assert lib.OpenDevice_EDP(CABLE, "", 5) == 0
    for name, sent, level in [("GPIOH2_low", "82 fa 04", 0), ("GPIOH2_high", "82 fe 04", 1)]:
        virtual_cable.clear_call_log()
        assert getattr(lib, name)() == 0
        assert virtual_cable.written(0).hex(" ") == sent
        assert virtual_cable.pins().levels >> 10 & 1 == level  # ACBUS2


def test_replies_are_what_the_pins_and_targets_hold(mpsse, virtual_cable):
    assert mpsse.JTAG_ReadPort() == (0, virtual_cable.pins().levels & 0xFF)
    assert mpsse.GPIO2_low2() == 0
    assert mpsse.SPI_WriteDO(0x11, 4, b"\x03\x00\x00\x10") == 0
    assert mpsse.SPI_ReadDI(0x20, 1000, True) == (0, virtual_cable.flash_read(0x10, 1000))
    assert mpsse.Disable_AllTalk() == 0
    assert mpsse.JTAG_WriteTMS(5, 0x1F) == 0 and mpsse.JTAG_WriteTMS(2, 0x01) == 0  # Shift-DR
    assert mpsse.JTAG_ReadTDO2(0x09, 32) == 0 and mpsse.JTAG_Send2FTDI() == 0
    rc, reply = mpsse.JTAG_RxFTDI(5)  # the IDCODE of the device nearest TDO comes first
    assert (rc, reply[:3].hex()) == (0, "214365")
    assert mpsse.JTAG_WriteTMS(5, 0x1F) == 0 and mpsse.JTAG_WriteTMS(2, 0x01) == 0
    assert mpsse.JTAG_WriteTDI(0x09, 12, b"\xa5\x0c", True, 1) == (0, b"\x21\x03", 12)


@pytest.mark.parametrize("name, args, fault, result, entry", [
    ("ChkDLLVer", (0x00030216,), None, 1, "FT_GetLibraryVersion"),
    ("ChkDLLVer", (0x00030217,), None, 2, "FT_GetLibraryVersion"),
    ("ChkDLLVer", (0,), "FT_GetLibraryVersion", 0, "FT_GetLibraryVersion"),
    ("Reload_Driver", (0x0403, 0x6010), None, 0, "FT_Reload"),
    ("Reload_Driver_B7", (0x0403, 0x6010), None, 0, "FT_Reload"),
    ("Reload_Driver_B8", (0x0403, 0x6010), "FT_Reload", 4, "FT_Reload"),
    ("ResetDevice2", (), None, 0, "FT_CyclePort"),
    ("test_APA", (), None, None, "FT_ResetPort"),
    ("UnLoadD2XXDLL", (), None, 1, None),
])
def test_binding_exports(mpsse, virtual_cable, name, args, fault, result, entry):
    if fault:
        virtual_cable.fault_fail(fault)
    assert getattr(mpsse, name)(*args) == result
    calls = virtual_cable.call_log(entry) if entry else [None]
    assert calls and (entry != "FT_Reload" or calls[0].args[:2] == args)


@pytest.mark.parametrize("name, a_open, b_open", [
    ("CloseDevice", 0, 0), ("CloseDevice2", 0, 0), ("CloseDevice3", 0, 1)])
def test_closes(mpsse, virtual_cable, name, a_open, b_open):
    assert getattr(mpsse, name)() is None
    assert [virtual_cable.channel(0, c).open for c in (0, 1)] == [a_open, b_open]


def test_channel_selection_routes_writes(mpsse, virtual_cable):
    mpsse.SelectChannelB()
    assert mpsse.Write_UART() == 0 and virtual_cable.uart_received().hex(" ") == "80 f8 cb 85"
    mpsse.SelectChannelA()
    assert mpsse.Write_UART() == 0 and virtual_cable.written(0).hex(" ") == "80 f8 cb 85"


@pytest.mark.parametrize("writer, write_extra, reader, read_extra", [
    ("Write_FILE_UART", (), "Read_FILE_UART", ()),
    ("Write_FILE_UART_2", (0.0,), "Read_FILE_UART_2", (1, 2.0))])
def test_uart_file_transfers(uart, virtual_cable, tmp_path, writer, write_extra, reader,
                             read_extra):
    data = bytes(range(40))
    (tmp_path / "out-ü.bin").write_bytes(data)  # a name that is not ASCII
    assert getattr(uart, writer)(tmp_path / "out-ü.bin", 40, *write_extra) == 0
    assert virtual_cable.uart_received() == data
    assert getattr(uart, reader)(str(tmp_path / "in-ü.bin"), 40, *read_extra) == 0
    assert (tmp_path / "in-ü.bin").read_bytes() == data


def test_uart_read_and_dtr(uart, virtual_cable):
    assert (uart.Write_UART(), uart.Read_UART()) == (0, 0)
    assert (uart.Set_Dtr(), uart.Clr_Dtr()) == (0, 0)
    assert virtual_cable.dtr_history() == [1, 0]


def test_program_and_log(lib, virtual_cable, tmp_path):
    assert lib.directoryB(str(tmp_path)) == 0
    assert lib.ProgramDevice(CABLE, "ZV000042", "hello") == 0
    eeprom = virtual_cable.eeprom()
    assert (eeprom.serial_number, eeprom.user_area[:6]) == ("ZV000042", b"hello\0")
    assert (tmp_path / "Log.txt").read_bytes().split(b"\r\n") == [
        b"202", b"203", b"204", b"205", b"210", b"Zelvorinex", b"36", b"hello", b"Finish!!!", b""]


def test_erase_shows_its_messages_as_warnings(lib, virtual_cable):
    with pytest.warns(kestrellink.CableMessage) as shown:
        assert lib.Erase_ProgedEEPROM() == 0
    assert [str(w.message) for w in shown] == ["ZV7300LNK A", "201.1"]
    assert virtual_cable.eeprom().programmed == 0


@pytest.mark.virtual_cable_scenario('[[device]]\ndescription = "ZV7300LNK"\n'
                                    'user_area_text = "bench 7"\n')
def test_edp2_returns_the_user_area_text(lib):
    assert lib.OpenDevice_EDP2(CABLE, "", 5) == (0, "bench 7")


def test_messages_go_to_the_handler_when_one_is_set(mpsse, virtual_cable):
    virtual_cable.fault_fail("FT_SetDtr", persistent=True)
    with pytest.warns(kestrellink.CableMessage, match="^E11.05 Cannot Set DTR$"):
        assert mpsse.Set_Dtr() == 1
    seen = []
    mpsse.on_message = seen.append
    try:
        assert mpsse.Set_Dtr() == 1
    finally:
        mpsse.on_message = None
    assert seen == ["E11.05 Cannot Set DTR"]


@pytest.mark.parametrize("name, args, error", [
    ("JTAG_WriteTDI", (0x09, 17, b"\0\0", False, 1), ValueError),  # 17 bits need 3 bytes
    ("JTAG_WriteTDI", (0x09, 16, 5, False, 1), TypeError),  # only one-byte pointers take an int
    ("SPI_WriteDO", (0x11, 4, b"abc"), ValueError),
    ("JTAG_WriteTMS", (256, 1), ValueError),
    ("FTDI_SetClk", ("5",), TypeError),
    ("Write_FILE_UART_2", ("f.bin", 1, "1.0"), TypeError)])  # float() would take the str
def test_bad_arguments_raise_before_reaching_the_library(mpsse, virtual_cable, name, args,
                                                         error):
    with pytest.raises(error):
        getattr(mpsse, name)(*args)
    assert virtual_cable.call_log() == []
