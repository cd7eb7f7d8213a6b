// Declarations of the 38 exported vendor entry points as this simulator defines them. Hosts use
// their own declarations; this header serves the simulator's own unit tests.
#pragma once

#include <cstdint>

#include "vc_export.h"

extern "C" {

VC_API uint32_t FT_ListDevices(void* arg1, void* arg2, uint32_t flags);
VC_API uint32_t FT_Open(int device_number, void** handle);
VC_API uint32_t FT_OpenEx(void* arg, uint32_t flags, void** handle);
VC_API uint32_t FT_Close(void* handle);
VC_API uint32_t FT_Read(void* handle, void* buffer, uint32_t count, uint32_t* bytes_read);
VC_API uint32_t FT_Write(void* handle, void* buffer, uint32_t count, uint32_t* bytes_written);
VC_API uint32_t FT_ResetDevice(void* handle);
VC_API uint32_t FT_ResetPort(void* handle);
VC_API uint32_t FT_CyclePort(void* handle);
VC_API uint32_t FT_SetBaudRate(void* handle, uint32_t baud);
VC_API uint32_t FT_SetChars(void* handle, uint8_t event_char, uint8_t event_enable,
                            uint8_t error_char, uint8_t error_enable);
VC_API uint32_t FT_Purge(void* handle, uint32_t mask);
VC_API uint32_t FT_SetTimeouts(void* handle, uint32_t read_ms, uint32_t write_ms);
VC_API uint32_t FT_GetQueueStatus(void* handle, uint32_t* rx_bytes);
VC_API uint32_t FT_SetBreakOn(void* handle);
VC_API uint32_t FT_SetBreakOff(void* handle);
VC_API uint32_t FT_GetStatus(void* handle, uint32_t* rx_bytes, uint32_t* tx_bytes,
                             uint32_t* event_status);
VC_API uint32_t FT_SetEventNotification(void* handle, uint32_t mask, void* param);
VC_API uint32_t FT_GetBitMode(void* handle, uint8_t* mode);
VC_API uint32_t FT_SetBitMode(void* handle, uint8_t mask, uint8_t mode);
VC_API uint32_t FT_SetLatencyTimer(void* handle, uint8_t latency_ms);
VC_API uint32_t FT_GetLatencyTimer(void* handle, uint8_t* latency_ms);
VC_API uint32_t FT_EraseEE(void* handle);
VC_API uint32_t FT_EE_Program(void* handle, void* program_data);
VC_API uint32_t FT_EE_Read(void* handle, void* program_data);
VC_API uint32_t FT_EE_UASize(void* handle, uint32_t* size);
VC_API uint32_t FT_EE_UARead(void* handle, uint8_t* data, uint32_t length, uint32_t* bytes_read);
VC_API uint32_t FT_EE_UAWrite(void* handle, uint8_t* data, uint32_t length);
VC_API uint32_t FT_Rescan(void);
VC_API uint32_t FT_GetDeviceInfo(void* handle, uint32_t* type, uint32_t* id, char* serial_number,
                                 char* description, void* reserved);
VC_API uint32_t FT_SetDataCharacteristics(void* handle, uint8_t word_length, uint8_t stop_bits,
                                          uint8_t parity);
VC_API uint32_t FT_SetFlowControl(void* handle, uint16_t flow, uint8_t xon, uint8_t xoff);
VC_API uint32_t FT_SetDtr(void* handle);
VC_API uint32_t FT_ClrDtr(void* handle);
VC_API uint32_t FT_GetLibraryVersion(uint32_t* version);
VC_API uint32_t FT_CreateDeviceInfoList(uint32_t* count);
VC_API uint32_t FT_GetDeviceInfoList(void* nodes, uint32_t* count);
VC_API uint32_t FT_Reload(uint16_t vendor_id, uint16_t product_id);

}  // extern "C"
