#include "tessera_fake.h"

#include <json/json.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "tessera.h"

namespace {

struct Buffer {
  const char *name;
  char *p;
  size_t size;
};

constexpr size_t kErrSize = 1024;

std::mutex g_mu;
Json::Value g_script(Json::objectValue);
std::vector<std::string> g_calls;

bool ParseJson(const std::string &text, Json::Value &out) {
  Json::CharReaderBuilder b;
  std::unique_ptr<Json::CharReader> r(b.newCharReader());
  return r->parse(text.data(), text.data() + text.size(), &out, nullptr);
}

std::string Compact(const Json::Value &v) {
  Json::StreamWriterBuilder b;
  b["indentation"] = "";
  b["emitUTF8"] = true;
  return Json::writeString(b, v);
}

std::string FromHex(const std::string &hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(strtol(hex.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

// The script entry of fn: from the file named by TESSERA_FAKE_SCRIPT when
// set, else from the in-process script.
Json::Value Entry(const char *fn) {
  const char *file = getenv("TESSERA_FAKE_SCRIPT");
  if (file != nullptr && *file != '\0') {
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    Json::Value script;
    if (ParseJson(ss.str(), script) && script.isObject()) return script[fn];
    return Json::Value();
  }
  return g_script[fn];
}

bool AllZero(const char *p, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (p[i] != 0) return false;
  return true;
}

void Record(const Json::Value &rec) {
  const std::string line = Compact(rec);
  g_calls.push_back(line);
  const char *file = getenv("TESSERA_FAKE_CALLS");
  if (file != nullptr && *file != '\0') {
    std::ofstream out(file, std::ios::app);
    out << line << '\n';
  }
}

void Write(Buffer &b, const std::string &text) {
  memcpy(b.p, text.data(), std::min(text.size(), b.size));
}

// Records the call, then plays its script entry.
int Play(const char *fn, std::initializer_list<Buffer> outs, char *err, Json::Value rec,
         int *outLen = nullptr) {
  std::lock_guard<std::mutex> lock(g_mu);
  bool zeroed = AllZero(err, kErrSize);
  for (const Buffer &b : outs) zeroed = zeroed && AllZero(b.p, b.size);
  rec["fn"] = fn;
  rec["zeroed"] = zeroed;
  Record(rec);

  const Json::Value e = Entry(fn);
  if (!e.isObject()) return 0;
  for (Buffer b : outs) {
    if (e["out"].isMember(b.name)) Write(b, e["out"][b.name].asString());
    if (e["out_hex"].isMember(b.name)) Write(b, FromHex(e["out_hex"][b.name].asString()));
    // *outLen: the length of what the last buffer received.
    if (outLen != nullptr && b.name == (outs.end() - 1)->name && e["out"].isMember(b.name))
      *outLen = static_cast<int>(e["out"][b.name].asString().size());
    if (outLen != nullptr && b.name == (outs.end() - 1)->name && e["out_hex"].isMember(b.name))
      *outLen = static_cast<int>(FromHex(e["out_hex"][b.name].asString()).size());
  }
  if (e.isMember("err")) snprintf(err, kErrSize, "%s", e["err"].asCString());
  if (e.isMember("sleep_ms")) std::this_thread::sleep_for(std::chrono::milliseconds(e["sleep_ms"].asInt()));
  return e.get("ret", 0).asInt();
}

}  // namespace

bool TesseraFake_SetScript(const std::string &json) {
  Json::Value script;
  if (!ParseJson(json, script) || !script.isObject()) return false;
  std::lock_guard<std::mutex> lock(g_mu);
  g_script = script;
  g_calls.clear();
  return true;
}

void TesseraFake_Reset() {
  std::lock_guard<std::mutex> lock(g_mu);
  g_script = Json::Value(Json::objectValue);
  g_calls.clear();
}

std::vector<std::string> TesseraFake_Calls() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_calls;
}

extern "C" {

TESSERA_API int QMX_ReadCarNo(char *cardNo, char *err) {
  return Play("QMX_ReadCarNo", {{"cardNo", cardNo, 32}}, err, Json::Value(Json::objectValue));
}

TESSERA_API int QMX_ReadCardCertID(char *cardNo, char *certId, char *err) {
  return Play("QMX_ReadCardCertID", {{"cardNo", cardNo, 32}, {"certId", certId, 64}}, err,
              Json::Value(Json::objectValue));
}

TESSERA_API int QMX_ReadCardCity(char *region, char *err) {
  return Play("QMX_ReadCardCity", {{"region", region, 64}}, err, Json::Value(Json::objectValue));
}

TESSERA_API int QMX_ReadCardBas(char *certId, char *cardType, char *specVer, char *initOrgNo,
                                char *issueDate, char *validDate, char *cardNo, char *socialNo,
                                char *name, char *sex, char *nation, char *birthPlace,
                                char *birthDate, char *err) {
  return Play("QMX_ReadCardBas",
              {{"certId", certId, 64},
               {"cardType", cardType, 8},
               {"specVer", specVer, 8},
               {"initOrgNo", initOrgNo, 25},
               {"issueDate", issueDate, 24},
               {"validDate", validDate, 32},
               {"cardNo", cardNo, 16},
               {"socialNo", socialNo, 20},
               {"name", name, 66},
               {"sex", sex, 4},
               {"nation", nation, 13},
               {"birthPlace", birthPlace, 16},
               {"birthDate", birthDate, 9}},
              err, Json::Value(Json::objectValue));
}

TESSERA_API int QMX_IDCard_Read(char *name, char *sex, char *nation, char *birthDate,
                                char *address, char *idNumber, char *authority, char *validStart,
                                char *validEnd, char *err) {
  return Play("QMX_IDCard_Read",
              {{"name", name, 46},
               {"sex", sex, 32},
               {"nation", nation, 32},
               {"birthDate", birthDate, 32},
               {"address", address, 256},
               {"idNumber", idNumber, 32},
               {"authority", authority, 256},
               {"validStart", validStart, 256},
               {"validEnd", validEnd, 64}},
              err, Json::Value(Json::objectValue));
}

TESSERA_API int QMX_IDCard_ReadPhoto(char *name, char *sex, char *nation, char *birthDate,
                                     char *address, char *idNumber, char *authority,
                                     char *validStart, char *validEnd, unsigned char *photo,
                                     int *photoLen, char *err) {
  Json::Value rec(Json::objectValue);
  rec["photoLen"] = *photoLen;
  return Play("QMX_IDCard_ReadPhoto",
              {{"name", name, 46},
               {"sex", sex, 32},
               {"nation", nation, 32},
               {"birthDate", birthDate, 32},
               {"address", address, 256},
               {"idNumber", idNumber, 32},
               {"authority", authority, 256},
               {"validStart", validStart, 256},
               {"validEnd", validEnd, 64},
               {"photo", reinterpret_cast<char *>(photo), 1024}},
              err, rec, photoLen);
}

TESSERA_API int QMX_ICBankCard_ReadNO(char *accountNo, char *err) {
  return Play("QMX_ICBankCard_ReadNO", {{"accountNo", accountNo, 32}}, err,
              Json::Value(Json::objectValue));
}

TESSERA_API int QMX_ECard_SetAutoRead(int mode, char *err) {
  Json::Value rec(Json::objectValue);
  rec["mode"] = mode;
  return Play("QMX_ECard_SetAutoRead", {}, err, rec);
}

TESSERA_API int QMX_ECard_AutoReadTime(unsigned int interval, char *err) {
  Json::Value rec(Json::objectValue);
  rec["interval"] = interval;
  return Play("QMX_ECard_AutoReadTime", {}, err, rec);
}

TESSERA_API int QMX_ECard_Read(int *outLen, char *out, unsigned int timeout, char *err) {
  Json::Value rec(Json::objectValue);
  rec["timeout"] = timeout;
  rec["outLen"] = *outLen;
  return Play("QMX_ECard_Read", {{"out", out, 1024}}, err, rec, outLen);
}

}  // extern "C"
