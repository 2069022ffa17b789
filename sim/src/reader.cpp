#include "reader.h"

#include <cjson/cJSON.h>

#include <cmath>
#include <cstring>

#include "samframe.h"

namespace vr {

namespace {
const char* const kSlotNames[] = {"contact", "esam", "tsam", "contactless", "psam1", "psam2", "psam3", "psam4"};
constexpr size_t kMaxQueuedCodes = 16;
bool is(const Bytes& c, std::initializer_list<uint8_t> head) {
  if (c.size() < head.size()) return false;
  return std::equal(head.begin(), head.end(), c.begin());
}
}  // namespace

Reader::Reader() {
  for (uint8_t n = kNadContact; n <= kNadPsam4; ++n) slots_[n];
  load(Profile());
}

void Reader::load(const Profile& p) {
  profile_ = p;
  for (auto& kv : slots_) kv.second = Slot();
  idCard_.clear();
  idPowered_ = idFound_ = idSelected_ = false;
  version_ = p.version;
  serial_.assign(p.serial.begin(), p.serial.end());
  serialErased_ = false;
  swiped_.reset();
  haveTracks_ = false;
  codes_.clear();
  keys_.reset();
  wait_ = WaitKind::None;
  std::string err;
  for (auto& kv : p.slots) insert(kv.first, kv.second, err);
}

int Reader::slotNad(const std::string& name) {
  for (int i = 0; i < 8; ++i)
    if (name == kSlotNames[i]) return kNadContact + i;
  if (name == "idcard") return kNadIdModule;
  char* end = nullptr;
  long v = strtol(name.c_str(), &end, 0);
  if (!name.empty() && *end == 0 && ((v >= kNadContact && v <= kNadPsam4) || v == kNadIdModule)) return int(v);
  return -1;
}

std::string Reader::slotName(int nad) {
  if (nad >= kNadContact && nad <= kNadPsam4) return kSlotNames[nad - kNadContact];
  if (nad == kNadIdModule) return "idcard";
  return "";
}

bool Reader::insert(const std::string& slotName, const std::string& card, std::string& err) {
  int nad = slotNad(slotName);
  if (nad < 0) {
    err = "unknown slot " + slotName;
    return false;
  }
  auto it = profile_.cards.find(card);
  if (it == profile_.cards.end()) {
    err = "no card named " + card;
    return false;
  }
  bool isId = it->second.kind == "idcard";
  if ((nad == kNadIdModule) != isId) {
    err = isId ? "an ID card goes on the idcard antenna" : "only ID cards go on the idcard antenna";
    return false;
  }
  if (nad == kNadIdModule) {
    idCard_ = card;
    idFound_ = idSelected_ = false;
    return true;
  }
  Slot& s = slots_[uint8_t(nad)];
  s.card = card;
  s.model = it->second.make();
  s.model->setContactless(nad == kNadContactless);
  s.powered = false;
  return true;
}

bool Reader::remove(const std::string& slotName, std::string& err) {
  int nad = slotNad(slotName);
  if (nad < 0) {
    err = "unknown slot " + slotName;
    return false;
  }
  if (nad == kNadIdModule) {
    idCard_.clear();
    idFound_ = idSelected_ = false;
  } else {
    slots_[uint8_t(nad)] = Slot();
  }
  return true;
}

bool Reader::hasCard(uint8_t nad) const {
  if (nad == kNadIdModule) return !idCard_.empty();
  auto it = slots_.find(nad);
  return it != slots_.end() && it->second.model != nullptr;
}

bool Reader::powered(uint8_t nad) const {
  auto it = slots_.find(nad);
  return it != slots_.end() && it->second.powered;
}

Outcome Reader::execute(uint8_t nad, const Bytes& c, int64_t nowMs) {
  if (c.size() < 4) return reply(swOnly(kSwWrongLength));
  if (nad == kNadSystem) return system(c, nowMs);
  if (nad >= kNadContact && nad <= kNadPsam4) return slot(nad, c);
  if (nad == kNadStripe) return stripe(c, nowMs);
  if (nad == kNadIdModule) return idModule(c);
  if (nad == kNadScanner) return scanner(c, nowMs);
  return reply(swOnly(kSwUnknownUnit));
}

Outcome Reader::startWait(WaitKind k, unsigned seconds, int64_t nowMs) {
  Outcome o;
  o.waits = true;
  wait_ = k;
  deadline_ = nowMs + int64_t(std::llround(seconds * 1000.0 * timeScale_));
  o.deadlineMs = deadline_;
  return o;
}

// Keys come back framed by their count and the Enter key (0x0D).
Bytes Reader::keysReply(const std::string& keys) const {
  Bytes b{static_cast<uint8_t>(keys.size())};
  append(b, keys);
  b.push_back(0x0D);
  return withSw(b, kSwOk);
}

Outcome Reader::system(const Bytes& c, int64_t nowMs) {
  if (is(c, {0x00, 0x19, 0x00, 0x00})) return reply(withSw(Bytes(version_.begin(), version_.end()), kSwOk));
  if (is(c, {0x00, 0x19, 0x01, 0x01})) {
    Bytes s = serial_;
    s.resize(20, 0x00);
    return reply(withSw(s, kSwOk));
  }
  if (is(c, {0x00, 0x19, 0x01, 0xEE})) {
    serial_.clear();
    serialErased_ = true;
    return reply(swOnly(kSwOk));
  }
  if (is(c, {0x00, 0x19, 0x01, 0x02})) {
    size_t n = c.size() > 4 ? c[4] : 0;
    if (c.size() != 5 + n || n == 0 || n > 20) return reply(swOnly(kSwWrongLength));
    if (!serialErased_) return reply(swOnly(kSwConditions));
    serial_.assign(c.begin() + 5, c.end());
    serialErased_ = false;
    return reply(swOnly(kSwOk));
  }
  if (is(c, {0xB0, 0xF2})) {
    ++beeps_;
    lastBeep_ = unsigned(c[2]) << 8 | c[3];
    return reply(swOnly(kSwOk));
  }
  if (is(c, {0xB0, 0x17, 0x00, 0x23})) {
    if (c.size() != 6) return reply(swOnly(kSwWrongLength));
    led_ = c[5];
    return reply(swOnly(kSwOk));
  }
  if (is(c, {0x00, 0xF9, 0x08})) {
    if (c.size() != 8 || c[4] != 0x03) return reply(swOnly(kSwWrongLength));
    if (keys_) {
      Bytes r = keysReply(*keys_);
      keys_.reset();
      return reply(r);
    }
    return startWait(WaitKind::Keys, c[3], nowMs);
  }
  if (is(c, {0xB0, 0xF9, 0x00, 0x00})) {
    if (wait_ == WaitKind::Keys) wait_ = WaitKind::None;
    keys_.reset();
    return reply(swOnly(kSwOk));
  }
  return reply(swOnly(kSwUnknownIns));
}

Outcome Reader::slot(uint8_t nad, const Bytes& c) {
  Slot& s = slots_[nad];
  bool reset = is(c, {0x00, 0x12, 0x00, 0x00});
  bool off = is(c, {0x00, 0x15, 0x00, 0x00});
  if (nad == kNadContact && is(c, {0x80, 0x17, 0x00, 0x00}))
    return reply(swOnly(s.model ? unsigned(kSwOk) : unsigned(kSwNoCard)));
  if (!s.model) return reply(swOnly(kSwNoCard));
  if (nad == kNadContact && is(c, {0x00, 0x59, 0x00, 0x00}))
    return reply(withSw(Bytes{s.model->typeByte()}, kSwOk));
  Card::Family fam = s.model->family();
  if (fam == Card::Family::Mifare) {
    if (nad != kNadContactless) return reply(swOnly(kSwNoCard));
    if (reset) {
      s.powered = true;
      return reply(withSw(s.model->reset(), kSwOk));
    }
    Bytes r = s.model->command(c);
    if (off) s.powered = false;
    else if (is(c, {0x80, 0x11, 0x09})) s.powered = true;
    return reply(r);
  }
  if (reset) {
    s.powered = true;
    return reply(withSw(s.model->reset(), kSwOk));
  }
  if (off) {
    s.powered = false;
    return reply(swOnly(kSwOk));
  }
  if (fam == Card::Family::Cpu && !s.powered) return reply(swOnly(kSwNotPowered));
  return reply(s.model->command(c));
}

Bytes Reader::swipeReply() { return swOnly(kSwOk); }

Outcome Reader::stripe(const Bytes& c, int64_t nowMs) {
  if (is(c, {0x80, 0x17, 0x03})) {
    trackMask_ = c[3];
    return reply(swOnly(kSwOk));
  }
  if (is(c, {0x00, 0x19, 0x06})) {
    if (c[3] > 1) return reply(swOnly(kSwWrongP1P2));
    controlled_ = c[3] == 1;
    return reply(swOnly(kSwOk));
  }
  if (is(c, {0x00, 0x19, 0x20})) {
    if (swiped_) {
      tracks_ = *swiped_;
      haveTracks_ = true;
      swiped_.reset();
      return reply(swipeReply());
    }
    return startWait(WaitKind::Swipe, c[3], nowMs);
  }
  if (is(c, {0x00, 0xB0}) && c[3] == 0x00) {
    uint8_t t = c[2];
    if (t < 1 || t > 3) return reply(swOnly(kSwWrongP1P2));
    const std::string& s = t == 1 ? tracks_.track1 : t == 2 ? tracks_.track2 : tracks_.track3;
    bool enabled = (trackMask_ >> (t - 1)) & 1 || trackMask_ == 0;
    if (!haveTracks_ || !enabled) return reply(swOnly(kSwOk));
    return reply(withSw(Bytes(s.begin(), s.end()), kSwOk));
  }
  if (is(c, {0x00, 0x19, 0x21})) {
    haveTracks_ = false;
    tracks_ = Stripe();
    controlled_ = false;
    return reply(swOnly(kSwOk));
  }
  return reply(swOnly(kSwUnknownIns));
}

Outcome Reader::scanner(const Bytes& c, int64_t nowMs) {
  if (is(c, {0x80, 0x17, 0x03})) {
    if (c[3] > 1) return reply(swOnly(kSwWrongP1P2));
    scanMode_ = c[3];
    return reply(swOnly(kSwOk));
  }
  if (is(c, {0xB0, 0xD0, 0x00, 0x00})) {
    // Lc is 0E or 00 (hosts differ); the text is always 14 characters.
    if (c.size() != 19 || (c[4] != 0x0E && c[4] != 0x00)) return reply(swOnly(kSwWrongLength));
    std::string t(c.begin() + 5, c.end());
    if (t.compare(0, 9, "FP-3N010=") != 0 || t[13] != ';' ||
        t.substr(9, 4).find_first_not_of("0123456789") != std::string::npos)
      return reply(swOnly(kSwWrongData));
    interval_ = unsigned(std::stoul(t.substr(9, 4)));
    return reply(swOnly(kSwOk));
  }
  if (is(c, {0xB0, 0xB0, 0x00}) || is(c, {0x00, 0xB0, 0x00})) {
    if (!codes_.empty()) {
      Bytes code = codes_.front();
      codes_.pop_front();
      return reply(withSw(code, kSwOk));
    }
    return startWait(WaitKind::Scan, c[3], nowMs);
  }
  return reply(swOnly(kSwUnknownIns));
}

Bytes Reader::samStep(uint8_t cmd, uint8_t param, uint8_t& sw3) {
  const IdCardData* card = nullptr;
  if (!idCard_.empty()) card = profile_.cards.at(idCard_).id.get();
  Bytes data;
  if (cmd == 0x12 && param == 0xFF) {
    sw3 = sam::kOk;
    data = hx("0501000000000000000000000000000000");  // module identity, 16 bytes
    data.resize(16);
  } else if (cmd == 0x61) {
    sw3 = sam::kOk;
  } else if (cmd == 0x20 && param == 0x01) {
    idFound_ = card != nullptr;
    idSelected_ = false;
    sw3 = idFound_ ? sam::kFound : sam::kFindFailed;
    if (idFound_) data = Bytes(4, 0x00);
  } else if (cmd == 0x20 && param == 0x02) {
    idSelected_ = idFound_ && card;
    sw3 = idSelected_ ? sam::kOk : sam::kSelectFailed;
    if (idSelected_) data = Bytes(8, 0x00);
  } else if (cmd == 0x30 && (param == 0x01 || param == 0x10)) {
    Bytes text;
    if (!idSelected_ || !card || !buildIdText(*card, text, nullptr)) {
      sw3 = sam::kReadFailed;
    } else {
      sw3 = sam::kOk;
      bool withFp = param == 0x10;
      put16(data, unsigned(text.size()));
      put16(data, unsigned(card->photo.size()));
      if (withFp) put16(data, unsigned(card->fingerprint.size()));
      append(data, text);
      append(data, card->photo);
      if (withFp) append(data, card->fingerprint);
    }
    idFound_ = idSelected_ = false;  // the next read starts from a new find
  } else {
    sw3 = sam::kUnknownCommand;
  }
  return data;
}

Outcome Reader::idModule(const Bytes& c) {
  if (is(c, {0x00, 0x12, 0x00, 0x00})) {
    idPowered_ = true;
    idFound_ = idSelected_ = false;
    return reply(swOnly(kSwOk));
  }
  if (is(c, {0x00, 0x15, 0x00, 0x00})) {
    idPowered_ = false;
    return reply(swOnly(kSwOk));
  }
  sam::Request rq;
  uint8_t bad = sam::parse(c, rq);
  if (!idPowered_) return reply(swOnly(kSwNotPowered));
  if (bad) return reply(withSw(sam::reply(bad, Bytes()), kSwSamBase | bad));
  uint8_t sw3 = 0;
  Bytes data = samStep(rq.cmd, rq.param, sw3);
  unsigned sw = (sw3 == sam::kOk || sw3 == sam::kFound) ? kSwOk : (kSwSamBase | sw3);
  return reply(withSw(sam::reply(sw3, data), sw));
}

IdReadResult Reader::readIdCard() {
  IdReadResult r;
  uint8_t sw3 = 0;
  samStep(0x20, 0x01, sw3);
  if (sw3 != sam::kFound) return r.status = sw3, r;
  samStep(0x20, 0x02, sw3);
  if (sw3 != sam::kOk) return r.status = sw3, r;
  const IdCardData& card = *profile_.cards.at(idCard_).id;
  if (!buildIdText(card, r.text, nullptr)) return r.status = sam::kReadFailed, r;
  r.photo = card.photo;
  r.fingerprint = card.fingerprint;
  idFound_ = idSelected_ = false;
  return r;
}

std::optional<Bytes> Reader::swipe(const Stripe& s) {
  if (wait_ == WaitKind::Swipe) {
    wait_ = WaitKind::None;
    tracks_ = s;
    haveTracks_ = true;
    return swipeReply();
  }
  swiped_ = s;
  return std::nullopt;
}

std::optional<Bytes> Reader::present(const Bytes& code) {
  if (wait_ == WaitKind::Scan) {
    wait_ = WaitKind::None;
    return withSw(code, kSwOk);
  }
  if (codes_.size() >= kMaxQueuedCodes) codes_.pop_front();
  codes_.push_back(code);
  return std::nullopt;
}

std::optional<Bytes> Reader::typeKeys(const std::string& keys) {
  if (wait_ == WaitKind::Keys) {
    wait_ = WaitKind::None;
    return keysReply(keys);
  }
  keys_ = keys;
  return std::nullopt;
}

std::optional<Bytes> Reader::expire(int64_t nowMs) {
  if (wait_ == WaitKind::None || nowMs < deadline_) return std::nullopt;
  wait_ = WaitKind::None;
  return swOnly(kSwTimeout);
}

std::string Reader::stateJson() const {
  cJSON* o = cJSON_CreateObject();
  cJSON* slots = cJSON_AddObjectToObject(o, "slots");
  for (auto& kv : slots_) {
    cJSON* s = cJSON_AddObjectToObject(slots, slotName(kv.first).c_str());
    cJSON_AddStringToObject(s, "card", kv.second.card.c_str());
    cJSON_AddBoolToObject(s, "powered", kv.second.powered);
  }
  cJSON* id = cJSON_AddObjectToObject(slots, "idcard");
  cJSON_AddStringToObject(id, "card", idCard_.c_str());
  cJSON_AddBoolToObject(id, "powered", idPowered_);
  cJSON* r = cJSON_AddObjectToObject(o, "reader");
  cJSON_AddStringToObject(r, "version", version_.c_str());
  cJSON_AddStringToObject(r, "serial", std::string(serial_.begin(), serial_.end()).c_str());
  cJSON_AddNumberToObject(r, "beeps", beeps_);
  cJSON_AddNumberToObject(r, "last_beep", lastBeep_);
  cJSON_AddNumberToObject(r, "led", led_);
  cJSON* st = cJSON_AddObjectToObject(o, "stripe");
  cJSON_AddStringToObject(st, "mode", controlled_ ? "controlled" : "auto");
  cJSON_AddNumberToObject(st, "tracks", trackMask_);
  cJSON_AddBoolToObject(st, "swipe_buffered", swiped_.has_value());
  cJSON_AddBoolToObject(st, "has_data", haveTracks_);
  cJSON* sc = cJSON_AddObjectToObject(o, "scanner");
  cJSON_AddNumberToObject(sc, "mode", scanMode_);
  cJSON_AddNumberToObject(sc, "interval", interval_);
  cJSON_AddNumberToObject(sc, "codes_buffered", double(codes_.size()));
  cJSON* kp = cJSON_AddObjectToObject(o, "keypad");
  cJSON_AddBoolToObject(kp, "keys_buffered", keys_.has_value());
  static const char* const waits[] = {"none", "keys", "swipe", "scan"};
  cJSON_AddStringToObject(o, "waiting", waits[int(wait_)]);
  cJSON_AddNumberToObject(o, "time_scale", timeScale_);
  char* txt = cJSON_PrintUnformatted(o);
  std::string s = txt ? txt : "{}";
  cJSON_free(txt);
  cJSON_Delete(o);
  return s;
}

}  // namespace vr
