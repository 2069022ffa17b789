#include "ptcard.h"

#include <deque>
#include <map>
#include <mutex>

namespace ptcard {

namespace {

const char kKey[] = "0123456789ABCDEFFEDCBA9876543210";
const Bytes kAts = {0x10, 0x78, 0x80, 0x70, 0x02, 0x86, 0x58, 0x99, 0x00, 0x00, 0x00};

struct Hub {
  std::mutex m;
  std::shared_ptr<vr::BankCard> card[2];
  std::deque<Bytes> canned;
  std::vector<Bytes> log;
  std::vector<std::string> calls;
  std::map<std::string, int> failures;
};

Hub& hub() {
  static Hub h;
  return h;
}

}  // namespace

vr::crypto::Key bank_key() {
  vr::crypto::Key k;
  vr::crypto::keyFromHex(kKey, k);
  return k;
}

vr::BankCardData bank_data(const CardOptions& opts) {
  vr::BankCardData d;
  d.atr = vr::hx("3B6900008131FE454A434F50323156");
  d.t0 = opts.t0;
  d.pse = opts.pse;
  d.qpboc = opts.qpboc;
  d.aid = opts.aid;
  d.label = "PBOC DEBIT";
  d.pdol = vr::hx("9F66049F02069F03069F1A0295055F2A029A039C019F3704");
  d.cdol1 = vr::hx("9F02069F03069F1A0295055F2A029A039C019F37049F21039F4E14");
  d.cdol2 = vr::hx("8A029F02069F03069F1A0295055F2A029A039C019F3704");
  d.aip = vr::hx("7C00");
  d.key = bank_key();
  d.pin = "123456";
  vr::BankCardFields f;
  f.pan = opts.pan;
  f.expiry = "3012";
  f.effective = "2012";
  f.name = opts.name;
  f.holderId = "110105199003072813";
  vr::buildBankRecords(f, d);
  d.data[0x9F79] = vr::hx("000000010000");
  d.data[0x9F77] = vr::hx("000000100000");
  d.data[0x9F78] = vr::hx("000000100000");
  d.data[0x9F6D] = vr::hx("000000000000");
  d.data[0x9F51] = vr::hx("0156");
  d.data[0x9F13] = vr::hx("0000");
  d.logFormat = vr::hx("9A039F21039F02069F03069F1A025F2A029F4E149C019F3602");
  return d;
}

void reset() {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  h.card[0].reset();
  h.card[1].reset();
  h.canned.clear();
  h.log.clear();
  h.calls.clear();
  h.failures.clear();
}

std::shared_ptr<vr::BankCard> insert(Slot s, const vr::BankCardData& d) {
  auto c = std::make_shared<vr::BankCard>(d);
  c->setContactless(s == kContactless);
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  h.card[s] = c;
  return c;
}

void remove(Slot s) {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  h.card[s].reset();
}

bool present(Slot s) {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  return h.card[s] != nullptr;
}

Bytes power(Slot s) {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  if (!h.card[s]) return Bytes();
  Bytes atr = h.card[s]->reset();
  return s == kContact ? atr : kAts;
}

Bytes transmit(Slot s, const Bytes& apdu) {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  h.log.push_back(apdu);
  if (!h.canned.empty()) {
    Bytes r = h.canned.front();
    h.canned.pop_front();
    return r;
  }
  if (!h.card[s]) return Bytes();
  return h.card[s]->command(apdu);
}

void script(const std::vector<Bytes>& answers) {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  h.canned.insert(h.canned.end(), answers.begin(), answers.end());
}

std::vector<Bytes> commands() {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  return h.log;
}

void clear_commands() {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  h.log.clear();
}

void note(const std::string& call) {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  h.calls.push_back(call);
}

std::vector<std::string> calls() {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  return h.calls;
}

void clear_calls() {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  h.calls.clear();
}

void fail(const std::string& fn, int code) {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  h.failures[fn] = code;
}

int failure(const std::string& fn) {
  Hub& h = hub();
  std::lock_guard<std::mutex> g(h.m);
  auto it = h.failures.find(fn);
  return it == h.failures.end() ? 0 : it->second;
}

Bytes arpc(const Bytes& arqc, const char arc[2]) {
  uint8_t in[8] = {uint8_t(arc[0]), uint8_t(arc[1]), 0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < 8 && i < arqc.size(); ++i) in[i] ^= arqc[i];
  vr::crypto::Block b = vr::crypto::encryptBlock(bank_key(), in);
  return Bytes(b.begin(), b.end());
}

}  // namespace ptcard
