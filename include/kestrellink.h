/* KestrelLink: host library for the ZV7300LNK programming cable.
 *
 * Every function works on the library's single, process-global connection and is called from one
 * thread at a time. Call LoadD2XXDLL first; it loads the vendor's D2XX library (ftd2xx.dll on
 * Windows, libftd2xx.so on Linux, or the virtual cable built beside this library).
 *
 * Result codes are particular to each function; 0 means success for all that return int.
 */

/* Result codes, generated from src/shell/result_codes.tsv (cmake/result_codes.cmake):
 *
 * LoadD2XXDLL:
 *   0  the vendor library and all 38 entry points were loaded
 *   1  the vendor library could not be loaded
 *   2  the vendor library lacks the entry point FT_ListDevices
 *   3  the vendor library lacks the entry point FT_Open
 *   4  the vendor library lacks the entry point FT_OpenEx
 *   5  the vendor library lacks the entry point FT_Close
 *   6  the vendor library lacks the entry point FT_Read
 *   7  the vendor library lacks the entry point FT_Write
 *   8  the vendor library lacks the entry point FT_ResetDevice
 *   9  the vendor library lacks the entry point FT_ResetPort
 *  10  the vendor library lacks the entry point FT_CyclePort
 *  11  the vendor library lacks the entry point FT_SetBaudRate
 *  12  the vendor library lacks the entry point FT_SetChars
 *  13  the vendor library lacks the entry point FT_Purge
 *  14  the vendor library lacks the entry point FT_SetTimeouts
 *  15  the vendor library lacks the entry point FT_GetQueueStatus
 *  16  the vendor library lacks the entry point FT_SetBreakOn
 *  17  the vendor library lacks the entry point FT_SetBreakOff
 *  18  the vendor library lacks the entry point FT_GetStatus
 *  19  the vendor library lacks the entry point FT_SetEventNotification
 *  20  the vendor library lacks the entry point FT_GetBitMode
 *  21  the vendor library lacks the entry point FT_SetBitMode
 *  22  the vendor library lacks the entry point FT_SetLatencyTimer
 *  23  the vendor library lacks the entry point FT_GetLatencyTimer
 *  24  the vendor library lacks the entry point FT_EraseEE
 *  25  the vendor library lacks the entry point FT_EE_Program
 *  26  the vendor library lacks the entry point FT_EE_Read
 *  27  the vendor library lacks the entry point FT_EE_UASize
 *  28  the vendor library lacks the entry point FT_EE_UARead
 *  29  the vendor library lacks the entry point FT_EE_UAWrite
 *  30  the vendor library lacks the entry point FT_Rescan
 *  31  the vendor library lacks the entry point FT_GetDeviceInfo
 *  32  the vendor library lacks the entry point FT_SetDataCharacteristics
 *  33  the vendor library lacks the entry point FT_SetFlowControl
 *  34  the vendor library lacks the entry point FT_SetDtr
 *  35  the vendor library lacks the entry point FT_ClrDtr
 *  36  the vendor library lacks the entry point FT_GetLibraryVersion
 *  37  the vendor library lacks the entry point FT_CreateDeviceInfoList
 *  38  the vendor library lacks the entry point FT_GetDeviceInfoList
 *  39  the vendor library lacks the entry point FT_Reload
 *
 * OpenDevice:
 *   0  opened, channel A current (shared by the MPSSE open variants and CheckDeviceTalkable)
 *   1  closing the still-open connection failed
 *   2  FT_Rescan failed
 *   3  no device found, or the device list could not be created
 *   4  the device list could not be fetched
 *   5  no device matches the description and serial parts
 *   6  not exactly two channels match (two cables, or one channel visible)
 *   9  channel A could not be opened
 *  10  resetting channel A failed
 *  11  the queue-status poll of channel A failed
 *  12  setting channel A's latency timer failed
 *  13  resetting channel A's bit mode failed
 *  14  switching channel A to MPSSE mode failed
 *  15  the MPSSE engine did not answer (no 0xAA echo)
 *  16  sending the initial pin command failed
 *  17  the clock divisor is above 0xFFFF, or sending the clock command failed
 *  18  bytes were waiting after the clock command, or the queue poll failed
 *  19  more than 20 devices match
 *  21  channel B could not be opened
 *
 * OpenDevice4:
 *   0  opened as two UARTs, channel B current
 *   1  closing the still-open connection failed
 *   2  FT_Rescan failed
 *   3  no device found, or the device list could not be created
 *   4  the device list could not be fetched
 *   5  no device matches the description and serial parts
 *   6  not exactly two channels match (two cables, or one channel visible)
 *   9  channel A could not be opened
 *  10  resetting channel A failed
 *  11  the queue-status poll of channel A failed
 *  12  setting the latency timer of channel A failed
 *  13  resetting the bit mode of channel A failed
 *  14  setting the baud rate of channel A failed
 *  15  setting the data characteristics of channel A failed
 *  16  setting the flow control of channel A failed
 *  17  channel B could not be opened
 *  18  resetting channel B failed
 *  19  more than 20 devices match, or the queue-status poll of channel B failed
 *  20  setting the latency timer of channel B failed
 *  21  resetting the bit mode of channel B failed
 *  22  setting the baud rate of channel B failed
 *  23  setting the data characteristics of channel B failed
 *  24  setting the flow control of channel B failed
 *
 * UnLoadD2XXDLL:
 *   0  nothing was released: the vendor library was not loaded, or releasing it failed
 *   1  the vendor library was released
 *
 * ChkDLLVer:
 *   0  the vendor library's version could not be read
 *   1  the vendor library's version is the minimum or above
 *   2  the vendor library's version is below the minimum
 *
 * OpenDevice2:
 *   0  opened as two UARTs, channel B current (shared by OpenDevice3)
 *   1  closing the still-open connection failed
 *   2  FT_Rescan failed
 *   3  no device found, or the device list could not be created
 *   4  the device list could not be fetched
 *   5  no device matches, or channel A could not be opened
 *   6  not exactly two channels match, or resetting a channel failed
 *   7  the queue-status poll of a channel failed
 *   8  channel B could not be opened, or setting a latency timer failed
 *   9  resetting the bit mode of a channel failed
 *  17  setting the baud rate of a channel failed
 *  18  setting the data characteristics of a channel failed
 *  19  setting the flow control of a channel failed
 *
 * JTAG_WriteTDI:
 *   0  done (shared by the JTAG, SPI and pin exports, ResetDevice2 and Reload_Driver)
 *   4  a transfer or vendor call failed (JTAG_WriteTMS, JTAG_WriteTMS2: or a count above 5)
 *   5  the bit or byte count is 0
 *
 * Wait_GPIOH1_Low:
 *   0  GPIOH1 is low
 *   4  the command or the queue poll failed
 *   8  GPIOH1 is not low, or no single reply byte came
 *
 * FTDI_SetClk:
 *   0  the clock divisor was set
 *  17  the clock divisor is above 0xFFFF, or sending the clock command failed
 *
 * Read_UART:
 *   0  done (shared by Write_UART, Set_Dtr and Clr_Dtr)
 *   1  the read, write or DTR change failed, or the read gave nothing
 *
 * Read_FILE_UART:
 *   0  the bytes were written to the file (shared by Read_FILE_UART_2)
 *   1  the read failed
 *   2  the file cannot be opened for writing
 *   6  nothing arrived in time (with bytes waiting: their count instead)
 *   8  the receive buffer could not be allocated
 *
 * Write_FILE_UART:
 *   0  the bytes were sent (shared by Write_FILE_UART_2)
 *   1  the write failed
 *   7  the file cannot be opened
 *   8  the send buffer could not be allocated
 *
 * directoryB:
 *   0  the log directory was recorded (always)
 *
 * ProgramDevice:
 *   0  done (shared by Erase_ProgedEEPROM, which gives 0 to 6, 8 and 19)
 *   1  closing the still-open connection failed
 *   2  FT_Rescan failed
 *   3  no device found, or the device list could not be created
 *   4  the device list could not be fetched
 *   5  no device after the wait
 *   6  the device count is not 2, or resetting channel A failed
 *   7  the queue-status poll failed
 *   8  opening channel A or B failed, or setting the latency timer failed
 *   9  resetting the bit mode failed
 *  10  switching to MPSSE mode failed
 *  11  the MPSSE engine did not synchronise
 *  12  bytes were waiting after the bring-up, or the queue poll failed
 *  13  sending the initial pin command failed
 *  14  sending the clock divisor command failed
 *  19  more than 20 devices are connected
 *
 * End of the result codes. */
