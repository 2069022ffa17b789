#include "dispatcher.h"

#include <iconv.h>
#include <json/json.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "id_photo.h"
#include "svc_log.h"
#include "tessera.h"

const char kMsgBadJson[] = "JSON格式错误，无法解析！";
const char kMsgBadFunID[] = "JSON FunID 解析失败！";
const char kMsgBadRegion[] = "JSON Region 解析失败！";
const char kMsgBusy[] = "读卡服务繁忙，请稍后重试";

namespace {

std::atomic<CardQueueFn> s_cardQueue{nullptr};  // set by every server as it starts

const char kMsgNotDeveloped[] = "该功能点暂未开发!";
const char kMsgNoSetAutoRead[] = "缺少SetAutoRead 参数!";
const char kMsgNoTimeout[] = "缺少TimeOut 参数!";

constexpr size_t kFunIdSize = 10;   // 9 characters and the terminator
constexpr size_t kRegionSize = 100;
constexpr size_t kErrSize = 1024;

// A buffer's text up to its first zero byte, never past its end.
std::string BufText(const char *buf, size_t size) { return std::string(buf, strnlen(buf, size)); }

template <size_t N>
std::string BufText(const char (&buf)[N]) {
  return BufText(buf, N);
}

// A member read as text: absent or null reads as "", a string as its bytes.
// Any other type is a malformed request.
bool ReadText(const Json::Value &v, std::string &out) {
  if (v.isNull()) {
    out.clear();
    return true;
  }
  if (!v.isString()) return false;
  out = v.asString();
  return true;
}

// strtol with base 10: leading blanks and a sign accepted, stops at the first
// non-digit, 0 without digits.
long ToLong(const Json::Value &v) { return strtol(v.asCString(), nullptr, 10); }

// One dispatch: the request document (members may be added), the error text
// buffer and the reply data object.
struct Call {
  Json::Value &root;
  char *err;
  Json::Value &data;
};

// The scanner parameters are looked up in place, which adds them as null to
// the echoed TranData when the client did not send them.
Json::Value &Param(Json::Value &root, const char *name) { return root["TranData"][name]; }

int ReadCarNo(Call &c) {
  char cardNo[32] = {0};
  int ret = QMX_ReadCarNo(cardNo, c.err);
  if (ret == 0) {
    c.data["CardType"] = "2";
    c.data["CardNo"] = BufText(cardNo);
  }
  return ret;
}

int ReadCardBas(Call &c) {
  char certId[64] = {0}, cardType[8] = {0}, specVer[8] = {0}, initOrgNo[25] = {0},
       issueDate[24] = {0}, validDate[32] = {0}, cardNo[16] = {0}, socialNo[20] = {0},
       name[66] = {0}, sex[4] = {0}, nation[13] = {0}, birthPlace[16] = {0}, birthDate[9] = {0};
  int ret = QMX_ReadCardBas(certId, cardType, specVer, initOrgNo, issueDate, validDate, cardNo,
                            socialNo, name, sex, nation, birthPlace, birthDate, c.err);
  if (ret == 0) {
    c.data["CardType"] = BufText(cardType);
    c.data["CardNo"] = BufText(cardNo);
    c.data["Name"] = BufText(name);
    c.data["Sex"] = BufText(sex);
    c.data["Birthday"] = BufText(birthDate);
    c.data["IDType"] = "01";
    c.data["ID"] = BufText(socialNo);
    c.data["IssueDeptID"] = BufText(initOrgNo);
    c.data["IssueDate"] = BufText(issueDate);
    c.data["Company"] = "";
    c.data["Address"] = BufText(birthPlace);
    c.data["Telephone"] = "";
  }
  return ret;
}

int ReadCardCertID(Call &c) {
  char cardNo[32] = {0}, certId[64] = {0};
  int ret = QMX_ReadCardCertID(cardNo, certId, c.err);
  if (ret == 0) {
    c.data["CardType"] = "2";
    c.data["CardNo"] = BufText(cardNo);
    c.data["CardCertID"] = BufText(certId);
  }
  return ret;
}

int ReadCardCity(Call &c) {
  char region[64] = {0};
  int ret = QMX_ReadCardCity(region, c.err);
  if (ret == 0) c.data["City"] = BufText(region);
  return ret;
}

int IDCardRead(Call &c) {
  char name[46] = {0}, sex[32] = {0}, nation[32] = {0}, born[32] = {0}, address[256] = {0},
       idNumber[32] = {0}, police[256] = {0}, validStart[256] = {0}, validEnd[64] = {0};
  // Only "Photo":"1" asks for the photo; the lookup must not add the member.
  const Json::Value &photoParam = static_cast<const Json::Value &>(c.root)["TranData"]["Photo"];
  const bool withPhoto = photoParam.isString() && photoParam.asString() == "1";
  unsigned char photo[TESSERA_ID_PHOTO_SIZE];
  int photoLen = 0;
  int ret = withPhoto ? QMX_IDCard_ReadPhoto(name, sex, nation, born, address, idNumber, police,
                                             validStart, validEnd, photo, &photoLen, c.err)
                      : QMX_IDCard_Read(name, sex, nation, born, address, idNumber, police,
                                        validStart, validEnd, c.err);
  if (ret == 0) {
    if (withPhoto) AddIdPhoto(photo, photoLen, c.data);
    c.data["Name"] = BufText(name);
    c.data["Born"] = BufText(born);
    c.data["Address"] = BufText(address);
    c.data["CardNo"] = BufText(idNumber);
    c.data["Police"] = BufText(police);
    c.data["Activity"] = BufText(validStart);
  }
  return ret;
}

int ICBankCardReadNO(Call &c) {
  char accountNo[32] = {0};
  int ret = QMX_ICBankCard_ReadNO(accountNo, c.err);
  if (ret == 0) c.data["MagBankNo"] = BufText(accountNo);
  return ret;
}

int ECardSetAutoRead(Call &c) {
  Json::Value &p = Param(c.root, "SetAutoRead");
  if (p.isNull()) {
    snprintf(c.err, kErrSize, "%s", kMsgNoSetAutoRead);
    return -1;
  }
  const long v = ToLong(p);
  SvcLog("%d", static_cast<int32_t>(static_cast<uint32_t>(v)));
  return QMX_ECard_SetAutoRead(static_cast<uint8_t>(v), c.err);
}

int ECardRead(Call &c) {
  Json::Value &p = Param(c.root, "Timeout");
  if (p.isNull()) {
    snprintf(c.err, kErrSize, "%s", kMsgNoTimeout);
    return -1;
  }
  const uint32_t timeout = static_cast<uint32_t>(ToLong(p));
  SvcLog("%u", timeout);
  int32_t len = 0;
  char qr[1024] = {0};
  int ret = QMX_ECard_Read(&len, qr, timeout, c.err);
  if (ret == 0) c.data["ECardInfo"] = BufText(qr);
  return ret;
}

int ECardAutoReadTime(Call &c) {
  Json::Value &p = Param(c.root, "Timeout");
  if (p.isNull()) {
    snprintf(c.err, kErrSize, "%s", kMsgNoTimeout);
    return -1;
  }
  return QMX_ECard_AutoReadTime(static_cast<uint32_t>(ToLong(p)), c.err);
}

struct Operation {
  const char *funId;
  const char *startLine;
  const char *param;  // TranData member the operation needs, or nullptr
  int (*run)(Call &);
};

const Operation kOperations[] = {
    {"DKQ0001", "\r\n开始读社保卡卡号\r", nullptr, ReadCarNo},
    {"DKQ0002", "\r\n开始读社保卡医保读卡接口\r", nullptr, ReadCardBas},
    {"DKQ0003", "\r\n开始读社保卡卡识别码接口\r", nullptr, ReadCardCertID},
    {"DKQ0004", "\r\n开始读社保卡地区编号接口\r", nullptr, ReadCardCity},
    {"DKQ0005", "\r\n开始读身份证接口\r", nullptr, IDCardRead},
    {"DKQ0007", "\r\n开始读芯片银行卡\r", nullptr, ICBankCardReadNO},
    {"DKQ0010", "\r\n开始设置扫码模式\r", "SetAutoRead", ECardSetAutoRead},
    {"DKQ0011", "\r\n开始读取手动扫码信息\r", "Timeout", ECardRead},
    {"DKQ0012", "\r\n开始设置自动扫码间隔\r", "Timeout", ECardAutoReadTime},
};

const Operation *FindOperation(const char *funId) {
  for (const Operation &op : kOperations)
    if (strcmp(op.funId, funId) == 0) return &op;
  return nullptr;
}

int Reject(std::string &errMsg, const char *msg) {
  errMsg = msg;
  SvcLog("\r\n\t ErrMsg = %s", msg);
  return -1;
}

// jsoncpp lets comments through inside objects and arrays even with comments
// off. Outside string literals a slash only ever starts a comment, so any
// such slash in the top-level value makes the text malformed. The scan ends
// with that value: what follows it is ignored, as by the parser.
bool HasCommentOutsideStrings(const char *text) {
  bool inString = false;
  int depth = 0;
  for (const char *p = text; *p != '\0'; p++) {
    if (inString) {
      if (*p == '\\' && p[1] != '\0')
        p++;
      else if (*p == '"')
        inString = false;
    } else if (*p == '"') {
      inString = true;
    } else if (*p == '/') {
      return true;
    } else if (*p == '{' || *p == '[') {
      depth++;
    } else if ((*p == '}' || *p == ']') && --depth <= 0) {
      return false;
    }
  }
  return false;
}

bool Parse(const char *text, Json::Value &root) {
  if (HasCommentOutsideStrings(text)) return false;
  static const Json::CharReaderBuilder builder = [] {
    Json::CharReaderBuilder b;
    // No comments, an object or array at the top, bounded nesting. Text
    // after the value is ignored and a repeated member keeps its last value.
    Json::CharReaderBuilder::strictMode(&b.settings_);
    b["failIfExtra"] = false;
    b["rejectDupKeys"] = false;
    return b;
  }();
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  // jsoncpp throws, rather than fails, on nesting past its depth limit; on
  // the server thread that would end the process.
  try {
    return reader->parse(text, text + strlen(text), &root, nullptr);
  } catch (const std::exception &) {
    return false;
  }
}

std::string Serialize(const Json::Value &root) {
  static const Json::StreamWriterBuilder builder = [] {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";  // compact
    b["emitUTF8"] = true;   // bytes of 0x80 and above as they are, valid UTF-8 or not
    return b;
  }();
  std::string text = Json::writeString(builder, root);
  text += '\n';
  return text;
}

}  // namespace

