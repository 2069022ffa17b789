// Functions and state shared by the units of the driver, not exported.
#pragma once
#include <cstddef>
#include <cstdint>

#include "hidlink.h"
#include "transceive.h"

constexpr uint16_t HL_VENDOR_ID = 0x163C;
constexpr uint16_t HL_PRODUCT_ID = 0x0A2B;
constexpr int HL_INTERFACE = 1;

constexpr int HL_LIMIT_DEFAULT = 15000;  // ms
constexpr int HL_LIMIT_SHORT = 1000;

// Node addresses the driver itself names. A caller may select any byte
// (HV_set_nad), so a Nad holds values outside these too.
enum class Nad : uint8_t {
  System = NAD_SYSTEM,
  IcCard = NAD_ICCARD,
  Rfid = NAD_RFID,
  Psam4 = NAD_PSAM4,
  MCard = NAD_MCARD,
  IdCard = NAD_IDCARD,
  Barcode = NAD_BARCODE,
};

// The node address of the following exchanges, for every handle: process
// state the interface demands (HV_set_nad ignores its handle). Set at load,
// changed only by HV_set_nad and restored by the one-exchange helpers.
extern uint8_t g_NAD;

// Node address 1 is an alias of the magnetic-stripe head.
constexpr uint8_t hl_nad_alias(uint8_t nad) { return nad == 1 ? uint8_t(Nad::MCard) : nad; }

void hidlink_init();
void hidlink_fini();
void hidlink_elog_init();

// One command and its response on the current node address. The reply data
// go to out_data, which holds out_cap bytes: a longer reply gives 0x6FF1
// with out_data untouched.
uint32_t hl_exchange(void *handle, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len,
                     uint8_t *out_data, size_t out_cap, int timeout);
// The same with nad for this exchange only.
uint32_t hl_exchange_with_nad(void *handle, Nad nad, uint32_t in_len, const uint8_t *in_data,
                              uint32_t *out_len, uint8_t *out_data, size_t out_cap, int timeout);
// Both with a reply buffer of HV_MAX_REPLY_DATA bytes.
uint32_t apdu_exchange(void *handle, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len,
                       uint8_t *out_data, int timeout);
uint32_t apdu_exchange_with_nad(void *handle, Nad nad, uint32_t in_len, const uint8_t *in_data,
                                uint32_t *out_len, uint8_t *out_data, int timeout);

// Limit of a wait of `seconds` on the device side: seconds * 1000 + 500 ms.
int hl_wait_limit(uint32_t seconds);

// Limit of one exchange of cmd on nad. The commands that make the reader
// itself wait up to T seconds (keypad 00 F9 08 T, stripe trigger 00 19 20 T,
// QR scan B0 B0 00 T / 00 B0 00 T) would otherwise be cut off by the 15 s
// default while the reader is still waiting: they get T * 1000 + 500 ms when
// that is longer. Every other command keeps the default.
int hl_command_limit(uint8_t nad, uint32_t len, const uint8_t *cmd);

const char *get_error_message(uint32_t sw);

// ID card.
void idcard_cal_checksum(uint8_t *cmd, size_t cmd_len);
// Builds the JSON text from the read-reply data (len bytes); resp holds
// resp_cap bytes. 0, or -1 when the text does not fit or memory ran out.
int Idcard_decode(uint32_t len, const uint8_t *data, uint32_t *lenr, uint8_t *resp, size_t resp_cap);
// UCS-2LE to UTF-8; the result of iconv, or -1 (message on stdout).
int wstring2string(const char *a_szSrc, size_t a_nSrcSize, char *a_szDest, size_t a_nDestSize);
// Standard padded base64 of len bytes, NUL-terminated, malloc'ed (the
// caller frees it with free); NULL when memory ran out.
char *base64_encode(const uint8_t *bytes, size_t len);