#ifndef KESTRELLINK_H
#define KESTRELLINK_H

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#endif

#ifdef _WIN32
#include <wchar.h>
typedef wchar_t kl_wchar;       /* UTF-16 code unit */
typedef unsigned long kl_ulong; /* 32 bits on Windows */
typedef wchar_t* kl_bstr;       /* OLE automation string; release with SysFreeString */
#define KL_API __declspec(dllimport)
#else
#ifdef __cplusplus
typedef char16_t kl_wchar;
#else
#include <uchar.h>
typedef char16_t kl_wchar;
#endif
typedef uint32_t kl_ulong;
typedef kl_wchar* kl_bstr; /* malloc'ed UTF-16 string; release with free() */
#define KL_API
#endif

#ifdef KESTRELLINK_BUILDING
#undef KL_API
#define KL_API
#endif

typedef uint8_t kl_u8;
typedef uint32_t kl_u32;

#ifdef __cplusplus
extern "C" {
#endif

/* D2XX binding */
KL_API int LoadD2XXDLL(void);
KL_API int UnLoadD2XXDLL(void);
KL_API int ChkDLLVer(kl_u32 minimumVersion);
KL_API int ResetDevice2(void);
KL_API int Reload_Driver(unsigned short vendorId, unsigned short productId);
KL_API void test_APA(void);

/* Channel selection and close */
KL_API void SelectChannelA(void);
KL_API void SelectChannelB(void);
KL_API void CloseDevice(void);
KL_API void CloseDevice2(void);
KL_API void CloseDevice3(void);

/* Opens */
KL_API int OpenDevice(const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 divisor);
KL_API int OpenDevice2(void);
KL_API int OpenDevice3(kl_u32 baudRate);
KL_API int OpenDevice4(const kl_wchar* descriptionPart, const kl_wchar* serialPart,
                       kl_u32 baudRate);
KL_API int OpenDevice5(const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 divisor);
KL_API int OpenDevice_EDP(const kl_wchar* descriptionPart, const kl_wchar* serialPart,
                          kl_u32 divisor);
KL_API int OpenDevice_EDP2(const kl_wchar* descriptionPart, const kl_wchar* serialPart,
                           kl_u32 divisor, kl_bstr* textOut);

/* JTAG */
/* The queued JTAG operations append to a buffer of KL_JTAG_QUEUE_BUFFER bytes, which
 * JTAG_Send2FTDI sends. One that appends whole data bytes first sends the queue when the queued
 * bytes and its own would pass KL_JTAG_QUEUE_THRESHOLD, so a write carries at most about that
 * many; JTAG_WriteTMS and JTAG_WriteTMS2 append their 3 bytes without that check, and a caller
 * that queues many of them sends the queue before it reaches the buffer's end.
 * Two of them append their bytes verbatim, and callers may build on that: JTAG_WriteTMS2 appends
 * its opcode, count and data byte as given, whatever the opcode; the queued JTAG_WriteTDI (tdo
 * null) appends a byte-shift command per 65536 whole bytes followed by those bytes unchanged, then
 * one command per tail bit. Nothing is inserted between appends but the sends described above. */
#define KL_JTAG_QUEUE_BUFFER 131072
#define KL_JTAG_QUEUE_THRESHOLD 60000
KL_API int JTAG_WriteTMS(kl_u8 count, const kl_u8* tms);
KL_API int JTAG_WriteTMS2(kl_u8 opcode, kl_u8 count, const kl_u8* data);
KL_API int JTAG_Clk(kl_u8 mode, int bitCount);
KL_API int JTAG_WriteTDI(kl_u8 mode, kl_u32 bitCount, const kl_u8* tdi, kl_u8* tdo,
                         kl_u32* bitsRead, kl_u32 lastWithTms);
KL_API int JTAG_WriteTDI2(kl_u8 mode, kl_u32 bitCount, const kl_u8* tdi, kl_u8* tdo,
                          kl_u32* bitsRead, kl_u32 lastWithTms);
KL_API int JTAG_ReadTDO2(kl_u8 mode, kl_u32 bitCount);
KL_API int JTAG_Send2FTDI(void);
KL_API int JTAG_RxFTDI(kl_u32 count, kl_u8* buffer, kl_u32* received);
KL_API int JTAG_ReadPort(kl_u8* value);
KL_API void ResetXilinx(kl_u32 assertMs, kl_u32 releaseMs);

/* SPI, GPIO and clock */
KL_API int SPI_ReadDI(kl_u8 opcode, kl_u32 count, kl_u8* buffer, kl_u32* received);
KL_API int SPI_WriteDO(kl_u8 opcode, kl_u32 count, const kl_u8* data);
KL_API int Disable_AllTalk(void);
KL_API int GPIOL_low(void);
KL_API int GPIO2_low(void);
KL_API int GPIO2_low2(void);
KL_API int GPIO3_low(void);
KL_API int GPIOH2_high(void);
KL_API int GPIOH2_low(void);
KL_API int Wait_GPIOH1_Low(void);
KL_API int FTDI_SetClk(kl_u32 divisor);

/* UART and DTR */
KL_API int Read_UART(void);
KL_API int Write_UART(void);
KL_API int Read_FILE_UART(const char* fileName, kl_u32 size);
KL_API int Write_FILE_UART(const char* fileName, kl_u32 size);
KL_API int Read_FILE_UART_2(const kl_wchar* fileName, kl_u32 size, kl_u32 deleteFirst,
                            double timeoutSeconds);
KL_API int Write_FILE_UART_2(const kl_wchar* fileName, kl_u32 size, double pacing);
KL_API int Set_Dtr(void);
KL_API int Clr_Dtr(void);

/* Provisioning */
KL_API int directoryB(const kl_wchar* directory);
KL_API int ProgramDevice(const kl_wchar* description, const kl_wchar* serial,
                         const kl_wchar* userText);
KL_API int Erase_ProgedEEPROM(void);

#ifdef __cplusplus
} /* extern "C" */

