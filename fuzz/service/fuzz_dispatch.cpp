// Fuzz target: the request dispatcher HandlerICReader, on an in-target
// stand-in for the nine card operations of libtessera.
//
// Input: byte 0 chooses the road (bit 0: WebSocket, i.e. UTF-8 to GBK
// first) and, with byte 1, seeds the stand-in's outcomes; the rest is the
// request text (up to its first zero byte, as the server passes it on).
// The stand-in checks that its output buffers arrive zero-filled over the
// documented minimum sizes, fills them completely or in part with any
// bytes (no terminator where the library gives none) and fails at times
// with a message. Checked: a turned-away request leaves the reply alone and
// names one of the three reasons; an accepted one gets a reply that parses
// back, echoes every request member unchanged, and carries the stand-in's
// result code, message and every output under its reply name.
#include <json/json.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dispatcher.h"
#include "fuzz_check.h"
#include "tessera.h"

namespace {

// What the stand-in did in the last call.
struct Outcome {
  std::string fn;  // empty: not called
  int ret = 0;
  std::string err;
  std::map<std::string, std::string> out;  // output name -> text as the caller reads it
  unsigned long long args = 0;             // the scalar argument
} g_last;

uint64_t g_rng;

unsigned Next() {
  g_rng ^= g_rng << 13;
  g_rng ^= g_rng >> 7;
  g_rng ^= g_rng << 17;
  return static_cast<unsigned>(g_rng >> 16);
}

// Bytes a card or library could hand back: text, quotes, escapes, control
// bytes, bytes of 0x80 and above, and now and then a zero byte.
char AnyByte() {
  static const char kPalette[] = "0123456789AZaz \"\\/\x01\x1f\x7f\x80\xa4\xe4\xb8\xad\xff";
  unsigned r = Next() % 40;
  if (r == 0) return '\0';
  if (r < 20) return kPalette[r % (sizeof kPalette - 1)];
  return static_cast<char>('0' + r % 10);
}

bool AllZero(const char *p, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (p[i] != 0) return false;
  return true;
}

void Begin(const char *fn, char *err) {
  g_last = Outcome();
  g_last.fn = fn;
  FUZZ_CHECK(err != nullptr && AllZero(err, 1024));
}

// Fills an output of the documented minimum size: a cut text, or every byte
// without terminator.
void Fill(const char *name, char *buf, size_t size) {
  FUZZ_CHECK(buf != nullptr && AllZero(buf, size));
  size_t n = Next() % 3 == 0 ? size : Next() % (size + 1);
  for (size_t i = 0; i < n; i++) buf[i] = AnyByte();
  g_last.out[name] = std::string(buf, strnlen(buf, size));
}

int Finish(char *err) {
  if (Next() % 3 != 0) return 0;
  g_last.ret = -static_cast<int>(1 + Next() % 200);
  size_t n = Next() % 64;
  for (size_t i = 0; i < n; i++) err[i] = AnyByte();
  err[n] = '\0';
  g_last.err = std::string(err, strlen(err));
  return g_last.ret;
}

}  // namespace

