/*
 * hidlink.h - libhidlink, the driver of the USB-HID card reader
 * (vendor 0x163C, product 0x0A2B, HID interface 1, 64-byte reports).
 *
 * Conventions
 * - Every buffer is supplied and owned by the caller; nothing returned by
 *   this library has to be freed. Minimum sizes are given per function.
 * - A reader handle is the address of one slot of g_hid_devices;
 *   HV_INVALID_HANDLE (all bits set) and NULL are invalid. Handles that are
 *   not the address of slot 1..9 are treated as invalid as well.
 * - Functions returning uint32_t return a status word SW1*256+SW2:
 *   HV_SW_OK (0x9000) on success, the driver's own words below, or the word
 *   of the reader or card, passed through unchanged.
 * - Exchanges carry at most HV_MAX_RESPONSE bytes of response (status word
 *   included), so a reply-data buffer of HV_MAX_REPLY_DATA bytes always
 *   suffices; functions with a fixed-size output refuse longer replies with
 *   HV_SW_BAD_RESPONSE and leave the output untouched.
 * - Every exchange ends within its time limit even when the reader never
 *   answers; an expired wait gives HV_SW_IO_FAILED.
 * - Threads: the driver keeps no lock of its own. The node address, the
 *   reader table and the exchange state are process-wide: one exchange at a
 *   time per process. The log (elog_*) is thread- and process-safe.
 * - The log file is "/tmp/hidlink.log" (rotated at 1 MiB into .0 .. .4).
 *   The environment variable HIDLINK_LOG_FILE, read once when the library
 *   loads, names another file; it exists so test runs keep their logs apart.
 */
#ifndef HIDLINK_H
#define HIDLINK_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#define HIDLINK_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Reader table, node addresses, status words
 * ---------------------------------------------------------------------- */

#define HV_MAX_DEVICES 10           /* slots 1..9 hold readers; 0 unused */
#define HV_INVALID_HANDLE ((void *)-1)

#define HV_REPORT_SIZE 64           /* bytes of one HID report */
#define HV_REPORT_DATA 61           /* data bytes carried by one report */
#define HV_MAX_RESPONSE 4106        /* longest response, status word included */
#define HV_MAX_REPLY_DATA (HV_MAX_RESPONSE - 2)

#define HV_SW_OK 0x9000u
#define HV_SW_BAD_RESPONSE 0x6FF1u  /* short reply, or data with no output */
#define HV_SW_BAD_HANDLE 0x6FF2u
#define HV_SW_IO_FAILED 0xFFFFu     /* transmit/receive failed or time-out */
#define HV_SW_BAD_NAD 0x6201u       /* ICC_reset/ICC_power_off off 0x12-0x19 */
#define HV_SW_NO_IDCARD_MODULE 0x6200u

typedef struct __HVRD_DEVICE {
    bool is_exist;   /* seen in the last enumeration */
    bool is_open;    /* open attempted (dev may still be NULL) */
    char path[128];  /* hidapi device path, NUL-terminated */
    void *dev;       /* hidapi device handle, or NULL */
} __HVRD_DEVICE, *phvrd_device_t;

typedef enum __DEVICE_NAD {
    NAD_SYSTEM = 0,
    NAD_ICCARD = 18,
    NAD_ESAM = 19,
    NAD_TSAM = 20,
    NAD_RFID = 21,
    NAD_PSAM1 = 22,
    NAD_PSAM2 = 23,
    NAD_PSAM3 = 24,
    NAD_PSAM4 = 25,
    NAD_MCARD = 26,
    NAD_IDCARD = 27,
    NAD_BARCODE = 28,
    NAD_MAX = 29
} __DEVICE_NAD;

typedef struct __ICCARD_CMD {
    uint8_t CLA;
    uint8_t INS;
    uint8_t P1;
    uint8_t P2;
    uint8_t Lc;
} __ICCARD_CMD, *piccard_cmd_t;

