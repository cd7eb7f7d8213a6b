"""The result codes of the library's exports: their names, classes and meanings.

Generated from src/shell/result_codes.tsv by cmake/result_codes.cmake; edit the table.
"""

from typing import Dict

# LoadD2XXDLL
LOAD_OK = 0
LOAD_NO_LIBRARY = 1
LOAD_LACKS_LIST_DEVICES = 2
LOAD_LACKS_OPEN = 3
LOAD_LACKS_OPEN_EX = 4
LOAD_LACKS_CLOSE = 5
LOAD_LACKS_READ = 6
LOAD_LACKS_WRITE = 7
LOAD_LACKS_RESET_DEVICE = 8
LOAD_LACKS_RESET_PORT = 9
LOAD_LACKS_CYCLE_PORT = 10
LOAD_LACKS_SET_BAUD_RATE = 11
LOAD_LACKS_SET_CHARS = 12
LOAD_LACKS_PURGE = 13
LOAD_LACKS_SET_TIMEOUTS = 14
LOAD_LACKS_GET_QUEUE_STATUS = 15
LOAD_LACKS_SET_BREAK_ON = 16
LOAD_LACKS_SET_BREAK_OFF = 17
LOAD_LACKS_GET_STATUS = 18
LOAD_LACKS_SET_EVENT_NOTIFICATION = 19
LOAD_LACKS_GET_BIT_MODE = 20
LOAD_LACKS_SET_BIT_MODE = 21
LOAD_LACKS_SET_LATENCY_TIMER = 22
LOAD_LACKS_GET_LATENCY_TIMER = 23
LOAD_LACKS_ERASE_EE = 24
LOAD_LACKS_EE_PROGRAM = 25
LOAD_LACKS_EE_READ = 26
LOAD_LACKS_EE_UA_SIZE = 27
LOAD_LACKS_EE_UA_READ = 28
LOAD_LACKS_EE_UA_WRITE = 29
LOAD_LACKS_RESCAN = 30
LOAD_LACKS_GET_DEVICE_INFO = 31
LOAD_LACKS_SET_DATA_CHARACTERISTICS = 32
LOAD_LACKS_SET_FLOW_CONTROL = 33
LOAD_LACKS_SET_DTR = 34
LOAD_LACKS_CLR_DTR = 35
LOAD_LACKS_GET_LIBRARY_VERSION = 36
LOAD_LACKS_CREATE_DEVICE_INFO_LIST = 37
LOAD_LACKS_GET_DEVICE_INFO_LIST = 38
LOAD_LACKS_RELOAD = 39

# OpenDevice
OPEN_OK = 0
OPEN_STALE_CLOSE_FAILED = 1
OPEN_RESCAN_FAILED = 2
OPEN_NO_DEVICE = 3
OPEN_LIST_NOT_FETCHED = 4
OPEN_NO_MATCH = 5
OPEN_NOT_ONE_PAIR = 6
OPEN_CHANNEL_A_FAILED = 9
OPEN_CHANNEL_A_RESET_FAILED = 10
OPEN_CHANNEL_A_POLL_FAILED = 11
OPEN_CHANNEL_A_LATENCY_FAILED = 12
OPEN_CHANNEL_A_BIT_MODE_FAILED = 13
OPEN_MPSSE_MODE_FAILED = 14
OPEN_NO_ECHO = 15
OPEN_PIN_COMMAND_FAILED = 16
OPEN_CLOCK_FAILED = 17
OPEN_BYTES_AFTER_CLOCK = 18
OPEN_TOO_MANY_MATCH = 19
OPEN_CHANNEL_B_FAILED = 21