extern "C" {

int QMX_ReadCarNo(char *cardNo, char *err) {
  Begin("QMX_ReadCarNo", err);
  Fill("cardNo", cardNo, 10);
  return Finish(err);
}

int QMX_ReadCardCertID(char *cardNo, char *certId, char *err) {
  Begin("QMX_ReadCardCertID", err);
  Fill("cardNo", cardNo, 10);
  Fill("certId", certId, 33);
  return Finish(err);
}

int QMX_ReadCardCity(char *region, char *err) {
  Begin("QMX_ReadCardCity", err);
  Fill("region", region, 7);
  return Finish(err);
}

int QMX_ReadCardBas(char *certId, char *cardType, char *specVer, char *initOrgNo, char *issueDate,
                    char *validDate, char *cardNo, char *socialNo, char *name, char *sex,
                    char *nation, char *birthPlace, char *birthDate, char *err) {
  Begin("QMX_ReadCardBas", err);
  Fill("certId", certId, 33);
  Fill("cardType", cardType, 2);
  Fill("specVer", specVer, 5);
  Fill("initOrgNo", initOrgNo, 25);
  Fill("issueDate", issueDate, 9);
  Fill("validDate", validDate, 9);
  Fill("cardNo", cardNo, 10);
  Fill("socialNo", socialNo, 19);
  Fill("name", name, 66);
  Fill("sex", sex, 4);
  Fill("nation", nation, 13);
  Fill("birthPlace", birthPlace, 7);
  Fill("birthDate", birthDate, 9);
  return Finish(err);
}

int QMX_IDCard_Read(char *name, char *sex, char *nation, char *birthDate, char *address,
                    char *idNumber, char *authority, char *validStart, char *validEnd, char *err) {
  Begin("QMX_IDCard_Read", err);
  Fill("name", name, 46);
  Fill("sex", sex, 32);
  Fill("nation", nation, 32);
  Fill("birthDate", birthDate, 32);
  Fill("address", address, 256);
  Fill("idNumber", idNumber, 32);
  Fill("authority", authority, 256);
  Fill("validStart", validStart, 256);
  Fill("validEnd", validEnd, 64);
  return Finish(err);
}

int QMX_IDCard_ReadPhoto(char *name, char *sex, char *nation, char *birthDate, char *address,
                         char *idNumber, char *authority, char *validStart, char *validEnd,
                         unsigned char *photo, int *photoLen, char *err) {
  const int rc = QMX_IDCard_Read(name, sex, nation, birthDate, address, idNumber, authority,
                                 validStart, validEnd, err);
  g_last.fn = "QMX_IDCard_ReadPhoto";
  FUZZ_CHECK(photo != nullptr && photoLen != nullptr);
  // Any bytes, any length up to the record's size.
  const int n = static_cast<int>(Next() % (TESSERA_ID_PHOTO_SIZE + 1));
  for (int i = 0; i < n; i++) photo[i] = static_cast<unsigned char>(Next());
  *photoLen = n;
  g_last.args = static_cast<unsigned long long>(n);
  return rc;
}

int QMX_ICBankCard_ReadNO(char *accountNo, char *err) {
  Begin("QMX_ICBankCard_ReadNO", err);
  Fill("accountNo", accountNo, 20);
  return Finish(err);
}

int QMX_ECard_SetAutoRead(int mode, char *err) {
  Begin("QMX_ECard_SetAutoRead", err);
  FUZZ_CHECK(mode >= 0 && mode <= 255);
  g_last.args = static_cast<unsigned>(mode);
  return Finish(err);
}

int QMX_ECard_AutoReadTime(unsigned int interval, char *err) {
  Begin("QMX_ECard_AutoReadTime", err);
  g_last.args = interval;
  return Finish(err);
}

int QMX_ECard_Read(int *outLen, char *out, unsigned int timeout, char *err) {
  Begin("QMX_ECard_Read", err);
  FUZZ_CHECK(outLen != nullptr && *outLen == 0);
  g_last.args = timeout;
  Fill("out", out, 256);
  *outLen = static_cast<int>(g_last.out["out"].size());
  return Finish(err);
}

}  // extern "C"