typedef enum __DEBUG_LEVEL {
    HV_DEBUG_LVL_ASSERT = 0,
    HV_DEBUG_LVL_ERROR = 1,
    HV_DEBUG_LVL_WARN = 2,
    HV_DEBUG_LVL_INFO = 3,
    HV_DEBUG_LVL_DEBUG = 4,
    HV_DEBUG_LVL_VERBOSE = 5
} __DEBUG_LEVEL, debug_level_e;

/* The reader table; index 0 is never used. */
HIDLINK_API extern __HVRD_DEVICE g_hid_devices[HV_MAX_DEVICES];

/* "libhidlink.so v1.4.5 build (<date> <time>)". */
HIDLINK_API extern const char *LIB_INFO;

/* ------------------------------------------------------------------------
 * Session
 * ---------------------------------------------------------------------- */

/* name "hid"/"HID" (first present reader) or "hidN"/"HIDN", N 1..9; names
 * longer than 63 characters are refused. param1 and param2 are ignored.
 * Enumerates the readers first (frees slots of unplugged readers, registers
 * new ones). Returns the slot address, or HV_INVALID_HANDLE. Repeated opens
 * of one reader return the same handle; a slot whose open failed (dev NULL)
 * is opened again. */
HIDLINK_API void *HV_open(const char *name, uint32_t param1, const char *param2);

/* 0x9000, or 0x6FF2 for an invalid, absent or never-opened slot. The slot
 * stays registered. */
HIDLINK_API uint32_t HV_close(void *handle);

/* Does nothing. */
HIDLINK_API void HV_clear(void *handle);

/* resp: at least 128 bytes; receives the path and a NUL, *lenr its length.
 * 0x9000, 0x6FF2 (handle) or 0x6FF1 (null resp or lenr). */
HIDLINK_API uint32_t HV_get_hid_path(void *handle, uint32_t *lenr, uint8_t *resp);

/* resp: at least 256 bytes; receives the USB serial-number string of the
 * open reader in UTF-8 and a NUL (cut to 255 bytes), *lenr its length.
 * 0x9000, 0x6FF2 (handle, or reader not open), 0x6FF1 (null resp or lenr),
 * 0xFFFF (the reader did not give its serial number). */
HIDLINK_API uint32_t HV_get_hid_serial_number(void *handle, uint32_t *lenr, uint8_t *resp);

/* Node address for the following exchanges, on every handle (the handle is
 * ignored). 1 is stored as NAD_MCARD (0x1A). */
HIDLINK_API void HV_set_nad(void *handle, uint8_t nad);

/* Log filter level 0..5; higher values are ignored. */
HIDLINK_API void HV_set_debug_level(debug_level_e level);

/* Sends in_len bytes of in_data to the current node address and waits up to
 * 15 s for the response. The reply data (response minus the trailing status
 * word) go to out_data (at least HV_MAX_REPLY_DATA bytes, or as much as the
 * command can answer) and their count to *out_len. A reply with data and a
 * null out_data or out_len gives 0x6FF1; so does a reply shorter than the
 * status word. Null in_data or in_len 0 gives 0xFFFF with nothing sent. */
HIDLINK_API uint32_t ICC_apdu_exchange(void *handle, uint32_t in_len, const uint8_t *in_data,
                                       uint32_t *out_len, uint8_t *out_data);
/* Same as ICC_apdu_exchange. */
HIDLINK_API uint32_t HV_command_exchange(void *handle, uint32_t in_len, const uint8_t *in_data,
                                         uint32_t *out_len, uint8_t *out_data);
/* Same, addressed to nad for this exchange only; the current node address
 * is left as it was. */
HIDLINK_API uint32_t HV_command_exchange_with_nad(void *handle, uint8_t nad, uint32_t in_len,
                                                  const uint8_t *in_data, uint32_t *out_len,
                                                  uint8_t *out_data);