/* Six functions are exported under C++ decorated names only (Windows: MSVC decoration; Linux:
 * the Itanium ABI). A C host looks them up by the decorated name (src/shell/exports.tsv lists
 * them). GCC on Windows decorates differently, so there each declaration names its symbol:
 * the MSVC name the DLL exports (quoted for the assembler, and reached through the import
 * library's stub, as a dllimport reference cannot carry such a name), or inside the library the
 * symbol KlDecorated_<name> that the .def file exports under that name. */
#if defined(_WIN32) && defined(__GNUC__)
#undef KL_API
#define KL_API
#ifdef KESTRELLINK_BUILDING
#define KL_DECORATED_SYMBOL(name, msvcName) __asm__("KlDecorated_" #name)
#else
#define KL_DECORATED_SYMBOL(name, msvcName) __asm__("\"" msvcName "\"")
#endif
#else
#define KL_DECORATED_SYMBOL(name, msvcName)
#endif
KL_API int OpenDevice5_B7(kl_wchar* descriptionPart, kl_wchar* serialPart, kl_ulong divisor)
    KL_DECORATED_SYMBOL(OpenDevice5_B7, "?OpenDevice5_B7@@YAHPEA_W0K@Z");
KL_API int OpenDevice5_B8(kl_wchar* descriptionPart, kl_wchar* serialPart, kl_ulong divisor)
    KL_DECORATED_SYMBOL(OpenDevice5_B8, "?OpenDevice5_B8@@YAHPEA_W0K@Z");
KL_API int OpenDevice5_CopyE(kl_wchar* descriptionPart, kl_wchar* serialPart, kl_ulong divisor)
    KL_DECORATED_SYMBOL(OpenDevice5_CopyE, "?OpenDevice5_CopyE@@YAHPEA_W0K@Z");
KL_API int CheckDeviceTalkable(kl_wchar* unused1, kl_wchar* unused2, kl_ulong divisor)
    KL_DECORATED_SYMBOL(CheckDeviceTalkable, "?CheckDeviceTalkable@@YAHPEA_W0K@Z");
KL_API kl_ulong Reload_Driver_B7(unsigned short vendorId, unsigned short productId)
    KL_DECORATED_SYMBOL(Reload_Driver_B7, "?Reload_Driver_B7@@YAKGG@Z");
KL_API kl_ulong Reload_Driver_B8(unsigned short vendorId, unsigned short productId)
    KL_DECORATED_SYMBOL(Reload_Driver_B8, "?Reload_Driver_B8@@YAKGG@Z");
#endif

#endif /* KESTRELLINK_H */
