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
 *   Callers pass at least 1024 zero-filled bytes; the library never writes
 *   past its first 1024 bytes.
 * - Results: 0 for success, an operation-specific negative code on failure.
 *   An operation that has to open the reader and cannot returns -1 or -100
 *   (as noted per function) with the hub's message in err.
 * - One reader session per process (opened on demand, closed as each
 *   operation prescribes); no locking: call from one thread at a time.
 * - Slot numbers are the reader's node addresses: 0x12 contact card, 0x15
 *   contactless card, 22..25 PSAM slots 1..4, 0x1A stripe, 0x1C scanner.
 * - The PSAM slot is kept as key "PSAM" of section "Set" in config.ini in
 *   the running program's directory.
 * - Under C++ the card primitives and the steps of the basic-information
 *   read are exported as well, with C++ (decorated) names.
 */
#ifndef TESSERA_H
#define TESSERA_H

#define TESSERA_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Version banner "libtessera version: 1.0.1 (2022-11-08, 10:30)". */
TESSERA_API extern const char *LIB_INFO;

/* Opens the reader session. port and passThrough (>= 20 bytes) are handed to
 * the hub unchanged. 0; -4 with a message when already open (the session
 * stays as it is); -1 when no reader could be opened (the hub's message in
 * err). Each open locates config.ini anew. */
TESSERA_API int QMX_OpenDev(int port, char *passThrough, char *err);
/* Closes the session (also when none is open); always 0. */
TESSERA_API int QMX_CloseDev(char *err);

/* Social-security card, in the contact slot or else the contactless one.
 * cardNo >= 10 (9 bytes, not terminated); certId >= 33 holding an empty
 * text (32 hex digits appended); region >= 7 (6 bytes, not terminated).
 * The session stays open. Codes: -1 open or no card (QMX_ReadCardCity: any
 * failure, message replaced), -2 application, -3 EF05, -4 identification
 * code, -36/-35 card number. */
TESSERA_API int QMX_ReadCarNo(char *cardNo, char *err);
TESSERA_API int QMX_ReadCardCertID(char *cardNo, char *certId, char *err);
TESSERA_API int QMX_ReadCardCity(char *region, char *err);
/* Basic information after PSAM authentication. Minimum sizes in order:
 * 33, 2, 5, 25, 9, 9, 10, 19, 66, 4, 13, 7, 9 bytes. Outputs are written
 * only on success (sex only for the sex codes 1 and 2). -1 open, the step
 * codes -1..-46 (the session is then closed), -88 name not convertible. */
TESSERA_API int QMX_ReadCardBas(char *certId, char *cardType, char *specVer,
                                char *initOrgNo, char *issueDate, char *validDate,
                                char *cardNo, char *socialNo, char *name, char *sex,
                                char *nation, char *birthPlace, char *birthDate,
                                char *err);

/* Resident ID card through the hub. Minimum sizes in order: name 46, sex 32,
 * nation 32, birth date 32, address 256, ID number 32, authority 256,
 * validity start 256, validity end 64. 0, -1 open, or -2 with the hub's
 * message. Closes the session. */
TESSERA_API int QMX_IDCard_Read(char *name, char *sex, char *nation, char *birthDate,
                                char *address, char *idNumber, char *authority,
                                char *validStart, char *validEnd, char *err);

/* QMX_IDCard_Read (same outputs, sizes, codes, messages and session
 * handling) that also returns the card's compressed photo record: photo at
 * least TESSERA_ID_PHOTO_SIZE bytes, its length in *photoLen (1024 on every
 * card). Nothing is written, texts included, unless the read succeeds. */
#define TESSERA_ID_PHOTO_SIZE 1024
TESSERA_API int QMX_IDCard_ReadPhoto(char *name, char *sex, char *nation, char *birthDate,
                                     char *address, char *idNumber, char *authority,
                                     char *validStart, char *validEnd, unsigned char *photo,
                                     int *photoLen, char *err);

/* E-card QR scanner; each closes the session.
 * SetAutoRead: low byte of mode 1 automatic, 0 manual; 0, -1 open or
 * refused, -3 other modes (nothing sent, session left open).
 * AutoReadTime: interval 0..9999; 0, -100 open, -3 above 9999, -4 refused.
 * Read: waits up to timeout (0..2 mean 3) for one code; out >= 256 bytes
 * (not terminated), length in *outLen; 0, -100, -3 (also for a code longer
 * than 256 bytes). */
TESSERA_API int QMX_ECard_SetAutoRead(int mode, char *err);
TESSERA_API int QMX_ECard_AutoReadTime(unsigned int interval, char *err);
TESSERA_API int QMX_ECard_Read(int *outLen, char *out, unsigned int timeout, char *err);

/* Chip bank card account number from its track-2 equivalent data;
 * accountNo >= 20 (16 to 19 digits, not terminated). 0, -100 open, -3 to
 * -10 (the last three append their message to err). Closes the session. */
TESSERA_API int QMX_ICBankCard_ReadNO(char *accountNo, char *err);

/* Magnetic stripe: raw tracks 2 and 3 (>= 256 bytes each, not terminated;
 * a longer track fails its read) with their lengths as decimal text (>= 4
 * bytes each). 0 (session closed), -100 open, -2..-7 (session left open). */