/* Reader-level commands, sent to node address 0 (the reader itself). resp:
 * at least HV_MAX_REPLY_DATA bytes (the reader's answers are short). */
HIDLINK_API uint32_t HV_get_application_version(void *handle, uint32_t *lenr, uint8_t *resp);
HIDLINK_API uint32_t HV_get_serial_number(void *handle, uint32_t *lenr, uint8_t *resp);
/* Erases, then writes len (at most 59) bytes of comm as the serial number.
 * len above 59, or null comm with len > 0, gives 0xFFFF with nothing sent. */
HIDLINK_API uint32_t HV_set_serial_number(void *handle, uint32_t len, const uint8_t *comm);
/* Beeps; delta is passed to the reader as P1 (high byte), P2 (low byte). */
HIDLINK_API void HV_beep(void *handle, uint32_t delta);
HIDLINK_API void HV_led_control(void *handle, uint8_t data);

/* resp: at least 32 bytes; receives the UTF-8 message for sw and a NUL,
 * *lenr its byte count. Does nothing if resp or lenr is null. */
HIDLINK_API void HV_format_error_message(uint32_t sw, uint32_t *lenr, uint8_t *resp);

/* ------------------------------------------------------------------------
 * Transport (dev is the hidapi device handle of a slot)
 * ---------------------------------------------------------------------- */

/* Sends in_data as a train of 64-byte reports to node address tag.
 * 0; -1 for null in_data or in_len 0; -4 when a report cannot be written. */
HIDLINK_API int transmit(void *dev, uint8_t tag, const uint8_t *in_data, uint32_t in_len);
/* Reassembles one response into receive_data (at least HV_MAX_RESPONSE
 * bytes), its length to *receive_len. timeout bounds the whole response in
 * ms. 0, or -1 on read error, bad report, sequence mismatch, oversize
 * response or time-out (then *receive_len is 0). */
HIDLINK_API int receive(void *dev, uint8_t tag, uint8_t *receive_data, uint32_t *receive_len,
                        int timeout);
/* Writes one report (len at most 64) after report ID 0, zero-padded to 65
 * bytes. 0; -1 without device; -4 when the write fails or data is bad. */
HIDLINK_API int usb_device_write(void *dev, const uint8_t *data, uint32_t len);
/* Reads one input report into InputReport (64 bytes), waiting up to
 * Millisecond ms. 64, 0 (nothing came) or -1 (error or wrong size). */
HIDLINK_API int usb_device_read(void *dev, uint8_t *InputReport, int Millisecond);
HIDLINK_API void usb_device_close(void *dev);
/* 0 for a non-null device, -1 for null; nothing else. */
HIDLINK_API int usb_device_cancel_read(void *dev);

/* ------------------------------------------------------------------------
 * Card, memory-card, Mifare, magnetic-stripe and barcode commands. Each
 * goes to its unit's node address and restores the current one, except
 * ICC_reset and ICC_power_off, which use the current node address and give
 * 0x6201 without any traffic when it is outside 0x12..0x19. Outputs marked
 * "reply" need HV_MAX_REPLY_DATA bytes unless the unit's answer is known
 * to be shorter. Functions without outputs expect the status word alone.
 * ---------------------------------------------------------------------- */

HIDLINK_API uint32_t ICC_reset(void *handle, uint32_t *lenr, uint8_t *resp); /* reply: ATR */
HIDLINK_API uint32_t ICC_present(void *handle);
HIDLINK_API uint32_t ICC_power_off(void *handle);
/* *type: first reply byte (0 when the exchange failed); may be NULL. */
HIDLINK_API uint32_t ICC_get_card_type(void *handle, uint8_t *type);
/* offset at most 0xFFFF; resp at least lenr bytes: a longer reply gives
 * 0x6FF1. Lc carries the low 8 bits of lenr. */
HIDLINK_API uint32_t ICC_logic_read(void *handle, uint32_t offset, uint32_t lenr, uint8_t *resp);
/* offset at most 0xFFFF, lenw at most 4091 (Lc: its low 8 bits); else
 * 0xFFFF with nothing sent. */
