// The request dispatcher: one JSON request text in, one JSON reply text out,
// with a libtessera card operation picked by the request's FunID.
#ifndef HWSERVICE_DISPATCHER_H
#define HWSERVICE_DISPATCHER_H

#include <json/json.h>

#include <cstddef>
#include <string>

#include "http_server.h"

// Texts of the requests the dispatcher turns away (no reply document).
extern const char kMsgBadJson[];    // "JSON格式错误，无法解析！"
extern const char kMsgBadFunID[];   // "JSON FunID 解析失败！"
extern const char kMsgBadRegion[];  // "JSON Region 解析失败！"
// Reply of a request the card queue has no room for.
extern const char kMsgBusy[];  // "读卡服务繁忙，请稍后重试"
constexpr int kBusyCode = -503;

// A request checked and waiting for the reader: its document and operation.
struct CardRequest {
  Json::Value root;
  std::string funId;
  const void *op = nullptr;
};

// Dispatches one request (zero-terminated). 0: reply holds the reply text
// (JSON and one line feed), also for a FunID that is not implemented. -1: the
// request was turned away, reply is untouched and errMsg says why. conn is
// not used. Runs the card operation synchronously.
int HandlerICReader(mg_connection *conn, const char *request, std::string &reply,
                    std::string &errMsg);

// The two halves of HandlerICReader. PrepareRequest checks a request:
// -1 turned away (as HandlerICReader); 0 answered without the reader (reply
// set); 1 req is ready for RunCardRequest, which calls the client library
// and sets reply. Only the card worker runs RunCardRequest on a server.
int PrepareRequest(const char *request, CardRequest &req, std::string &reply, std::string &errMsg);
void RunCardRequest(CardRequest &req, std::string &reply, std::string &errMsg);
// The reply to req when the card queue is full: ResultCode -503, kMsgBusy.
std::string BusyReply(CardRequest &req);
// Where DoHttpHandle hands card requests of a served connection (the
// server's card worker); false: run it here. Set before serving starts.
using CardQueueFn = bool (*)(mg_connection *conn, CardRequest &&req, bool http, size_t bytes);
void SetCardQueue(CardQueueFn queue);
// Logs a reply sent on the HTTP road.
void LogHttpReply(const std::string &reply);

// Route handler of "/http/hardware": dispatches the body and hands the reply
// text (empty when the request was turned away) to send; on a served
// connection a card operation is queued for the card worker, which answers
// later. Always true.
bool DoHttpHandle(const std::string &uri, const std::string &body, mg_connection *conn,
                  ReplySender send);

// UTF-8 to GBK with iconv into out (outSize bytes, zero-filled first; at most
// outSize - 1 bytes are written, so the result is always terminated).
// 0 on success; -1 when the converter cannot be opened or the conversion
// stops (invalid input, a character GBK lacks, no room), out then holding
// what was converted before the stop.
int Utf8ToGbk(const char *in, size_t inLen, char *out, size_t outSize);

#endif
