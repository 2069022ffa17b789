// The reader's firmware: units by node address, the cards in its slots, the
// stripe head, the QR scanner, the keypad and the ID-card module.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bytes.h"
#include "card.h"
#include "profile.h"

namespace vr {

// Node addresses.
enum : uint8_t {
  kNadSystem = 0x00,
  kNadContact = 0x12,
  kNadEsam = 0x13,
  kNadTsam = 0x14,
  kNadContactless = 0x15,
  kNadPsam1 = 0x16,
  kNadPsam4 = 0x19,
  kNadStripe = 0x1A,
  kNadIdModule = 0x1B,
  kNadScanner = 0x1C,
};

// Status words of the firmware itself.
enum : unsigned {
  kSwNoCard = 0x6FF0,       // no card in the slot
  kSwNotPowered = 0x6FF3,   // card present but not reset
  kSwFraming = 0x6F00,      // a report train the firmware could not assemble
  kSwTimeout = 0x6902,      // a wait for keys, a swipe or a code ran out
  kSwUnknownUnit = 0x6A81,  // no unit at this node address
  kSwSamBase = 0x6F00,      // 6F xx: the ID module's SAM answered SW3 = xx
};

enum class WaitKind { None, Keys, Swipe, Scan };

struct Outcome {
  bool waits = false;  // no reply yet: the unit waits until `deadlineMs`
  Bytes reply;         // data and status word
  int64_t deadlineMs = 0;
};

struct IdReadResult {
  int status = 0;  // 0, or the SAM status byte of the failing step
  Bytes text, photo, fingerprint;
};

class Reader {
 public:
  Reader();
  void load(const Profile& p);  // puts the profile's cards into their slots
  const Profile& profile() const { return profile_; }

  Outcome execute(uint8_t nad, const Bytes& cmd, int64_t nowMs);

  // Slots by name: contact, esam, tsam, contactless, psam1..psam4, idcard.
  static int slotNad(const std::string& name);  // -1 unknown; idcard -> 0x1B
  static std::string slotName(int nad);
  bool insert(const std::string& slot, const std::string& card, std::string& err);
  bool remove(const std::string& slot, std::string& err);
  bool hasCard(uint8_t nad) const;
  bool powered(uint8_t nad) const;

  // Events from the outside world. While the matching wait is pending they
  // complete it and return its reply; otherwise they are kept for the next
  // wait (the head, scanner and keypad buffer one entry each kind).
  std::optional<Bytes> swipe(const Stripe& s);
  std::optional<Bytes> present(const Bytes& code);
  std::optional<Bytes> typeKeys(const std::string& keys);
  std::optional<Bytes> expire(int64_t nowMs);  // the time-out reply when due
  void cancelWait() { wait_ = WaitKind::None; }
  WaitKind waiting() const { return wait_; }
  int64_t deadline() const { return deadline_; }

  // Whole ID-card read for the vendor family.
  IdReadResult readIdCard();

  void setTimeScale(double s) { timeScale_ = s; }
  double timeScale() const { return timeScale_; }
  // State for the `state` control command (a JSON object text).
  std::string stateJson() const;

 private:
  struct Slot {
    std::string card;
    std::unique_ptr<Card> model;
    bool powered = false;
  };
  Outcome reply(Bytes b) { Outcome o; o.reply = std::move(b); return o; }
  Outcome startWait(WaitKind k, unsigned seconds, int64_t nowMs);
  Outcome system(const Bytes& c, int64_t nowMs);
  Outcome slot(uint8_t nad, const Bytes& c);
  Outcome stripe(const Bytes& c, int64_t nowMs);
  Outcome scanner(const Bytes& c, int64_t nowMs);
  Outcome idModule(const Bytes& c);
  Bytes samStep(uint8_t cmd, uint8_t param, uint8_t& sw3);
  Bytes keysReply(const std::string& keys) const;
  Bytes swipeReply();

  Profile profile_;
  std::map<uint8_t, Slot> slots_;
  std::string idCard_;  // name of the card on the ID module's antenna
  bool idPowered_ = false, idFound_ = false, idSelected_ = false;
  std::string version_;
  Bytes serial_;
  bool serialErased_ = false;
  unsigned beeps_ = 0, lastBeep_ = 0;
  int led_ = -1;
  // stripe head
  bool controlled_ = false;
  uint8_t trackMask_ = 0x06;
  std::optional<Stripe> swiped_;  // a swipe waiting for the next wait
  bool haveTracks_ = false;
  Stripe tracks_;
  // scanner
  int scanMode_ = 0;
  unsigned interval_ = 0;
  std::deque<Bytes> codes_;
  // keypad
  std::optional<std::string> keys_;
  WaitKind wait_ = WaitKind::None;
  int64_t deadline_ = 0;
  double timeScale_ = 1.0;
};

}  // namespace vr
