// The simulated bank card shared by the test drivers, the host exchange
// function and the pseudo-terminal readers of the tests: one process-wide
// card per interface, a log of every command and driver call, canned
// answers and injected driver failures. Built as a shared library so the
// drivers that libpayterm loads and the tests see the same card.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "bankcard.h"

#define PTCARD_API __attribute__((visibility("default")))

namespace ptcard {

using Bytes = std::vector<uint8_t>;
enum Slot { kContact = 0, kContactless = 1 };

// What the tests vary on the standard card (the demo profile's bank card).
struct CardOptions {
  std::string pan = "6217000012345678907";
  std::string name = "ZHANG/SAN";
  bool pse = true;
  bool qpboc = false;
  bool t0 = true;
  Bytes aid = {0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01, 0x01};
};
PTCARD_API vr::BankCardData bank_data(const CardOptions& opts = CardOptions());
// The card key the ARPC is computed with.
PTCARD_API vr::crypto::Key bank_key();

PTCARD_API void reset();
PTCARD_API std::shared_ptr<vr::BankCard> insert(Slot s, const vr::BankCardData& d);
PTCARD_API void remove(Slot s);
PTCARD_API bool present(Slot s);
// Cold reset: the ATR (contact) or ATS (contactless); empty without a card.
PTCARD_API Bytes power(Slot s);
// One command: the next canned answer if any, else the card's.
PTCARD_API Bytes transmit(Slot s, const Bytes& apdu);

// Canned answers, used before the card answers again.
PTCARD_API void script(const std::vector<Bytes>& answers);
// Commands the card (or the canned answers) received, in order.
PTCARD_API std::vector<Bytes> commands();
PTCARD_API void clear_commands();

// Driver calls as "name(arg,...)".
PTCARD_API void note(const std::string& call);
PTCARD_API std::vector<std::string> calls();
PTCARD_API void clear_calls();
// Makes the driver function fn return code (nonzero) from now on.
PTCARD_API void fail(const std::string& fn, int code);
PTCARD_API int failure(const std::string& fn);

// ARPC method 1 for the last ARQC: 3DES(key, ARQC XOR (ARC || 0..0)).
PTCARD_API Bytes arpc(const Bytes& arqc, const char arc[2]);

}  // namespace ptcard
