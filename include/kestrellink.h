/* KestrelLink: host library for the ZV7300LNK programming cable.
 *
 * Every function works on the library's single, process-global connection and is called from one
 * thread at a time. Call LoadD2XXDLL first; it loads the vendor's D2XX library (ftd2xx.dll on
 * Windows, libftd2xx.so on Linux, or the virtual cable built beside this library).
 *
 * Result codes are particular to each function; 0 means success for all that return int.
 */
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
 * that queues many of them sends the queue before it reaches the buffer's end. */
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