# OpenDevice4
OPEN4_OK = 0
OPEN4_STALE_CLOSE_FAILED = 1
OPEN4_RESCAN_FAILED = 2
OPEN4_NO_DEVICE = 3
OPEN4_LIST_NOT_FETCHED = 4
OPEN4_NO_MATCH = 5
OPEN4_NOT_ONE_PAIR = 6
OPEN4_CHANNEL_A_FAILED = 9
OPEN4_CHANNEL_A_RESET_FAILED = 10
OPEN4_CHANNEL_A_POLL_FAILED = 11
OPEN4_CHANNEL_A_LATENCY_FAILED = 12
OPEN4_CHANNEL_A_BIT_MODE_FAILED = 13
OPEN4_CHANNEL_A_BAUD_FAILED = 14
OPEN4_CHANNEL_A_DATA_FAILED = 15
OPEN4_CHANNEL_A_FLOW_FAILED = 16
OPEN4_CHANNEL_B_FAILED = 17
OPEN4_CHANNEL_B_RESET_FAILED = 18
OPEN4_TOO_MANY_OR_CHANNEL_B_POLL_FAILED = 19
OPEN4_CHANNEL_B_LATENCY_FAILED = 20
OPEN4_CHANNEL_B_BIT_MODE_FAILED = 21
OPEN4_CHANNEL_B_BAUD_FAILED = 22
OPEN4_CHANNEL_B_DATA_FAILED = 23
OPEN4_CHANNEL_B_FLOW_FAILED = 24

# UnLoadD2XXDLL
UNLOAD_NOTHING = 0
UNLOAD_RELEASED = 1

# ChkDLLVer
VERSION_UNREAD = 0
VERSION_AT_LEAST = 1
VERSION_BELOW = 2

# OpenDevice2
UART_OPEN_OK = 0
UART_OPEN_STALE_CLOSE_FAILED = 1
UART_OPEN_RESCAN_FAILED = 2
UART_OPEN_NO_DEVICE = 3
UART_OPEN_LIST_NOT_FETCHED = 4
UART_OPEN_NO_MATCH = 5
UART_OPEN_NOT_ONE_PAIR = 6
UART_OPEN_POLL_FAILED = 7
UART_OPEN_CHANNEL_B_FAILED = 8
UART_OPEN_BIT_MODE_FAILED = 9
UART_OPEN_BAUD_FAILED = 17
UART_OPEN_DATA_FAILED = 18
UART_OPEN_FLOW_FAILED = 19

# JTAG_WriteTDI
TRANSFER_OK = 0
TRANSFER_FAILED = 4
TRANSFER_COUNT_ZERO = 5

# Wait_GPIOH1_Low
GPIO_H1_LOW = 0
GPIO_H1_FAILED = 4
GPIO_H1_NOT_LOW = 8

# FTDI_SetClk
SET_CLK_OK = 0
SET_CLK_FAILED = 17

# Read_UART
UART_OK = 0
UART_FAILED = 1

# Read_FILE_UART
RECEIVE_OK = 0
RECEIVE_FAILED = 1
RECEIVE_CANNOT_WRITE_FILE = 2
RECEIVE_TIMED_OUT_EMPTY = 6
RECEIVE_NO_MEMORY = 8

# Write_FILE_UART
SEND_OK = 0
SEND_FAILED = 1
SEND_CANNOT_OPEN_FILE = 7
SEND_NO_MEMORY = 8

# directoryB
DIRECTORY_RECORDED = 0

# ProgramDevice
PROGRAM_OK = 0
PROGRAM_STALE_CLOSE_FAILED = 1
PROGRAM_RESCAN_FAILED = 2
PROGRAM_NO_DEVICE = 3
PROGRAM_LIST_NOT_FETCHED = 4
PROGRAM_NO_DEVICE_AFTER_WAIT = 5
PROGRAM_NOT_ONE_PAIR = 6
PROGRAM_POLL_FAILED = 7
PROGRAM_OPEN_FAILED = 8
PROGRAM_BIT_MODE_FAILED = 9
PROGRAM_MPSSE_MODE_FAILED = 10
PROGRAM_NO_SYNC = 11
PROGRAM_BYTES_AFTER_BRING_UP = 12
PROGRAM_PIN_COMMAND_FAILED = 13
PROGRAM_CLOCK_FAILED = 14
PROGRAM_TOO_MANY_DEVICES = 19

