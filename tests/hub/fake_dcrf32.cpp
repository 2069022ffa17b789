#include "fake_dcrf32.h"

#include <cstdio>
#include <cstring>

#include "dcrf32.h"

namespace fake_dc {

std::deque<Answer> answers;
std::vector<std::string> calls;
short readResult, parseResult, otherResult;
unsigned textLen;
unsigned char text[256];
std::string parsed[11];
unsigned photoLen;

void reset() {
  answers.clear();
  calls.clear();
  readResult = parseResult = otherResult = 0;
  textLen = 256;
  photoLen = 0;
  std::memset(text, 0, sizeof text);
  for (auto& p : parsed) p.clear();
}

namespace {

std::string hex(const unsigned char* p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) snprintf(b, sizeof b, "%02X", p[i]), s += b;
  return s;
}

short answer(unsigned char* len, unsigned char* out) {
  Answer a = answers.empty() ? Answer{-2, {}} : answers.front();
  if (!answers.empty()) answers.pop_front();
  if (a.result == 0) {
    if (!a.bytes.empty()) std::memcpy(out, a.bytes.data(), a.bytes.size());
    *len = static_cast<unsigned char>(a.bytes.size());
  }
  return a.result;
}

short parse(unsigned char* const* outs, int n) {
  for (int i = 0; i < n; ++i) std::strcpy(reinterpret_cast<char*>(outs[i]), parsed[i].c_str());
  return parseResult;
}

}  // namespace

}  // namespace fake_dc

using namespace fake_dc;

extern "C" {

int dc_init(short, long) { return 3; }
short dc_exit(int) { return 0; }
short dc_setcpu(int, unsigned char a) {
  calls.push_back("setcpu " + hex(&a, 1));
  return 0;
}
short dc_cpureset(int, unsigned char* rlen, unsigned char* d) {
  calls.push_back("cpureset");
  return answer(rlen, d);
}
short dc_pro_reset(int, unsigned char* rlen, unsigned char* d) {
  calls.push_back("pro_reset");
  return answer(rlen, d);
}
short dc_cpuapdu(int, unsigned char slen, unsigned char* s, unsigned char* rlen, unsigned char* d) {
  calls.push_back("cpuapdu " + hex(s, slen));
  return answer(rlen, d);
}
short dc_pro_command(int, unsigned char slen, unsigned char* s, unsigned char* rlen, unsigned char* d,
                     unsigned char t) {
  calls.push_back("pro_command " + hex(s, slen) + " " + hex(&t, 1));
  return answer(rlen, d);
}
short dc_SamAReadCardInfo(int, int type, unsigned int* tl, unsigned char* t, unsigned int* pl, unsigned char* p,
                          unsigned int* fl, unsigned char*, unsigned int* el, unsigned char* extra) {
  calls.push_back("read " + std::to_string(type) + (extra ? " extra" : ""));
  *tl = textLen;
  std::memcpy(t, text, textLen < 256 ? textLen : 256);
  *fl = *el = 0;
  *pl = photoLen;
  for (unsigned i = 0; i < photoLen && i < 1024; ++i) p[i] = static_cast<unsigned char>(i);
  return readResult;
}
short dc_ParseTextInfo(int, int cs, unsigned int, unsigned char*, unsigned char* a, unsigned char* b,
                       unsigned char* c, unsigned char* d, unsigned char* e, unsigned char* f, unsigned char* g,
                       unsigned char* h, unsigned char* i, unsigned char*) {
  calls.push_back("parse resident " + std::to_string(cs));
  unsigned char* const outs[] = {a, b, c, d, e, f, g, h, i};
  return parse(outs, 9);
}
short dc_ParseTextInfoForForeigner(int, int cs, unsigned int, unsigned char*, unsigned char* a, unsigned char* b,
                                   unsigned char* c, unsigned char* d, unsigned char* e, unsigned char* f,
                                   unsigned char* g, unsigned char* h, unsigned char* i, unsigned char* j,
                                   unsigned char* k, unsigned char*) {
  calls.push_back("parse foreigner " + std::to_string(cs));
  unsigned char* const outs[] = {a, b, c, d, e, f, g, h, i, j, k};
  return parse(outs, 11);
}
short dc_ParseTextInfoForHkMoTw(int, int cs, unsigned int, unsigned char*, unsigned char* a, unsigned char* b,
                                unsigned char* c, unsigned char* d, unsigned char* e, unsigned char* f,
                                unsigned char* g, unsigned char* h, unsigned char* i, unsigned char* j,
                                unsigned char* k, unsigned char*) {
  calls.push_back("parse hkmotw " + std::to_string(cs));
  unsigned char* const outs[] = {a, b, c, d, e, f, g, h, i, j, k};
  return parse(outs, 11);
}
short dc_ParseOtherInfo(int, int flag, unsigned char* in, unsigned char* out) {
  calls.push_back("other " + std::to_string(flag) + " " + reinterpret_cast<char*>(in));
  if (otherResult == 0) std::sprintf(reinterpret_cast<char*>(out), "<%s>", reinterpret_cast<char*>(in));
  return otherResult;
}

}  // extern "C"