HIDLINK_API uint32_t ICC_logic_write(void *handle, uint32_t offset, uint32_t lenw, const uint8_t *data);
HIDLINK_API uint32_t ICC_logic_verify(void *handle, uint32_t lenw, const uint8_t *pin);
HIDLINK_API uint32_t ICC_logic_modify(void *handle, uint32_t lenw, const uint8_t *pin);
/* *trytime: first reply byte (0 when the exchange failed); may be NULL. */
HIDLINK_API uint32_t ICC_logic_get_try_time(void *handle, uint8_t *trytime);

HIDLINK_API uint32_t Mifare1_Reset(void *handle, uint32_t *lenr, uint8_t *resp); /* reply */
/* bKeyType true: key A (0x60), false: key B (0x61); uKey: 6 bytes. */
HIDLINK_API uint32_t Mifare1_Verify(void *handle, uint8_t BlockNum, bool bKeyType, const uint8_t *uKey);
/* resp: 16 bytes; a longer reply gives 0x6FF1. */
HIDLINK_API uint32_t Mifare1_Read(void *handle, uint8_t BlockNum, uint8_t *resp);
HIDLINK_API uint32_t Mifare1_Write(void *handle, uint8_t BlockNum, const uint8_t *uData); /* 16 B */
HIDLINK_API uint32_t Mifare1_InitAmount(void *handle, uint8_t BlockNum, uint32_t uAmount);
HIDLINK_API uint32_t Mifare1_IncreaseAmount(void *handle, uint8_t BlockNum, uint32_t uAmount);
HIDLINK_API uint32_t Mifare1_DecreaseAmount(void *handle, uint8_t BlockNum, uint32_t uAmount);
/* Always 0x9000, whatever the reader answers (1 s limit). */
HIDLINK_API uint32_t Mifare1_Halt(void *handle);

/* Swipe mode, then waits timeout seconds (low byte) for a swipe. */
HIDLINK_API uint32_t Magcard_start_swip(void *handle, uint32_t timeout);
HIDLINK_API uint32_t Magcard_get_track_data(void *handle, uint8_t track, uint32_t *lenr,
                                            uint8_t *resp); /* reply */
HIDLINK_API uint32_t Magcard_clear_data(void *handle);

/* Waits timeout seconds (low byte) for a code; its text is the reply. */
HIDLINK_API uint32_t Barcode_start_scan(void *handle, uint32_t *lenr, uint8_t *resp, uint32_t timeout);
/* Sends "FP-3N010=%04d;" with interval capped at 9999. */
HIDLINK_API uint32_t Barcode_set_interval(void *handle, uint32_t interval);

/* ------------------------------------------------------------------------
 * Resident ID card
 * ---------------------------------------------------------------------- */

#define HV_IDCARD_JSON_SIZE 8192

/* Reads the card in the ID-card module and writes one compact JSON object
 * (members "ImgBase64", "name", "sex", "nations", "birthday", "address",
 * "id_num", "department", "startDate", "endDate") in UTF-8 with a NUL to
 * resp (at least HV_IDCARD_JSON_SIZE bytes), its length to *lenr.
 * 0x9000; 0x6200 when the module does not power up; 0xFFFF when a step
 * fails; 0x6FF1 for null resp or lenr (nothing sent). Leaves the current
 * node address at NAD_IDCARD. */
HIDLINK_API uint32_t Idcard_read_information(void *handle, uint32_t *lenr, uint8_t *resp);

/* Cuts trailing blanks (0x20) in place; returns the first non-blank (or
 * the terminating NUL). NULL gives NULL. */
HIDLINK_API char *killblank(char *str);
/* Hex text (either case) to bytes, stopping at the first non-hex character;
 * bin: at least len/2 + 1 bytes, a zero byte is written at len/2 (so an odd
 * last digit is dropped). Returns bin, or NULL when asc or bin is NULL. */
