// The reader families behind the hub: one table of operations each. The
// exported calls pick the table by DevType and forward to it.
#pragma once
#include <cstdint>

#include "id_text.h"

namespace portico {

struct ReaderFamily {
  int32_t devType;  // DevType while this family is selected
  // Opens the family's first reader: a handle > 0, or <= 0 when none answers.
  int64_t (*open)();
  // 0, or -1 with a message in msg (may be null).
  int (*close)(int64_t handle, char* msg);
  void (*setNad)(int64_t handle, uint8_t nad);
  int (*cpuReset)(int64_t handle, int* rlen, uint8_t* atr);
  int (*cpuProtocol)(int64_t handle, int slen, const uint8_t* sbuf, int* rlen, uint8_t* rbuf);
  // Fills out (and photo, when not null) only on success (0); a failure
  // writes its message to msg. With photo, a record that is missing from
  // the answer or larger than the buffer is a failure of the read itself.
  int (*idcardRead)(int64_t handle, IdText& out, IdPhoto* photo, char* msg);
};

extern const ReaderFamily kHidFamily;     // libhidlink, DevType 21
extern const ReaderFamily kVendorFamily;  // libdcrf32, DevType 19
extern const ReaderFamily kNoFamily;      // nothing opened yet: every call fails with -1

// OpenDev tries them in this order.
extern const ReaderFamily* const kOpenOrder[2];

const ReaderFamily& familyOf(int32_t devType);

// Writes text into msg from its first byte (msg may be null).
void putMessage(char* msg, const char* text);

}  // namespace portico
