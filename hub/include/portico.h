/*
 * portico.h - libportico, the reader hub: opens whichever supported reader
 * is attached, selects a unit by node address, resets cards, carries APDUs
 * and reads resident ID cards.
 *
 * Reader families, chosen once per successful OpenDev and remembered
 * process-wide in DevType:
 *   21  USB-HID readers driven by libhidlink (tried first, reader slot 1);
 *       every driver status word is passed through unchanged.
 *   19  readers of the vendor SDK libdcrf32; the hub maps node addresses to
 *       the SDK's slots, completes 61 xx answers with GET RESPONSE and
 *       reports failures with its own negative codes.
 *
 * Conventions
 * - Every buffer is supplied, owned and zero-filled by the caller, of at
 *   least the size given per function; nothing returned has to be freed.
 * - msg: at least PORTICO_MSG_SIZE bytes; receives a NUL-terminated UTF-8
 *   message on failure (from its first byte). It may be NULL.
 * - Handles are signed 64-bit values, > 0 when valid.
 * - Results: 0x9000 (or 0) for success; a status word, or a small negative
 *   code of the hub or of the vendor SDK, for failure.
 * - Threads: no locking. DevType, IsDcFeiJie and the driver's node address
 *   are process-wide; call from one thread at a time.
 * - C linkage: every export carries its plain name.
 */
#ifndef PORTICO_H
#define PORTICO_H

#include <stdint.h>

#define PORTICO_API __attribute__((visibility("default")))

#define PORTICO_DEV_NONE (-1)     /* DevType before the first successful open */
#define PORTICO_DEV_HID 21        /* DevType: USB-HID family */
#define PORTICO_DEV_VENDOR 19     /* DevType: vendor-SDK family */

#define PORTICO_MSG_SIZE 64       /* longest message: 31 bytes with its NUL */
#define PORTICO_ATR_SIZE 64       /* answer to reset (at most 33 bytes in practice) */
#define PORTICO_RESPONSE_SIZE 256 /* response data of one APDU, status word excluded */

/* Minimum sizes of the nine IDCard_Read outputs, in argument order. */
#define PORTICO_ID_NAME_SIZE 46
#define PORTICO_ID_SEX_SIZE 32
#define PORTICO_ID_NATION_SIZE 32
#define PORTICO_ID_BIRTH_SIZE 32
#define PORTICO_ID_ADDRESS_SIZE 256
#define PORTICO_ID_NUMBER_SIZE 32
#define PORTICO_ID_AUTHORITY_SIZE 256
#define PORTICO_ID_VALID_START_SIZE 256
#define PORTICO_ID_VALID_END_SIZE 64
#define PORTICO_ID_PHOTO_SIZE 1024 /* IDCard_ReadPhoto: the compressed photo record */

/* Vendor family: the hub's own failure codes of CPU_Protocol (Cpu_Reset
 * passes the SDK's non-zero results through instead). */
#define PORTICO_ERR_SEND (-1)         /* first exchange failed, or nothing could be sent */
#define PORTICO_ERR_GET_RESPONSE (-2) /* the GET RESPONSE exchange failed */
#define PORTICO_ERR_GR_STATUS (-3)    /* GET RESPONSE did not end with 90 00 */
#define PORTICO_ERR_STATUS (-4)       /* card status other than 90 00 and 61 xx */
#define PORTICO_ERR_LENGTH (-5)       /* answer shorter than its status word, or
                                         longer than the caller's buffer holds */

