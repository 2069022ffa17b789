// Runs the dispatcher on one request with the scripted client library and
// collects what it produced: result, reply text, error message, log output
// and the library calls.
#ifndef TESTS_SERVICE_DISPATCH_HELPERS_H
#define TESTS_SERVICE_DISPATCH_HELPERS_H

#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <string>
#include <vector>

#include "dispatcher.h"
#include "svc_log.h"
#include "tessera_fake.h"

struct Dispatched {
  int rc = 0;
  std::string reply;
  std::string err;
  std::string log;
  std::vector<std::string> calls;
};

inline Dispatched Dispatch(const std::string &request, const std::string &script = "{}") {
  EXPECT_TRUE(TesseraFake_SetScript(script)) << script;
  Dispatched d;
  d.reply = "untouched";
  SvcLogFlush(2000);  // nothing logged before belongs to this capture
  testing::internal::CaptureStdout();
  d.rc = HandlerICReader(nullptr, request.c_str(), d.reply, d.err);
  EXPECT_TRUE(SvcLogFlush(2000));  // the log is written by a thread of its own
  d.log = testing::internal::GetCapturedStdout();
  d.calls = TesseraFake_Calls();
  return d;
}

inline Json::Value ParseJson(const std::string &text) {
  Json::CharReaderBuilder b;
  std::unique_ptr<Json::CharReader> r(b.newCharReader());
  Json::Value v;
  EXPECT_TRUE(r->parse(text.data(), text.data() + text.size(), &v, nullptr)) << text;
  return v;
}

// A request with FunID and TranData holding Region and the given members.
inline std::string Request(const std::string &funId, const std::string &tranExtra = "") {
  return "{\"FunID\":\"" + funId + "\",\"TranData\":{\"Region\":\"440100\"" +
         (tranExtra.empty() ? "" : "," + tranExtra) + "}}";
}

#endif
