/* Control API of the virtual cable's UART peers: what hangs off a channel's serial pins, and what
 * it saw. Devices and channels are numbered as in vcable.h (channel 0 = A, 1 = B). A peer acts on
 * the bytes the host writes while the channel is in UART mode (bit mode 0), and on the channel's
 * receive-queue polls. Selecting a peer replaces the channel's previous one and its record. */
#ifndef VCABLE_UART_H
#define VCABLE_UART_H

#include <stddef.h>
#include <stdint.h>

#include "vc_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* When a scripted peer sends its bytes. */
enum {
    VC_UART_ON_DTR_RISE = 0, /* at the first poll after each rising edge of DTR */
    VC_UART_AFTER_POLLS = 1  /* once, at the n-th poll after the peer was selected */
};

/* Each returns 0, or -1 for an unknown device or channel (or a bad argument). */

/* Every byte straight back into the receive queue. */
VC_API int vc_uart_peer_loopback(int device, int channel);
/* Every byte back after delay_polls receive-queue polls (0: at once). */
VC_API int vc_uart_peer_echo(int device, int channel, uint32_t delay_polls);
/* Sends the given bytes when triggered (trigger VC_UART_ON_DTR_RISE, or VC_UART_AFTER_POLLS
 * with polls); ignores what the host sends apart from recording it. */
VC_API int vc_uart_peer_script(int device, int channel, const uint8_t* data, uint32_t length,
                               int trigger, uint32_t polls);
/* As vc_uart_peer_script with a file's contents, read when the peer is selected (-1 when the
 * file cannot be read). */
VC_API int vc_uart_peer_script_file(int device, int channel, const char* path, int trigger,
                                    uint32_t polls);
/* Records and never answers. */
VC_API int vc_uart_peer_sink(int device, int channel);
/* Nothing attached: the host's bytes go nowhere. */
VC_API int vc_uart_peer_none(int device, int channel);

/* The channel's peer (one of the above) from now on understands only bytes sent while the channel
 * runs this line (baud rate and the vendor's encoding of word length, stop bits and parity);
 * bytes sent otherwise arrive garbled: counted, neither recorded nor answered. */
VC_API int vc_uart_peer_line(int device, int channel, uint32_t baud_rate, uint8_t word_length,
                             uint8_t stop_bits, uint8_t parity);
/* Bytes that reached the peer garbled. */
VC_API uint64_t vc_uart_garbled_count(int device, int channel);

/* ---- What the peer saw (0 when the channel has no peer of this API) ------------------------ */

/* Bytes the peer received since it was selected (recording stops at 16 MiB, the count goes on). */
VC_API uint64_t vc_uart_received_count(int device, int channel);
/* Copies recorded bytes from offset into out; returns the number copied. */
VC_API uint32_t vc_uart_received_read(int device, int channel, uint32_t offset, uint8_t* out,
                                      uint32_t capacity);
/* DTR levels the host drove, oldest first (1 set, 0 cleared; one entry per FT_SetDtr or FT_ClrDtr
 * call). Copies up to capacity of them into out and returns how many there are in all. */
VC_API uint32_t vc_uart_dtr_history(int device, int channel, uint8_t* out, uint32_t capacity);
/* Receive-queue polls the peer has seen. */
VC_API uint64_t vc_uart_polls(int device, int channel);

#ifdef __cplusplus
}
#endif

#endif /* VCABLE_UART_H */