#ifdef __cplusplus
extern "C" {
#endif

/* Family of the last successful OpenDev: PORTICO_DEV_NONE at load, then
 * PORTICO_DEV_HID or PORTICO_DEV_VENDOR. Not reset by CloseDev. */
PORTICO_API extern int32_t DevType;
/* Vendor family: 1 while node address 21 (contactless card) is selected,
 * 0 after a contact or PSAM node address; survives CloseDev and OpenDev. */
PORTICO_API extern unsigned char IsDcFeiJie;

/* Opens the USB-HID reader in slot 1, else the first vendor-SDK reader.
 * reserved and text are ignored. Returns the handle (> 0), or -1 with
 * "未找到设备!" in msg (DevType then keeps its value). */
PORTICO_API int64_t OpenDev(void *reserved, char *text, char *msg);

/* Closes the reader of the selected family: 0 (the driver's result is not
 * passed on); -1 with "暂未发现该设备类型！" when no family was ever opened.
 * DevType stays. The USB-HID reader keeps its selected node address. */
PORTICO_API int CloseDev(int64_t handle, char *msg);

/* Selects the unit for the following calls. USB-HID family: the driver's
 * node address (1 becomes 0x1A there). Vendor family: 18 -> SDK slot 0x0C,
 * 22..25 -> 0x0D, 0x0E, 0x0F, 0x11 (clearing IsDcFeiJie), 21 sets
 * IsDcFeiJie; other node addresses have no SDK slot and change nothing.
 * Nothing happens before the first successful OpenDev. */
PORTICO_API void Set_Nad(int64_t handle, unsigned char nad);

/* Resets the card of the selected unit. atr: at least PORTICO_ATR_SIZE
 * bytes; its length goes to *rlen.
 * USB-HID family: the driver's status word (0x9000; 0x6201 for a unit that
 * is no contact or PSAM slot, the contactless one included; 0xFFFF, ...);
 * an answer longer than PORTICO_ATR_SIZE gives 0x6FF1, NULL rlen or atr
 * too (nothing sent). Vendor family: 0x9000, the SDK's non-zero result
 * (sign-extended from 16 bits), or PORTICO_ERR_LENGTH. -1 before the first
 * successful OpenDev. */
PORTICO_API int Cpu_Reset(int64_t handle, int *rlen, unsigned char *atr);

/* Sends slen bytes of sbuf to the selected unit. rbuf: at least
 * PORTICO_RESPONSE_SIZE bytes; receives the response data without the
 * status word, their count in *rlen.
 * USB-HID family: the status word of the answer, whatever it is (0x61xx and
 * 0x6Cxx are left to the caller), or the driver's own words; slen <= 0 or
 * NULL sbuf gives 0xFFFF with nothing sent; more than PORTICO_RESPONSE_SIZE
 * data bytes, or NULL rlen/rbuf, give 0x6FF1 with rbuf untouched.
 * Vendor family (slen 1..255): 0x9000 with the data (a 61 xx answer is
 * completed with GET RESPONSE 00 C0 00 00 xx on the same interface), or
 * PORTICO_ERR_SEND .. PORTICO_ERR_LENGTH; on PORTICO_ERR_STATUS *rlen holds
 * the whole answer's length (status word included) and rbuf is untouched.
 * -1 before the first successful OpenDev. */
PORTICO_API int CPU_Protocol(int64_t handle, int slen, const unsigned char *sbuf, int *rlen,
                             unsigned char *rbuf);

/* Reads the resident ID card on the reader into nine text buffers (minimum
 * sizes PORTICO_ID_*_SIZE; NULL skips a field). Every field is
 * NUL-terminated and cut at a character boundary if the card holds more.
 * Nothing is written to them unless the read succeeds.
 * USB-HID family: name, sex, nation, address and authority in UTF-8; birth
 * date, ID number and validity start ASCII; validity end GBK ("长期" on
 * long-term cards, kept whole when it is no date). Sex "男", "女", "未知"
 * (code 0), "未说明" (code 9), else empty; nation names as the tool unit's
 * CodeTranslate gives them ("汉", "其他"). The reader is closed afterwards,
 * whatever the outcome, and its node address left at 27. Results: 0; -3
 * power, -4 SAM identity, -5 SAM setting, -6 find (no card), -7 select
 * ("读取身份证失败!"); -1 read, or a read reply of 512 bytes or fewer
 * ("读取身份证信息失败!").
 * Vendor family: all texts UTF-8 as the SDK parses them; sex and nation
 * translated by the SDK. Foreigner's cards: the Chinese name (else the
 * English name), the country as nation, no address, the authority code.
 * Hong Kong/Macao/Taiwan cards: no nation. The reader stays open. Results:
 * 0, or -1 with "身份证读取失败!".
 * -1 before the first successful OpenDev, with nothing written. */
PORTICO_API int IDCard_Read(int64_t handle, char *name, char *sex, char *nation, char *birth,
                            char *address, char *id_number, char *authority, char *valid_start,
                            char *valid_end, char *msg);

/* IDCard_Read (same frames or SDK call, same results, messages and reader
 * handling) that also hands out the card's compressed photo record: photo
 * (at least PORTICO_ID_PHOTO_SIZE bytes) receives its bytes, *photo_len
 * their count (1024 on every card; NULL skips either). USB-HID family: the
 * record that follows the text block in the read reply; a photo length
 * above PORTICO_ID_PHOTO_SIZE or past the reply fails the read step (-1,
 * "读取身份证信息失败!"). Vendor family: dc_SamAReadCardInfo's photo
 * buffer; a length above PORTICO_ID_PHOTO_SIZE gives -1, "身份证读取失败!".
 * Nothing is written to any output, texts included, unless the whole read
 * succeeds. */
PORTICO_API int IDCard_ReadPhoto(int64_t handle, char *name, char *sex, char *nation, char *birth,
                                 char *address, char *id_number, char *authority, char *valid_start,
                                 char *valid_end, unsigned char *photo, int *photo_len, char *msg);

/* Appends two upper-case hex digits per byte of data to the text in out
 * (room for strlen(out) + 2 * len + 1 bytes). Returns 0. */
PORTICO_API int stringtohex(const unsigned char *data, int len, char *out);

/* Reads len / 2 bytes (at least one) from the hex text hex into out and
 * writes a zero byte after them (out: len / 2 + 1 bytes, at least 2). Each
 * pair is read as "%02X" reads it: its leading hex digits, 0 when it starts
 * with none or lies past the end of the text. Returns 0. */
PORTICO_API int hextostring(const char *hex, int len, unsigned char *out);

#ifdef __cplusplus
}
#endif

#endif /* PORTICO_H */
