// The reader session shared by every operation, and the helpers the
// operations use to talk to the hub. Internal to libtessera.
#ifndef TESSERA_SESSION_H
#define TESSERA_SESSION_H

#include <cstddef>
#include <cstdint>

#include "portico.h"
#include "tessera.h"

// Process-wide session state. g_hDev: the hub's handle (> 0 while open; -1
// before the first open, 0 after a close); bIsOpen: 1 while open; szPath:
// config.ini beside the running program, rebuilt at every open ("" when the
// program's directory cannot be read).
extern int64_t g_hDev;
extern unsigned char bIsOpen;
extern char szPath[1024];

namespace tessera {

// Error texts never grow beyond the 1024 bytes every caller provides.
constexpr std::size_t kErrCap = 1024;
// The hub never hands back more reply data than this (a longer answer is
// refused), nor a longer answer to reset than kAtrCap.
constexpr int kReplyCap = PORTICO_RESPONSE_SIZE;
constexpr int kAtrCap = PORTICO_ATR_SIZE;
// An answer to reset has at most 33 bytes.
constexpr int kAtrMax = 33;

// Node addresses used by this library.
enum Slot : int {
  kSlotReader = 0x00,
  kSlotContact = 0x12,
  kSlotContactless = 0x15,
  kSlotPsamFirst = 22,
  kSlotPsamLast = 25,
  kSlotStripe = 0x1A,
  kSlotScanner = 0x1C,
};

constexpr int kSwOk = 0x9000;
// Status words as the hub returns them: a negative hub code never matches.
inline bool swIs(int sw, int sw1) { return (static_cast<unsigned>(sw) & 0xFFFF00u) == (static_cast<unsigned>(sw1) << 8); }

// Writes msg from the first byte of err; appends msg to err's text.
void setErr(char *err, const char *msg);
void appendErr(char *err, const char *msg);

// Opens the session unless it is open (port 21, empty pass-through text);
// false with the hub's message in err when no reader answers.
bool openOnDemand(char *err);

// One exchange's outcome: status word (or negative hub code) and data.
struct Reply {
  int sw = 0;
  int len = 0;
  unsigned char data[kReplyCap];
};

// Sends cmd to the currently selected slot; the reply data are zero-filled
// first and their count clamped to the buffer. Returns r.sw.
int exchange(const unsigned char *cmd, int len, Reply &r);
// The same after selecting slot.
int exchangeOn(int slot, const unsigned char *cmd, int len, Reply &r);
// Fetches a 61 xx answer with GET RESPONSE (00 C0 00 00 xx) on the
// selected slot; r then holds that command's outcome.
int getResponse(int sw, Reply &r);

// Fills p with n bytes from the system's cryptographic generator.
bool randomBytes(unsigned char *p, std::size_t n);

}  // namespace tessera

#endif