MEANINGS: Dict[str, Dict[int, str]] = {
    "LoadD2XXDLL": {
        0: "the vendor library and all 38 entry points were loaded",
        1: "the vendor library could not be loaded",
        2: "the vendor library lacks the entry point FT_ListDevices",
        3: "the vendor library lacks the entry point FT_Open",
        4: "the vendor library lacks the entry point FT_OpenEx",
        5: "the vendor library lacks the entry point FT_Close",
        6: "the vendor library lacks the entry point FT_Read",
        7: "the vendor library lacks the entry point FT_Write",
        8: "the vendor library lacks the entry point FT_ResetDevice",
        9: "the vendor library lacks the entry point FT_ResetPort",
        10: "the vendor library lacks the entry point FT_CyclePort",
        11: "the vendor library lacks the entry point FT_SetBaudRate",
        12: "the vendor library lacks the entry point FT_SetChars",
        13: "the vendor library lacks the entry point FT_Purge",
        14: "the vendor library lacks the entry point FT_SetTimeouts",
        15: "the vendor library lacks the entry point FT_GetQueueStatus",
        16: "the vendor library lacks the entry point FT_SetBreakOn",
        17: "the vendor library lacks the entry point FT_SetBreakOff",
        18: "the vendor library lacks the entry point FT_GetStatus",
        19: "the vendor library lacks the entry point FT_SetEventNotification",
        20: "the vendor library lacks the entry point FT_GetBitMode",
        21: "the vendor library lacks the entry point FT_SetBitMode",
        22: "the vendor library lacks the entry point FT_SetLatencyTimer",
        23: "the vendor library lacks the entry point FT_GetLatencyTimer",
        24: "the vendor library lacks the entry point FT_EraseEE",
        25: "the vendor library lacks the entry point FT_EE_Program",
        26: "the vendor library lacks the entry point FT_EE_Read",
        27: "the vendor library lacks the entry point FT_EE_UASize",
        28: "the vendor library lacks the entry point FT_EE_UARead",
        29: "the vendor library lacks the entry point FT_EE_UAWrite",
        30: "the vendor library lacks the entry point FT_Rescan",
        31: "the vendor library lacks the entry point FT_GetDeviceInfo",
        32: "the vendor library lacks the entry point FT_SetDataCharacteristics",
        33: "the vendor library lacks the entry point FT_SetFlowControl",
        34: "the vendor library lacks the entry point FT_SetDtr",
        35: "the vendor library lacks the entry point FT_ClrDtr",
        36: "the vendor library lacks the entry point FT_GetLibraryVersion",
        37: "the vendor library lacks the entry point FT_CreateDeviceInfoList",
        38: "the vendor library lacks the entry point FT_GetDeviceInfoList",
        39: "the vendor library lacks the entry point FT_Reload",
    },
    "OpenDevice": {
        0: "opened, channel A current (shared by the MPSSE open variants and CheckDeviceTalkable)",
        1: "closing the still-open connection failed",
        2: "FT_Rescan failed",
        3: "no device found, or the device list could not be created",
        4: "the device list could not be fetched",
        5: "no device matches the description and serial parts",
        6: "not exactly two channels match (two cables, or one channel visible)",
        9: "channel A could not be opened",
        10: "resetting channel A failed",
        11: "the queue-status poll of channel A failed",
        12: "setting channel A's latency timer failed",
        13: "resetting channel A's bit mode failed",
        14: "switching channel A to MPSSE mode failed",
        15: "the MPSSE engine did not answer (no 0xAA echo)",
        16: "sending the initial pin command failed",
        17: "the clock divisor is above 0xFFFF, or sending the clock command failed",
        18: "bytes were waiting after the clock command, or the queue poll failed",
        19: "more than 20 devices match",
        21: "channel B could not be opened",
    },
    "OpenDevice4": {
        0: "opened as two UARTs, channel B current",
        1: "closing the still-open connection failed",
        2: "FT_Rescan failed",
        3: "no device found, or the device list could not be created",
        4: "the device list could not be fetched",
        5: "no device matches the description and serial parts",
        6: "not exactly two channels match (two cables, or one channel visible)",
        9: "channel A could not be opened",
        10: "resetting channel A failed",
        11: "the queue-status poll of channel A failed",
        12: "setting the latency timer of channel A failed",
        13: "resetting the bit mode of channel A failed",
        14: "setting the baud rate of channel A failed",
        15: "setting the data characteristics of channel A failed",
        16: "setting the flow control of channel A failed",
        17: "channel B could not be opened",
        18: "resetting channel B failed",
        19: "more than 20 devices match, or the queue-status poll of channel B failed",
        20: "setting the latency timer of channel B failed",
        21: "resetting the bit mode of channel B failed",
        22: "setting the baud rate of channel B failed",
        23: "setting the data characteristics of channel B failed",
        24: "setting the flow control of channel B failed",
    },
    "UnLoadD2XXDLL": {
        0: "nothing was released: the vendor library was not loaded, or releasing it failed",
        1: "the vendor library was released",
    },
    "ChkDLLVer": {
        0: "the vendor library's version could not be read",
        1: "the vendor library's version is the minimum or above",
        2: "the vendor library's version is below the minimum",
    },
    "OpenDevice2": {
        0: "opened as two UARTs, channel B current (shared by OpenDevice3)",
        1: "closing the still-open connection failed",
        2: "FT_Rescan failed",
        3: "no device found, or the device list could not be created",
        4: "the device list could not be fetched",
        5: "no device matches, or channel A could not be opened",
        6: "not exactly two channels match, or resetting a channel failed",
        7: "the queue-status poll of a channel failed",
        8: "channel B could not be opened, or setting a latency timer failed",
        9: "resetting the bit mode of a channel failed",
        17: "setting the baud rate of a channel failed",
        18: "setting the data characteristics of a channel failed",
        19: "setting the flow control of a channel failed",
    },
    "JTAG_WriteTDI": {
        0: "done (shared by the JTAG, SPI and pin exports, ResetDevice2 and Reload_Driver)",
        4: "a transfer or vendor call failed (JTAG_WriteTMS, JTAG_WriteTMS2: or a count above 5)",
        5: "the bit or byte count is 0",
    },
    "Wait_GPIOH1_Low": {
        0: "GPIOH1 is low",
        4: "the command or the queue poll failed",
        8: "GPIOH1 is not low, or no single reply byte came",
    },
    "FTDI_SetClk": {
        0: "the clock divisor was set",
        17: "the clock divisor is above 0xFFFF, or sending the clock command failed",
    },
    "Read_UART": {
        0: "done (shared by Write_UART, Set_Dtr and Clr_Dtr)",
        1: "the read, write or DTR change failed, or the read gave nothing",
    },
    "Read_FILE_UART": {
        0: "the bytes were written to the file (shared by Read_FILE_UART_2)",
        1: "the read failed",
        2: "the file cannot be opened for writing",
        6: "nothing arrived in time (with bytes waiting: their count instead)",
        8: "the receive buffer could not be allocated",
    },
    "Write_FILE_UART": {
        0: "the bytes were sent (shared by Write_FILE_UART_2)",
        1: "the write failed",
        7: "the file cannot be opened",
        8: "the send buffer could not be allocated",
    },
    "directoryB": {
        0: "the log directory was recorded (always)",
    },
    "ProgramDevice": {
        0: "done (shared by Erase_ProgedEEPROM, which gives 0 to 6, 8 and 19)",
        1: "closing the still-open connection failed",
        2: "FT_Rescan failed",
        3: "no device found, or the device list could not be created",
        4: "the device list could not be fetched",
        5: "no device after the wait",
        6: "the device count is not 2, or resetting channel A failed",
        7: "the queue-status poll failed",
        8: "opening channel A or B failed, or setting the latency timer failed",
        9: "resetting the bit mode failed",
        10: "switching to MPSSE mode failed",
        11: "the MPSSE engine did not synchronise",
        12: "bytes were waiting after the bring-up, or the queue poll failed",
        13: "sending the initial pin command failed",
        14: "sending the clock divisor command failed",
        19: "more than 20 devices are connected",
    },
}