int PrepareRequest(const char *request, CardRequest &req, std::string &reply, std::string &errMsg) {
  Json::Value &root = req.root;
  root = Json::Value();
  if (!Parse(request, root) || !root.isObject()) return Reject(errMsg, kMsgBadJson);

  // Wrong member types are turned away as malformed requests: jsoncpp would
  // otherwise read a number as its text or throw on an object.
  const Json::Value &croot = root;
  const Json::Value &tran = croot["TranData"];
  std::string funId, region;
  if (!ReadText(croot["FunID"], funId) || !(tran.isNull() || tran.isObject()) ||
      !ReadText(tran["Region"], region))
    return Reject(errMsg, kMsgBadJson);

  // Values that do not fit their buffers are refused rather than cut: a cut
  // (or a zero byte inside) could turn into a different FunID.
  if (funId.empty() || funId.size() >= kFunIdSize || funId.find('\0') != std::string::npos)
    return Reject(errMsg, kMsgBadFunID);
  if (region.empty() || region.size() >= kRegionSize) return Reject(errMsg, kMsgBadRegion);

  const Operation *op = FindOperation(funId.c_str());
  if (op != nullptr && op->param != nullptr && !(tran[op->param].isNull() || tran[op->param].isString()))
    return Reject(errMsg, kMsgBadJson);

  SvcLog("\nFunID:%s\n", funId.c_str());
  req.funId = funId;
  req.op = op;
  // Only a request that reaches the reader waits for it; an unknown FunID
  // and a missing scanner parameter are answered at once.
  if (op != nullptr && !(op->param != nullptr && tran[op->param].isNull())) return 1;
  RunCardRequest(req, reply, errMsg);
  return 0;
}