HIDLINK_API uint8_t *CHexToBin(uint8_t *bin, const char *asc, uint32_t len);
/* Bytes to upper-case hex text; asc: at least 2*len + 1 bytes. Returns asc
 * (NULL when asc or bin is NULL). */
HIDLINK_API char *BinToCHex(char *asc, const uint8_t *bin, uint32_t len);
/* Standard base64 (padded) to bytes. Returns the byte count, or -1 for
 * malformed text or when out_size is too small. */
HIDLINK_API int base64_decode(const char *text, uint32_t text_len, uint8_t *out, uint32_t out_size);

/* SHA-1 of len bytes into digest (20 bytes); returns digest. A real digest,
 * so that this plainly named export computes the right thing for any
 * caller that happens to bind to it instead of another SHA1. */
HIDLINK_API uint8_t *SHA1(const uint8_t *sour, size_t len, uint8_t *digest);
/* The four DES/MAC entry points compute NOTHING: they leave every output
 * untouched and return 0. They exist for callers linked against the names;
 * do not use them for cryptography. */
HIDLINK_API int SingleDES(uint8_t DESType, const uint8_t *SingleDESKey, uint32_t SourDataLen,
                          const uint8_t *SourData, uint8_t *DestData);
HIDLINK_API int TripleDES(uint8_t DESType, const uint8_t *TripleDESKey, uint32_t SourDataLen,
                          const uint8_t *SourData, uint8_t *DestData);
HIDLINK_API int SingleMAC(const uint8_t *SingleMACKey, const uint8_t *InitData, uint32_t SourDataLen,
                          const uint8_t *SourData, uint8_t *MACData);
HIDLINK_API int TripleMAC(const uint8_t *TripleMACKey, const uint8_t *InitData, uint32_t SourDataLen,
                          const uint8_t *SourData, uint8_t *MACData);

/* ------------------------------------------------------------------------
 * Log. Levels above ELOG_LVL_VERBOSE are rejected: the call does nothing
 * but call the assertion hook, if one is set. Lines are at most
 * ELOG_LINE_BUF_SIZE bytes; longer messages are cut.
 * ---------------------------------------------------------------------- */

#define ELOG_LVL_ASSERT 0
#define ELOG_LVL_ERROR 1
#define ELOG_LVL_WARN 2
#define ELOG_LVL_INFO 3
#define ELOG_LVL_DEBUG 4
#define ELOG_LVL_VERBOSE 5
#define ELOG_LVL_TOTAL_NUM 6

#define ELOG_LINE_BUF_SIZE 1024
#define ELOG_FILTER_TAG_MAX_LEN 30
#define ELOG_FILTER_KW_MAX_LEN 16
#define ELOG_FILTER_TAG_LVL_MAX_NUM 5

typedef enum {
    ELOG_FMT_LVL = 1 << 0,
    ELOG_FMT_TAG = 1 << 1,
    ELOG_FMT_TIME = 1 << 2,
    ELOG_FMT_P_INFO = 1 << 3,
    ELOG_FMT_T_INFO = 1 << 4,
    ELOG_FMT_DIR = 1 << 5,
    ELOG_FMT_FUNC = 1 << 6,
    ELOG_FMT_LINE = 1 << 7
} ElogFmtIndex;

#define ELOG_FMT_ALL 0xFF

typedef enum { ELOG_NO_ERR = 0, ELOG_ERR = 1 } ElogErrCode;

typedef struct {
    char *name;        /* file path; copied by elog_file_config */
    size_t max_size;   /* rotate when the file has grown past this */
    int max_rotate;    /* rotated copies kept: name.0 .. name.(max_rotate-1) */
} ElogFileCfg;

typedef void (*ElogAssertHook)(const char *expr, const char *func, size_t line);

