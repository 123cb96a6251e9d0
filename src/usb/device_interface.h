/*
 * The USB device's kernel-mode driver interface, as both sides see it: the
 * control codes of the seven device requests and the request block that
 * starts every vendor request.  Plain C with fixed-width fields, included by
 * the library (C++) and by the stand-in driver (kernel-mode C), so a 32-bit
 * client and a 64-bit driver agree by construction.
 */
#ifndef TARN_USB_DEVICE_INTERFACE_H
#define TARN_USB_DEVICE_INTERFACE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define TARN_STATIC_ASSERT(condition, text) static_assert(condition, text)
#else
#define TARN_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#endif

/* METHOD_BUFFERED, FILE_ANY_ACCESS codes of device type FILE_DEVICE_UNKNOWN (0x22). */
#define TARN_USB_CTL_CODE(function) ((uint32_t)(0x22u << 16) | ((uint32_t)(function) << 2))

#define TARN_USB_VENDOR_WRITE TARN_USB_CTL_CODE(0x800) /* 0x222000 in: block + data, out: none     */
#define TARN_USB_VENDOR_READ  TARN_USB_CTL_CODE(0x801) /* 0x222004 in: block, out: n bytes         */
#define TARN_USB_LOCK         TARN_USB_CTL_CODE(0x802) /* 0x222008 in: lock-type byte              */
#define TARN_USB_UNLOCK       TARN_USB_CTL_CODE(0x803) /* 0x22200C in: lock-type byte              */
#define TARN_USB_QUERY_LOCK   TARN_USB_CTL_CODE(0x804) /* 0x222010 in: lock-type byte, out: 1 byte */
#define TARN_USB_RESET_IN     TARN_USB_CTL_CODE(0x805) /* 0x222014                                 */
#define TARN_USB_RESET_OUT    TARN_USB_CTL_CODE(0x806) /* 0x222018                                 */

/* Starts every vendor request; the data of a vendor write follows it directly.
   Little-endian, as both architectures are. */
#pragma pack(push, 1)
typedef struct TarnUsbRequestBlock {
    uint16_t request; /* the request code, zero-extended */
    int16_t param1;
    int16_t param2;
} TarnUsbRequestBlock;
#pragma pack(pop)

#define TARN_USB_REQUEST_BLOCK_SIZE 6

TARN_STATIC_ASSERT(sizeof(TarnUsbRequestBlock) == TARN_USB_REQUEST_BLOCK_SIZE, "request block is 6 bytes");
TARN_STATIC_ASSERT(offsetof(TarnUsbRequestBlock, request) == 0, "request code at byte 0");
TARN_STATIC_ASSERT(offsetof(TarnUsbRequestBlock, param1) == 2, "parameter 1 at byte 2");
TARN_STATIC_ASSERT(offsetof(TarnUsbRequestBlock, param2) == 4, "parameter 2 at byte 4");
TARN_STATIC_ASSERT(TARN_USB_VENDOR_WRITE == 0x222000u && TARN_USB_RESET_OUT == 0x222018u,
                   "control codes of device type 0x22, functions 0x800 to 0x806");

#endif /* TARN_USB_DEVICE_INTERFACE_H */