void RunCardRequest(CardRequest &req, std::string &reply, std::string &errMsg) {
  Json::Value &root = req.root;
  const Json::Value &croot = root;
  const Operation *op = static_cast<const Operation *>(req.op);
  char err[kErrSize] = {0};
  Json::Value data;  // null until a member is set
  int ret;
  if (op != nullptr) {
    SvcLog("%s\n", op->startLine);
    Call call{root, err, data};
    ret = op->run(call);
    // A missing scanner parameter is the dispatcher's own answer, not logged.
    const bool paramMissing = op->param != nullptr && croot["TranData"][op->param].isNull();
    if (ret != 0 && !paramMissing) {
      SvcLog("============%d\r\n", ret);
      errMsg = BufText(err);
      SvcLog("\r\n\t ErrMsg = %s\r\n", errMsg.c_str());
    }
  } else {
    ret = -1;
    snprintf(err, sizeof err, "%s", kMsgNotDeveloped);
  }

  root["FunID"] = req.funId;
  root["ResultCode"] = ret;
  root["ErrorInfo"] = BufText(err);
  root["ResultData"] = data;
  reply = Serialize(root);
}

std::string BusyReply(CardRequest &req) {
  req.root["FunID"] = req.funId;
  req.root["ResultCode"] = kBusyCode;
  req.root["ErrorInfo"] = kMsgBusy;
  req.root["ResultData"] = Json::Value();
  return Serialize(req.root);
}

