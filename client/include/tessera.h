/*
 * libtessera: whole card operations for the card-reader service.
 *
 * Conventions
 * - Every output is a caller-owned char buffer, zero-filled by the caller and
 *   at least the size given per function; the library never allocates memory
 *   for the caller. Some outputs are copied without a terminating NUL (the
 *   zero fill terminates them).
 * - The last argument of every function (the only one of QMX_CloseDev) is the
 *   error text buffer: on failure it receives a NUL-terminated UTF-8 message.
 *   Callers pass at least 1024 zero-filled bytes.
 * - Results: 0 for success, an operation-specific negative code on failure.
 * - One reader session per process (opened on demand, closed as each
 *   operation prescribes); no locking: call from one thread at a time.
 */
#ifndef TESSERA_H
#define TESSERA_H

#define TESSERA_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Version banner "libtessera version: ...". */
TESSERA_API extern const char *LIB_INFO;

/* Opens the reader session. passThrough: >= 20 bytes. -4 when already open,
 * -1 when no reader could be opened (the hub's message in err). */
TESSERA_API int QMX_OpenDev(int port, char *passThrough, char *err);
/* Closes the session; always 0. */
TESSERA_API int QMX_CloseDev(char *err);

/* Social-security card. cardNo >= 10 (9 bytes, not terminated);
 * certId >= 33, empty (32 hex digits appended); region >= 7 (6 bytes). */
TESSERA_API int QMX_ReadCarNo(char *cardNo, char *err);
TESSERA_API int QMX_ReadCardCertID(char *cardNo, char *certId, char *err);
TESSERA_API int QMX_ReadCardCity(char *region, char *err);
/* Basic information after PSAM authentication. Minimum sizes in order:
 * 33, 2, 5, 25, 9, 9, 10, 19, 66, 4, 13, 7, 9 bytes. */
TESSERA_API int QMX_ReadCardBas(char *certId, char *cardType, char *specVer,
                                char *initOrgNo, char *issueDate, char *validDate,
                                char *cardNo, char *socialNo, char *name, char *sex,
                                char *nation, char *birthPlace, char *birthDate,
                                char *err);

/* Resident ID card through the hub. Minimum sizes in order: name 46, sex 32,
 * nation 32, birth date 32, address 256, ID number 32, authority 256,
 * validity start 256, validity end 64. 0, or -2 with the hub's message. */
TESSERA_API int QMX_IDCard_Read(char *name, char *sex, char *nation, char *birthDate,
                                char *address, char *idNumber, char *authority,
                                char *validStart, char *validEnd, char *err);

/* E-card QR scanner: scan mode (low byte: 1 automatic, 0 manual), the
 * automatic-read interval (0..9999) and one read (out >= 256 bytes, not
 * terminated, length in *outLen). */
TESSERA_API int QMX_ECard_SetAutoRead(int mode, char *err);
TESSERA_API int QMX_ECard_AutoReadTime(unsigned int interval, char *err);
TESSERA_API int QMX_ECard_Read(int *outLen, char *out, unsigned int timeout, char *err);

/* Chip bank card account number from its track-2 equivalent data;
 * accountNo >= 20 (not terminated). */
TESSERA_API int QMX_ICBankCard_ReadNO(char *accountNo, char *err);

/* Magnetic stripe: raw tracks 2 and 3 (>= 256 bytes each, not terminated)
 * with their lengths as decimal text (>= 4 bytes each). */
TESSERA_API int QMX_MagCardRead(unsigned int timeout, char *track2, char *track2Len,
                                char *track3, char *track3Len, char *err);
/* Account number from the stripe; accountNo >= 256, NUL-terminated. */
TESSERA_API int QMX_MagicBankCard_ReadNo(int timeout, char *accountNo, char *err);

/* Keys typed on the reader's keypad into out (bufSize bytes), count in *outLen. */
TESSERA_API int QMX_KeyBoard_InputKey(int timeout, unsigned int bufSize, char *out,
                                      int *outLen, char *err);

#ifdef __cplusplus
}
#endif

#endif