namespace {

struct Operation {
  const char *funId;
  const char *fn;
  const char *param;
  // Reply member, stand-in output (nullptr: the constant text after it).
  std::vector<std::pair<const char *, const char *>> data;
  std::vector<std::pair<const char *, const char *>> constants;
};

const std::vector<Operation> &Operations() {
  static const std::vector<Operation> ops = {
      {"DKQ0001", "QMX_ReadCarNo", nullptr, {{"CardNo", "cardNo"}}, {{"CardType", "2"}}},
      {"DKQ0002",
       "QMX_ReadCardBas",
       nullptr,
       {{"Address", "birthPlace"}, {"Birthday", "birthDate"}, {"CardNo", "cardNo"},
        {"CardType", "cardType"}, {"ID", "socialNo"}, {"IssueDate", "issueDate"},
        {"IssueDeptID", "initOrgNo"}, {"Name", "name"}, {"Sex", "sex"}},
       {{"Company", ""}, {"IDType", "01"}, {"Telephone", ""}}},
      {"DKQ0003", "QMX_ReadCardCertID", nullptr, {{"CardCertID", "certId"}, {"CardNo", "cardNo"}},
       {{"CardType", "2"}}},
      {"DKQ0004", "QMX_ReadCardCity", nullptr, {{"City", "region"}}, {}},
      {"DKQ0005",
       "QMX_IDCard_Read",
       nullptr,
       {{"Activity", "validStart"}, {"Address", "address"}, {"Born", "birthDate"},
        {"CardNo", "idNumber"}, {"Name", "name"}, {"Police", "authority"}},
       {}},
      {"DKQ0007", "QMX_ICBankCard_ReadNO", nullptr, {{"MagBankNo", "accountNo"}}, {}},
      {"DKQ0010", "QMX_ECard_SetAutoRead", "SetAutoRead", {}, {}},
      {"DKQ0011", "QMX_ECard_Read", "Timeout", {{"ECardInfo", "out"}}, {}},
      {"DKQ0012", "QMX_ECard_AutoReadTime", "Timeout", {}, {}},
  };
  return ops;
}

bool ParseJson(const std::string &text, Json::Value &v) {
  static const Json::CharReaderBuilder builder = [] {
    Json::CharReaderBuilder b;
    b["failIfExtra"] = false;  // the dispatcher ignores text after the value
    return b;
  }();
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  return reader->parse(text.data(), text.data() + text.size(), &v, nullptr);
}

void CheckReply(const std::string &request, const std::string &reply) {
  FUZZ_CHECK(!reply.empty() && reply.back() == '\n');
  FUZZ_CHECK(reply.find('\n') == reply.size() - 1);
  Json::Value req, rep;
  FUZZ_CHECK(ParseJson(request, req) && req.isObject());
  FUZZ_CHECK(ParseJson(reply.substr(0, reply.size() - 1), rep) && rep.isObject());

  // Every request member comes back unchanged; TranData may gain the
  // missing scanner parameter as null.
  for (const std::string &k : req.getMemberNames()) {
    if (k == "ResultCode" || k == "ErrorInfo" || k == "ResultData") continue;
    FUZZ_CHECK(rep.isMember(k));
    if (k != "TranData") {
      FUZZ_CHECK(rep[k] == req[k]);
      continue;
    }
    const Json::Value &a = req[k], &b = rep[k];
    FUZZ_CHECK(b.isObject());
    for (const std::string &t : a.getMemberNames()) FUZZ_CHECK(b.isMember(t) && b[t] == a[t]);
    for (const std::string &t : b.getMemberNames())
      FUZZ_CHECK(a.isMember(t) || ((t == "SetAutoRead" || t == "Timeout") && b[t].isNull()));
  }
  FUZZ_CHECK(rep["FunID"].isString() && rep["FunID"] == req["FunID"]);
  FUZZ_CHECK(rep["ResultCode"].isInt() && rep["ErrorInfo"].isString());

  const std::string funId = req["FunID"].asString();
  const Operation *op = nullptr;
  for (const Operation &o : Operations())
    if (funId == o.funId) op = &o;
  const int code = rep["ResultCode"].asInt();
  const std::string info = rep["ErrorInfo"].asString();
  const Json::Value &data = rep["ResultData"];
  if (op == nullptr) {
    FUZZ_CHECK(g_last.fn.empty() && code == -1 && info == "该功能点暂未开发!" && data.isNull());
    return;
  }
  if (g_last.fn.empty()) {
    // Only a missing scanner parameter keeps the operation from running.
    FUZZ_CHECK(op->param != nullptr && req["TranData"][op->param].isNull());
    FUZZ_CHECK(code == -1 && data.isNull());
    FUZZ_CHECK(info == (std::string(op->param) == "Timeout" ? "缺少TimeOut 参数!" : "缺少SetAutoRead 参数!"));
    return;
  }
  // DKQ0005 with "Photo":"1" reads the photo too and adds its members.
  const Json::Value &photoParam = req["TranData"]["Photo"];
  const bool withPhoto = funId == "DKQ0005" && photoParam.isString() && photoParam.asString() == "1";
  FUZZ_CHECK(g_last.fn == (withPhoto ? std::string("QMX_IDCard_ReadPhoto") : std::string(op->fn)));
  FUZZ_CHECK(code == g_last.ret);
  if (withPhoto && code == 0) {
    FUZZ_CHECK(data.isObject() && data["PhotoRaw"].isString() && data["Photo"].isString());
    FUZZ_CHECK(data["PhotoRaw"].asString().size() == (g_last.args + 2) / 3 * 4);
    const bool decoded = !data["Photo"].asString().empty();
    FUZZ_CHECK(decoded ? !data.isMember("PhotoError") && data["Photo"].asString().rfind("data:image/png;base64,", 0) == 0
                       : data["PhotoError"].isString());
    FUZZ_CHECK(data.size() == op->data.size() + (decoded ? 2 : 3));
    for (const auto &m : op->data) FUZZ_CHECK(data[m.first].asString() == g_last.out[m.second]);
    return;
  }
  if (op->param != nullptr) {
    const long v = strtol(req["TranData"][op->param].asCString(), nullptr, 10);
    const unsigned long long want =
        funId == "DKQ0010" ? static_cast<unsigned char>(v) : static_cast<unsigned>(v);
    FUZZ_CHECK(g_last.args == want);
  }
  if (code != 0) {
    FUZZ_CHECK(info == g_last.err && data.isNull());
    return;
  }
  FUZZ_CHECK(info.empty());
  if (op->data.empty() && op->constants.empty()) {
    FUZZ_CHECK(data.isNull());
    return;
  }
  FUZZ_CHECK(data.isObject() && data.size() == op->data.size() + op->constants.size());
  for (const auto &m : op->data) FUZZ_CHECK(data[m.first].isString() && data[m.first].asString() == g_last.out[m.second]);
  for (const auto &m : op->constants) FUZZ_CHECK(data[m.first].isString() && data[m.first].asString() == m.second);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***) {
  // Under libFuzzer (which passes its arguments) the dispatcher's log on
  // standard output is dropped; the fuzzer reports on stderr. The corpus
  // replay of the test suite keeps its output.
  if (argc != nullptr && freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const bool websocket = data[0] & 1;
  g_rng = 0x243F6A8885A308D3ull ^ (static_cast<uint64_t>(data[0]) << 8 | data[1]);
  g_last = Outcome();
  std::string text(reinterpret_cast<const char *>(data) + 2, size - 2);
  text.resize(strlen(text.c_str()));

  std::string request = text;
  if (websocket) {
    // As a WebSocket message: converted to GBK into a buffer that always
    // keeps a terminator, whatever the conversion gives.
    std::vector<char> gbk(text.size() * 2 + 1, '\x5a');
    int r = Utf8ToGbk(text.c_str(), text.size(), gbk.data(), gbk.size());
    FUZZ_CHECK(r == 0 || r == -1);
    FUZZ_CHECK(gbk.back() == '\0');
    request = gbk.data();
    FUZZ_CHECK(request.size() <= text.size());
    bool ascii = true;
    for (unsigned char c : text) ascii = ascii && c < 0x80;
    if (ascii) FUZZ_CHECK(r == 0 && request == text);
  }

  std::string reply = "untouched", err;
  int rc = HandlerICReader(nullptr, request.c_str(), reply, err);
  if (rc != 0) {
    FUZZ_CHECK(rc == -1 && reply == "untouched" && g_last.fn.empty());
    FUZZ_CHECK(err == kMsgBadJson || err == kMsgBadFunID || err == kMsgBadRegion);
    reply.clear();
  } else {
    FUZZ_CHECK(err.empty() || err == g_last.err);
    CheckReply(request, reply);
  }
  // The HTTP route hands the same reply to its sender (an empty one for a
  // request turned away); the stand-in repeats its outcomes when reseeded.
  if (!websocket) {
    g_rng = 0x243F6A8885A308D3ull ^ (static_cast<uint64_t>(data[0]) << 8 | data[1]);
    int sent = 0;
    std::string body = "unsent";
    FUZZ_CHECK(DoHttpHandle("/http/hardware", text, nullptr, [&](mg_connection *, const std::string &r) {
      sent++;
      body = r;
    }));
    FUZZ_CHECK(sent == 1 && body == reply);
  }
  return 0;
}