int HandlerICReader(mg_connection * /*conn*/, const char *request, std::string &reply,
                    std::string &errMsg) {
  CardRequest req;
  const int rc = PrepareRequest(request, req, reply, errMsg);
  if (rc < 0) return -1;
  if (rc == 1) RunCardRequest(req, reply, errMsg);
  return 0;
}

void SetCardQueue(CardQueueFn queue) { s_cardQueue = queue; }

bool DoHttpHandle(const std::string & /*uri*/, const std::string &body, mg_connection *conn,
                  ReplySender send) {
  SvcLog("\rHttp received msg: %s\r\n", body.c_str());
  CardRequest req;
  std::string reply, errMsg;
  // On a served connection the card worker runs the operation and answers.
  if (PrepareRequest(body.c_str(), req, reply, errMsg) == 1) {
    const CardQueueFn queue = s_cardQueue.load();
    if (conn != nullptr && queue != nullptr && queue(conn, std::move(req), true, body.size())) return true;
    RunCardRequest(req, reply, errMsg);
  }
  LogHttpReply(reply);
  if (send) send(conn, reply);
  return true;
}

void LogHttpReply(const std::string &reply) {
  SvcLog("\r\n<cmd_qmx>:Http返回数据(GBK): %s, len = %d\n", reply.c_str(), static_cast<int>(reply.size()));
}

int Utf8ToGbk(const char *in, size_t inLen, char *out, size_t outSize) {
  if (out == nullptr || outSize == 0) return -1;
  memset(out, 0, outSize);
  iconv_t cd = iconv_open("gbk", "utf8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
  char *src = const_cast<char *>(in);
  size_t srcLeft = inLen;
  char *dst = out;
  size_t dstLeft = outSize - 1;
  size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  return r == static_cast<size_t>(-1) ? -1 : 0;
}