TESSERA_API int QMX_MagCardRead(unsigned int timeout, char *track2, char *track2Len,
                                char *track3, char *track3Len, char *err);
/* Account number from the stripe; accountNo >= 256, NUL-terminated.
 * 0, -100 open, -1 read failed, -2 no track data, -3 not a bank card's
 * track. Closes the session. */
TESSERA_API int QMX_MagicBankCard_ReadNo(int timeout, char *accountNo, char *err);

/* Keys typed on the reader's keypad (wait: low byte of timeout, 6..180):
 * out (bufSize bytes, zero-filled first) receives them, *outLen their count.
 * 0, -100 open, -2 bufSize not above the count, -3 time-out, -4 other.
 * Closes the session. */
TESSERA_API int QMX_KeyBoard_InputKey(int timeout, unsigned int bufSize, char *out,
                                      int *outLen, char *err);

#ifdef __cplusplus
}

/* State of one basic-information read, zero-filled before Step 1. */
struct AUTHENINFO_S {
    int nCardSlot;                      /* slot the user card answered in (0x12, 0x15) */
    int nAtrLen;                        /* length of abAtr's answer to reset */
    char szRegion[8];                   /* 6 digits: start of szCardCertID */
    unsigned char abAtr[84];            /* answer to reset (at most 33 bytes kept) */
    char szCardGen[3];                  /* '0' and the generation digit */
    char szSpecVer[5];                  /* "1.0" or the card's 4 version bytes */
    char szCardCertID[33];              /* identification code, 32 hex digits */
    unsigned char abRand1[8];           /* diversification input, first half of the challenge */
    unsigned char abRand2[8];           /* second half of the internal-authentication data */
    unsigned char abCardChallenge[8];   /* card's GET CHALLENGE (versions above 2) */
    unsigned char abRand3[8];           /* random half of the external authentication */
    unsigned char abCardAuthResult[8];  /* card's internal-authentication answer */
    unsigned char abPsamAuthResult[8];  /* the PSAM's expected answer */
    unsigned char abExtAuthCrypt[8];    /* the PSAM's external-authentication cryptogram */
};

/* Basic information, each field a terminated text of the given capacity. */
struct BASEINFO_S {
    char szResetTail[160];   /* hex digits 18..33 of the first 17 ATR bytes */
    char szCardCertID[33];
    char szRegion[8];
    char szCardType[2];
    char szSpecVer[5];
    char szInitOrgNo[25];    /* 24 hex digits */
    char szIssueDate[9];     /* 8 hex digits */
    char szValidDate[9];     /* 8 hex digits */
    char szCardNo[20];       /* 9 characters */
    char szSocialNo[19];
    char szName[31];         /* GBK, as read */
    char szNameExt[21];      /* as read; empty without record 4E */
    char szSex[2];
    char szNation[3];        /* 2 hex digits */
    char szBirthPlace[7];    /* 6 hex digits */
    char szBirthDate[9];     /* 8 hex digits */
    char abSpare[32];
};

/* Selects slot and resets its card: the answer to reset (at most 33 bytes)
 * into atr (>= 33 bytes), its length into *atrLen. The hub's result: 0x9000
 * when the card answered. */
TESSERA_API int QMX_PowerOn(int slot, unsigned char *atr, int *atrLen);

/* Card primitives: each selects slot, sends one command and returns 0 on
 * 0x9000, otherwise the status word (SelectEF: the status word itself, so
 * 0x9000 on success; GetRandom: the status word). */
/* SELECT "sx<gen>.sh.社会保障"; the response (at most 256 bytes) into resp
 * (>= 256), its length into *respLen. */
TESSERA_API int SelectSSSE(int slot, char gen, unsigned char *resp, int *respLen);
TESSERA_API int SelectEF(int slot, unsigned short fid);
TESSERA_API int SelectDF(int slot, unsigned short fid);
/* READ RECORD id with Le; the response (id, length, value; at most 256
 * bytes) into out (>= 256 bytes). */
TESSERA_API int ReadRecordByID(int slot, unsigned char id, unsigned char le, unsigned char *out);
/* GET CHALLENGE of 8 bytes into out (>= 8) on 0x9000. */
TESSERA_API int GetRandom(int slot, unsigned char *out);
/* Resets the PSAM in slot and reads its serial: 20 hex digits appended to
 * serialHex (>= 21 bytes holding an empty text), 12 of them into shortId
 * (>= 13). 0, or the failing status word with a message; -1 when serialHex
 * has no room left. Needs an open session. */
TESSERA_API int ReadPSAMID(int slot, char *serialHex, char *shortId, char *err);

/* The three steps of QMX_ReadCardBas: the card side (opening, version,
 * internal authentication, challenge), the PSAM side (search, diversified
 * encryptions) and the verification with the record reads. 0 or the step's
 * code with its message in err. Steps 2 and 3 take what the earlier steps
 * left in info. */
TESSERA_API int ReadCardBas_Step1(AUTHENINFO_S *info, char *err);
TESSERA_API int ReadCardBas_Step2(AUTHENINFO_S *info, char *err);
TESSERA_API int ReadCardBas_Step3(AUTHENINFO_S *info, BASEINFO_S *base, char *err);
#endif

#endif
