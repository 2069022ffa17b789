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

// Reads the card number (record 07 of EF05) into rec (256 bytes): 0, -36
// when the first read fails, -35 when its retry with the card's Le fails.
int readCardNo(int slot, unsigned char *rec);

}  // namespace tessera

#endif