CLASSES: Dict[str, Dict[int, str]] = {
    "LoadD2XXDLL": {
        0: "ok",
        1: "no-library",
        2: "no-library",
        3: "no-library",
        4: "no-library",
        5: "no-library",
        6: "no-library",
        7: "no-library",
        8: "no-library",
        9: "no-library",
        10: "no-library",
        11: "no-library",
        12: "no-library",
        13: "no-library",
        14: "no-library",
        15: "no-library",
        16: "no-library",
        17: "no-library",
        18: "no-library",
        19: "no-library",
        20: "no-library",
        21: "no-library",
        22: "no-library",
        23: "no-library",
        24: "no-library",
        25: "no-library",
        26: "no-library",
        27: "no-library",
        28: "no-library",
        29: "no-library",
        30: "no-library",
        31: "no-library",
        32: "no-library",
        33: "no-library",
        34: "no-library",
        35: "no-library",
        36: "no-library",
        37: "no-library",
        38: "no-library",
        39: "no-library",
    },
    "OpenDevice": {
        0: "ok",
        1: "device",
        2: "device",
        3: "no-cable",
        4: "device",
        5: "no-cable",
        6: "no-cable",
        9: "device",
        10: "device",
        11: "device",
        12: "device",
        13: "device",
        14: "device",
        15: "device",
        16: "device",
        17: "device",
        18: "device",
        19: "no-cable",
        21: "device",
    },
    "OpenDevice4": {
        0: "ok",
        1: "device",
        2: "device",
        3: "no-cable",
        4: "device",
        5: "no-cable",
        6: "no-cable",
        9: "device",
        10: "device",
        11: "device",
        12: "device",
        13: "device",
        14: "device",
        15: "device",
        16: "device",
        17: "device",
        18: "device",
        19: "device",
        20: "device",
        21: "device",
        22: "device",
        23: "device",
        24: "device",
    },
    "UnLoadD2XXDLL": {
        0: "ok",
        1: "ok",
    },
    "ChkDLLVer": {
        0: "device",
        1: "ok",
        2: "no-library",
    },
    "OpenDevice2": {
        0: "ok",
        1: "device",
        2: "device",
        3: "no-cable",
        4: "device",
        5: "no-cable",
        6: "no-cable",
        7: "device",
        8: "device",
        9: "device",
        17: "device",
        18: "device",
        19: "device",
    },
    "JTAG_WriteTDI": {
        0: "ok",
        4: "device",
        5: "bad-argument",
    },
    "Wait_GPIOH1_Low": {
        0: "ok",
        4: "device",
        8: "not-yet",
    },
    "FTDI_SetClk": {
        0: "ok",
        17: "device",
    },
    "Read_UART": {
        0: "ok",
        1: "device",
    },
    "Read_FILE_UART": {
        0: "ok",
        1: "device",
        2: "host",
        6: "not-yet",
        8: "host",
    },
    "Write_FILE_UART": {
        0: "ok",
        1: "device",
        7: "host",
        8: "host",
    },
    "directoryB": {
        0: "ok",
    },
    "ProgramDevice": {
        0: "ok",
        1: "device",
        2: "device",
        3: "no-cable",
        4: "device",
        5: "no-cable",
        6: "no-cable",
        7: "device",
        8: "device",
        9: "device",
        10: "device",
        11: "device",
        12: "device",
        13: "device",
        14: "device",
        19: "no-cable",
    },
}
