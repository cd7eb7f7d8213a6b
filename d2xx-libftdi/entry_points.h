// The 38 entry points this library exports, one line each in the order hosts resolve them. The
// list declares them here and gives CMake the names for the linker's version script, so the two
// never disagree.
#pragma once

#include "ft_types.h"

#define FTL_API extern "C" __attribute__((visibility("default")))

// clang-format off
#define FTL_ENTRY_POINTS(X)                                                                  \
    X(FT_ListDevices, (void* arg1, void* arg2, uint32_t flags))                              \
    X(FT_Open, (int deviceNumber, ftl::FtHandle* handle))                                    \
    X(FT_OpenEx, (void* arg, uint32_t flags, ftl::FtHandle* handle))                         \
    X(FT_Close, (ftl::FtHandle handle))                                                      \
    X(FT_Read, (ftl::FtHandle handle, void* buffer, uint32_t count, uint32_t* got))          \
    X(FT_Write, (ftl::FtHandle handle, const void* buffer, uint32_t count, uint32_t* written)) \
    X(FT_ResetDevice, (ftl::FtHandle handle))                                                \
    X(FT_ResetPort, (ftl::FtHandle handle))                                                  \
    X(FT_CyclePort, (ftl::FtHandle handle))                                                  \
    X(FT_SetBaudRate, (ftl::FtHandle handle, uint32_t baud))                                 \
    X(FT_SetChars, (ftl::FtHandle handle, uint8_t evt, uint8_t evtOn, uint8_t err,           \
                    uint8_t errOn))                                                          \
    X(FT_Purge, (ftl::FtHandle handle, uint32_t mask))                                       \
    X(FT_SetTimeouts, (ftl::FtHandle handle, uint32_t readMs, uint32_t writeMs))             \
    X(FT_GetQueueStatus, (ftl::FtHandle handle, uint32_t* rxBytes))                          \
    X(FT_SetBreakOn, (ftl::FtHandle handle))                                                 \
    X(FT_SetBreakOff, (ftl::FtHandle handle))                                                \
    X(FT_GetStatus, (ftl::FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events))    \
    X(FT_SetEventNotification, (ftl::FtHandle handle, uint32_t mask, void* param))           \
    X(FT_GetBitMode, (ftl::FtHandle handle, uint8_t* pins))                                  \
    X(FT_SetBitMode, (ftl::FtHandle handle, uint8_t mask, uint8_t mode))                     \
    X(FT_SetLatencyTimer, (ftl::FtHandle handle, uint8_t ms))                                \
    X(FT_GetLatencyTimer, (ftl::FtHandle handle, uint8_t* ms))                               \
    X(FT_EraseEE, (ftl::FtHandle handle))                                                    \
    X(FT_EE_Program, (ftl::FtHandle handle, ftl::FtProgramData* data))                       \
    X(FT_EE_Read, (ftl::FtHandle handle, ftl::FtProgramData* data))                          \
    X(FT_EE_UASize, (ftl::FtHandle handle, uint32_t* size))                                  \
    X(FT_EE_UARead, (ftl::FtHandle handle, uint8_t* data, uint32_t length, uint32_t* got))   \
    X(FT_EE_UAWrite, (ftl::FtHandle handle, uint8_t* data, uint32_t length))                 \
    X(FT_Rescan, ())                                                                         \
    X(FT_GetDeviceInfo, (ftl::FtHandle handle, uint32_t* type, uint32_t* id, char* serial,   \
                         char* description, void* reserved))                                 \
    X(FT_SetDataCharacteristics, (ftl::FtHandle handle, uint8_t bits, uint8_t stop,          \
                                  uint8_t parity))                                           \
    X(FT_SetFlowControl, (ftl::FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff))   \
    X(FT_SetDtr, (ftl::FtHandle handle))                                                     \
    X(FT_ClrDtr, (ftl::FtHandle handle))                                                     \
    X(FT_GetLibraryVersion, (uint32_t* version))                                             \
    X(FT_CreateDeviceInfoList, (uint32_t* count))                                            \
    X(FT_GetDeviceInfoList, (ftl::FtDeviceListInfoNode* nodes, uint32_t* count))             \
    X(FT_Reload, (uint16_t vendorId, uint16_t productId))
// clang-format on

#define FTL_DECLARE(name, params) FTL_API ftl::FtStatus name params;
FTL_ENTRY_POINTS(FTL_DECLARE)
#undef FTL_DECLARE
