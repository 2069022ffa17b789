// In-target stand-in for hidapi (see fake_hid.cpp).
#ifndef HW_FUZZ_FAKE_HID_H
#define HW_FUZZ_FAKE_HID_H

#include <stddef.h>
#include <stdint.h>

namespace fakehid {

// count 64-byte input reports, played back in order after each command;
// with stale_first the first one is already waiting before any command.
void script(const uint8_t *reports, size_t count, bool stale_first);
size_t commands();      // whole commands written since script()

}  // namespace fakehid

#endif
