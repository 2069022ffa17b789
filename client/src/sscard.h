// Social-security card steps shared by the card-number reads and the
// basic-information read. Internal to libtessera.
#ifndef TESSERA_SSCARD_H
#define TESSERA_SSCARD_H

namespace tessera {

// Outcome of opening the card, in the order the steps run.
enum class CardOpen { Ok, NoCard, SelectApp, SelectEf05 };

struct OpenedCard {
  int slot = 0;
  int atrLen = 0;
  unsigned char atr[84] = {};
  // The application's FCI, at most its first 128 bytes, zero when none.
  unsigned char fci[130] = {};
};

// Resets the card in the contact slot, else the contactless one, selects
// the application "sx1.sh.社会保障" (fetching a 61 xx answer) and EF05.
CardOpen openCard(OpenedCard &card);

// Status of a record that the card confirmed with 90 00 but that ends
// before its value does ("end of record reached before Le bytes"): the read
// fails instead of passing zeros off as card data.
constexpr int kSwShortRecord = 0x6282;

// READ RECORD id with Le le into out (256 bytes), like ReadRecordByID, but
// a record shorter than its tag, length and valueLen value bytes fails with
// kSwShortRecord. 0 or the failing status.
int readRecordValue(int slot, unsigned char id, unsigned char le, unsigned char *out,
                    int valueLen);

// Reads the card number (record 07 of EF05) into rec (256 bytes): 0, -36
// when the first read fails, -35 when its retry with the card's Le fails.
int readCardNo(int slot, unsigned char *rec);

}  // namespace tessera

#endif
