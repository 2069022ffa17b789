// Command building and reply parsing of the card operations: pure
// functions over byte buffers and texts. Internal to libtessera.
#ifndef TESSERA_CARD_COMMANDS_H
#define TESSERA_CARD_COMMANDS_H

#include <cstddef>

namespace tessera {

// 00 A4 04 00 0F "sx" gen ".sh." C9 E7 BB E1 B1 A3 D5 CF ("社会保障" in GBK).
constexpr int kSelectSsseLen = 20;
void buildSelectSsse(char gen, unsigned char out[kSelectSsseLen]);

// The card generation digit: the byte after 86 01 in the FCI, read as a
// zero-terminated string within its first fciLen (<= 128) bytes, plus
// '0'; without it '2' when the identification code starts "11", else '1'.
char cardGeneration(const unsigned char *fci, std::size_t fciLen, const char *certId);

// The PSAM's diversification command BF DE 67 p2 lc followed by
//   ATR tail (8) | region (6) | "sx" | region[0..2] | "0000sh" | random (8)
// and, when lc is 0x28, 8 zero bytes. out holds 45 bytes; returns lc + 5.
int buildDiversify(unsigned char p2, unsigned char lc, const unsigned char atrTail[8],
                   const char region[6], const unsigned char random[8], unsigned char *out);
// The PSAM's encryption 80 FA 00 00 lc, random (8) and, when lc is 0x10, 8
// zero bytes. out holds 21 bytes; returns lc + 5.
int buildEncrypt(unsigned char lc, const unsigned char random[8], unsigned char *out);
// out[i] = in[i] ^ in[i + 8]: the two encrypted blocks folded into one.
void foldBlocks(const unsigned char in[16], unsigned char out[8]);

// Lc of the diversification and encryption by generation digit.
inline unsigned char diversifyLc(char gen) { return gen == '1' ? 0x20 : 0x28; }
inline unsigned char encryptLc(char gen) { return gen == '1' ? 0x08 : 0x10; }

// A first card-number read is retried with Le = its low byte when this
// bitwise test holds (it also holds for SW1 6D..6F, FC.. and the hub's
// negative codes).
inline bool cardNoRetry(int sw) { return (static_cast<unsigned>(sw) & 0x6C00u) == 0x6C00u; }

// Finds the account number in the hex text of a chip card's record: the
// characters between "571x" (tag 57, length byte 1x) and the separator 'D'.
// 0 with *start and *len set; -10 no tag, -9 no separator, -8 not 16 to 19
// characters.
int accountFromRecordHex(const char *hex, const char **start, int *len);

// The account number of a bank card's stripe from the track texts (each
// NUL-terminated): track 2 before '=' without the start sentinel ';', or,
// without track 2, track 3 after the sentinel and the format code 99. Writes
// it NUL-terminated into out (cap bytes). 0; -2 both tracks empty; -3 the
// track is not a bank card's (no '=', wrong format code, empty number, or
// a number that does not fit out). *track3Used tells which track was taken.
int accountFromTracks(const char *track2, const char *track3, char *out, std::size_t cap,
                      bool *track3Used);

// B0 D0 00 00 0E "FP-3N010=nnnn;" with the interval as four digits
// (19 bytes). false for an interval above 9999.
constexpr int kScanIntervalLen = 19;
bool buildScanInterval(unsigned interval, unsigned char out[kScanIntervalLen]);

// Waiting times as the reader takes them (one byte).
unsigned char scanWait(unsigned timeout);     // 0..2 become 3
unsigned char stripeWait(unsigned timeout);   // above 180 becomes 180
unsigned char keypadWait(int timeout);        // low byte; <= 5 becomes 6, > 180 becomes 180
int stripeAccountWait(int timeout);           // 0 or above 99 becomes 20

}  // namespace tessera

#endif