HIDLINK_API ElogErrCode elog_init(void);
HIDLINK_API void elog_deinit(void);
HIDLINK_API void elog_start(void);
HIDLINK_API void elog_stop(void);
HIDLINK_API void elog_set_output_enabled(bool enabled);
HIDLINK_API bool elog_get_output_enabled(void);
HIDLINK_API void elog_set_text_color_enabled(bool enabled);
HIDLINK_API bool elog_get_text_color_enabled(void);
/* set: ElogFmtIndex bits for lines of that level. */
HIDLINK_API void elog_set_fmt(uint8_t level, size_t set);
HIDLINK_API void elog_set_filter(uint8_t level, const char *tag, const char *keyword);
HIDLINK_API void elog_set_filter_lvl(uint8_t level);
/* tag: at most 30 characters kept; NULL or "" clears the filter. */
HIDLINK_API void elog_set_filter_tag(const char *tag);
/* keyword: at most 16 characters kept; NULL or "" clears the filter. */
HIDLINK_API void elog_set_filter_kw(const char *keyword);
/* level ELOG_LVL_VERBOSE removes the tag's entry; at most 5 entries. */
HIDLINK_API void elog_set_filter_tag_lvl(const char *tag, uint8_t level);
HIDLINK_API uint8_t elog_get_filter_tag_lvl(const char *tag);
HIDLINK_API void elog_output(uint8_t level, const char *tag, const char *file, const char *func,
                             long line, const char *format, ...)
    __attribute__((format(printf, 6, 7)));
HIDLINK_API void elog_raw(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* Lines "D/HEX name: 0000-000F: ..." of width bytes each (width 1..255);
 * written only at filter level 4 or more. */
HIDLINK_API void elog_hexdump(const char *name, uint8_t width, const void *buf, size_t size);
HIDLINK_API void elog_output_lock(void);
HIDLINK_API void elog_output_unlock(void);
HIDLINK_API void elog_output_lock_enabled(bool enabled);
HIDLINK_API void elog_assert_set_hook(ElogAssertHook hook);
/* Level of a formatted line (its "X/" text, after a colour prefix), or -1. */
HIDLINK_API int8_t elog_find_lvl(const char *log);
/* Tag of a formatted line of level lvl; its length to *tag_len. NULL when
 * the line has no level text and tag. */
HIDLINK_API const char *elog_find_tag(const char *log, uint8_t lvl, size_t *tag_len);

HIDLINK_API ElogErrCode elog_file_init(void);
HIDLINK_API void elog_file_write(const char *log, size_t size);
HIDLINK_API void elog_file_config(ElogFileCfg *cfg);
HIDLINK_API void elog_file_deinit(void);

HIDLINK_API ElogErrCode elog_port_init(void);
HIDLINK_API void elog_port_deinit(void);
HIDLINK_API void elog_port_output(const char *log, size_t size);
HIDLINK_API void elog_port_output_lock(void);
HIDLINK_API void elog_port_output_unlock(void);
/* Texts in a static buffer, valid until the next call (under the lock). */
HIDLINK_API const char *elog_port_get_time(void);
HIDLINK_API const char *elog_port_get_p_info(void);
HIDLINK_API const char *elog_port_get_t_info(void);
HIDLINK_API ElogErrCode elog_file_port_init(void);
HIDLINK_API void elog_file_port_lock(void);
HIDLINK_API void elog_file_port_unlock(void);
HIDLINK_API void elog_file_port_deinit(void);

/* Copies src to dst so that cur_len + copied stays below
 * ELOG_LINE_BUF_SIZE; returns the count copied (no NUL written). */
HIDLINK_API size_t elog_strcpy(size_t cur_len, char *dst, const char *src);
/* Copies log up to its first newline (or len bytes) to line; returns the
 * count copied (no NUL written). */
HIDLINK_API size_t elog_cpyln(char *line, const char *log, size_t len);
HIDLINK_API void *elog_memcpy(void *dst, const void *src, size_t count);

#ifdef __cplusplus
}
#endif

#endif /* HIDLINK_H */
