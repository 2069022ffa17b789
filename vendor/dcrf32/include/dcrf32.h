/* libdcrf32 (stand-in): the second reader family's SDK calls, answered by
 * the virtual reader (vreader started with --family dc or both).
 *
 * Conventions
 * - Every call takes the device number returned by dc_init (> 0).
 * - Results: 0 success; DC_ERR_DEVICE (-1) no such open device;
 *   DC_ERR_COMM (-2) the reader did not answer or answered garbled (the
 *   connection is re-established on the next call); DC_ERR_ARG (-3) a null
 *   pointer or a bad length; DC_ERR_TOO_LONG (-4) an answer longer than the
 *   caller's one-byte length can carry; a positive value is the reader's own
 *   status: 0x6FF0 no card in the slot, 0x6FF3 card not reset, or, for the
 *   ID-card read, the SAM status of the failing step (0x80 no card found).
 * - Buffers are caller-owned; minimum sizes are given per call. Card
 *   answers carry their two status bytes; 61 xx and 6C xx are left to the
 *   caller.
 * - Texts of the parse calls: charset 2 gives UTF-8, any other value GBK;
 *   every text output is NUL-terminated.
 * - One thread at a time per device number.
 * - VREADER_SOCKET names the reader's socket (see sim/README.md);
 *   VREADER_DC_TIMEOUT_MS bounds the wait for one answer (default 5000).
 */
#ifndef DCRF32_H
#define DCRF32_H

#define DCRF32_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

enum { DC_ERR_DEVICE = -1, DC_ERR_COMM = -2, DC_ERR_ARG = -3, DC_ERR_TOO_LONG = -4 };

/* Opens the reader; port and baud are accepted and ignored (USB). Returns a
 * device number > 0, or a value <= 0 when no reader of this family answers. */
DCRF32_API int dc_init(short port, long baud);
/* Closes the device number. */
DCRF32_API short dc_exit(int icdev);
/* Selects the contact slot for dc_cpureset/dc_cpuapdu: 0x0C user card,
 * 0x0D, 0x0E, 0x0F, 0x11 PSAM 1 to 4. */
DCRF32_API short dc_setcpu(int icdev, unsigned char address);
/* Resets the card of the selected slot: ATR into databuffer (>= 64 bytes),
 * its length into *rlen. */
DCRF32_API short dc_cpureset(int icdev, unsigned char *rlen, unsigned char *databuffer);
/* The same for the contactless card. */
DCRF32_API short dc_pro_reset(int icdev, unsigned char *rlen, unsigned char *receive_data);
/* Sends slen command bytes to the selected slot; the answer with its status
 * bytes goes to databuffer (>= 256 bytes), its length to *rlen. */
DCRF32_API short dc_cpuapdu(int icdev, unsigned char slen, unsigned char *sendbuffer, unsigned char *rlen,
                            unsigned char *databuffer);
/* The same for the contactless card; timeout is accepted and ignored. */
DCRF32_API short dc_pro_command(int icdev, unsigned char slen, unsigned char *sendbuffer, unsigned char *rlen,
                                unsigned char *databuffer, unsigned char timeout);
/* Reads the ID card on the reader. type 1: text; 2: text and photo;
 * 3: text, photo and fingerprint. Buffers: text 256, photo 1024,
 * fingerprint 1024 bytes; extra may be null (its length is set to 0). */
DCRF32_API short dc_SamAReadCardInfo(int icdev, int type, unsigned int *text_len, unsigned char *text,
                                     unsigned int *photo_len, unsigned char *photo,
                                     unsigned int *fingerprint_len, unsigned char *fingerprint,
                                     unsigned int *extra_len, unsigned char *extra);
/* Resident ID card text (256 bytes). Outputs (minimum sizes): name 64, sex
 * code 8 ("1"), nation code 8 ("01"), birth date 16, address 128, number 40,
 * authority 64, validity start 16, validity end 16; reserved may be null. */
DCRF32_API short dc_ParseTextInfo(int icdev, int charset, unsigned int info_len, unsigned char *info,
                                  unsigned char *name, unsigned char *sex, unsigned char *nation,
                                  unsigned char *birth_day, unsigned char *address, unsigned char *id_number,
                                  unsigned char *department, unsigned char *expire_start_day,
                                  unsigned char *expire_end_day, unsigned char *reserved);
/* Foreigner's permanent-residence card ("I" at byte 248). Outputs: English
 * name 200, sex code 8, card number 40, country code 8, Chinese name 64,
 * validity start 16, end 16, birth date 16, card version 8, authority code
 * 16, card type 8; reserved may be null. */
DCRF32_API short dc_ParseTextInfoForForeigner(int icdev, int charset, unsigned int info_len, unsigned char *info,
                                              unsigned char *english_name, unsigned char *sex,
                                              unsigned char *id_number, unsigned char *citizenship,
                                              unsigned char *chinese_name, unsigned char *expire_start_day,
                                              unsigned char *expire_end_day, unsigned char *birth_day,
                                              unsigned char *version_number, unsigned char *department_code,
                                              unsigned char *type_sign, unsigned char *reserved);
/* Residence permit of Hong Kong, Macao and Taiwan residents ("J" at byte
 * 248). Outputs: name 64, sex code 8, birth date 16, address 128, number
 * 40, authority 64, validity start 16, end 16, pass number 32, issue count
 * 8, card type 8; reserved may be null. */
DCRF32_API short dc_ParseTextInfoForHkMoTw(int icdev, int charset, unsigned int info_len, unsigned char *info,
                                           unsigned char *name, unsigned char *sex, unsigned char *birth_day,
                                           unsigned char *address, unsigned char *id_number,
                                           unsigned char *department, unsigned char *expire_start_day,
                                           unsigned char *expire_end_day, unsigned char *pass_number,
                                           unsigned char *sign_count, unsigned char *type_sign,
                                           unsigned char *reserved);
/* Translates a code to its UTF-8 name into out_info (>= 64 bytes):
 * flag 32 sex code, 33 nation code, 34 three-letter country code (the code
 * itself when unknown). Unknown sex or nation codes give DC_ERR_ARG. */
DCRF32_API short dc_ParseOtherInfo(int icdev, int flag, unsigned char *in_info, unsigned char *out_info);

#ifdef __cplusplus
}
#endif

#endif
