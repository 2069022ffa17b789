// The real hwservice on the real libraries, put on a private virtual reader
// through the preloaded hidapi shim, as a process on port 7776.
//
// Each test gets its own reader (socket in a fresh folder), its own temp
// folder (so the single-instance flag is private) and its own copy of the
// program: libtessera keeps config.ini beside the running executable, so
// tests must not share one.
#ifndef TESTS_E2E_VREADER_SERVICE_H
#define TESTS_E2E_VREADER_SERVICE_H

#include <gtest/gtest.h>
#include <json/json.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hw_harness.h"
#include "vreader_fixture.h"

namespace e2e {

constexpr int kPort = 7776;
extern const char kReady[];
extern const char kAlreadyRunning[];

using Fields = std::map<std::string, std::string>;

// A request document: {"FunID":..,"TranData":{..}}.
std::string Request(const std::string &funId, const Fields &tranData);

// The reply text the service must write: compact, members of every object
// sorted by name (std::map orders std::string like memcmp, i.e. by bytes),
// one LF at the end. data == nullptr gives "ResultData":null.
std::string Reply(const std::string &funId, int code, const std::string &errorInfo, const Fields *data,
                  const Fields &tranData);

// The HTTP 200 reply around a reply text, byte for byte: the status line
// ends in CR LF, the header lines in a bare LF, Content-Length counts the
// reply text, and one more LF follows it.
std::string HttpOk(const std::string &replyText);

// Commands the reader received since the last clearlog, one per exchange as
// "NAD CMD" in upper-case hex, e.g. "1C 8017030000" (scanner, mode 1).
std::vector<std::string> WireCommands(VreaderProcess &vr);

class ServiceOnVreader : public testing::Test {
 protected:
  // Reader time runs at this scale: a wait of T seconds takes T/10 s.
  static constexpr const char *kTimeScale = "0.1";

  void SetUp() override;
  void TearDown() override;

  // The demo profile, parsed: the expected card data come from it.
  const Json::Value &Card(const std::string &name) const { return profile_["cards"][name]; }
  std::string ProfilePath() const;

  // Starts the program copy with the reader preloaded; LaunchServing waits for
  // "starting http server at port: 7776" and the open port.
  std::unique_ptr<hwtest::Process> Launch();
  std::unique_ptr<hwtest::Process> LaunchServing();
  // SIGTERM: exit status 0 (also no leak report in a sanitizer build).
  void Quit(hwtest::Process &p);

  // One request over HTTP on a fresh connection: everything the service
  // sends for it, the LF after the counted body included.
  std::string HttpCall(const std::string &body, int timeout_ms = 5000);
  // One request over a fresh WebSocket: the payload of the answer frame, or
  // "<no frame>" when none came within timeout_ms.
  std::string WsCall(const std::string &text, int timeout_ms = 5000);

  std::string ctl(const std::string &line) { return vr_.ctl(line); }
  std::string ProgramDir() const { return tmp_.path() + "/prog"; }

  VreaderProcess vr_;
  hwtest::TempDir tmp_;
  Json::Value profile_;
  std::unique_ptr<hwtest::Process> svc_;
};

}  // namespace e2e

#endif
