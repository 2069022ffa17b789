/* Functions and state shared by the units of the driver, not exported. */
#ifndef HIDLINK_INTERNAL_H
#define HIDLINK_INTERNAL_H

#include "hidlink.h"
#include "transceive.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HL_VENDOR_ID 0x163C
#define HL_PRODUCT_ID 0x0A2B
#define HL_INTERFACE 1

#define HL_LIMIT_DEFAULT 15000 /* ms */
#define HL_LIMIT_SHORT 1000

extern HL_HIDDEN uint8_t g_NAD;

/* Node address 1 is an alias of the magnetic-stripe head. */
static inline uint8_t hl_nad_alias(uint8_t nad) { return nad == 1 ? (uint8_t)NAD_MCARD : nad; }

HL_HIDDEN void hidlink_init(void);
HL_HIDDEN void hidlink_fini(void);
HL_HIDDEN void hidlink_elog_init(void);

/* One command and its response on the current node address. The reply data
 * go to out_data, which holds out_cap bytes: a longer reply gives 0x6FF1
 * with out_data untouched. */
HL_HIDDEN uint32_t hl_exchange(void *handle, uint32_t in_len, const uint8_t *in_data,
                               uint32_t *out_len, uint8_t *out_data, size_t out_cap, int timeout);
/* The same with nad for this exchange only. */
HL_HIDDEN uint32_t hl_exchange_with_nad(void *handle, uint8_t nad, uint32_t in_len,
                                        const uint8_t *in_data, uint32_t *out_len,
                                        uint8_t *out_data, size_t out_cap, int timeout);
HL_HIDDEN uint32_t apdu_exchange(void *handle, uint32_t in_len, const uint8_t *in_data,
                                 uint32_t *out_len, uint8_t *out_data, int timeout);
HL_HIDDEN uint32_t apdu_exchange_with_nad(void *handle, uint8_t nad, uint32_t in_len,
                                          const uint8_t *in_data, uint32_t *out_len,
                                          uint8_t *out_data, int timeout);

/* Limit of a wait of `seconds` on the device side: seconds * 1000 + 500 ms. */
HL_HIDDEN int hl_wait_limit(uint32_t seconds);

/* Limit of one exchange of cmd on nad. The commands that make the reader
 * itself wait up to T seconds (keypad 00 F9 08 T, stripe trigger 00 19 20 T,
 * QR scan B0 B0 00 T / 00 B0 00 T) would otherwise be cut off by the 15 s
 * default while the reader is still waiting: they get T * 1000 + 500 ms when
 * that is longer. Every other command keeps the default. */
HL_HIDDEN int hl_command_limit(uint8_t nad, uint32_t len, const uint8_t *cmd);

HL_HIDDEN const char *get_error_message(uint32_t sw);

/* ID card. */
HL_HIDDEN void idcard_cal_checksum(uint8_t *cmd, size_t cmd_len);
/* Builds the JSON text from the read-reply data (len bytes); resp holds
 * resp_cap bytes. 0, or -1 when the text does not fit or memory ran out. */
HL_HIDDEN int Idcard_decode(uint32_t len, const uint8_t *data, uint32_t *lenr, uint8_t *resp,
                            size_t resp_cap);
/* UCS-2LE to UTF-8; the result of iconv, or -1 (message on stdout). */
HL_HIDDEN int wstring2string(const char *a_szSrc, size_t a_nSrcSize, char *a_szDest,
                             size_t a_nDestSize);
/* Standard padded base64 of len bytes, NUL-terminated, malloc'ed (caller
 * frees); NULL when memory ran out. */
HL_HIDDEN char *base64_encode(const uint8_t *bytes, size_t len);

#ifdef __cplusplus
}
#endif

#endif
