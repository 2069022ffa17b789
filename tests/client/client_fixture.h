// A private virtual reader loaded with the client test cards, config.ini
// beside the test program, and what went over the wire.
#pragma once
#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tessera.h"
#include "vreader_fixture.h"

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override { std::remove(configPath().c_str()); }
  void TearDown() override {
    char e[1024] = {};
    QMX_CloseDev(e);
    std::remove(configPath().c_str());
  }

  // Starts the reader; family "hid", "dc" or "both".
  void start(const std::string& family = "hid") {
    std::string profile = std::string(getenv("HW_SOURCE_DIR")) + "/tests/client/cards.json";
    ASSERT_TRUE(vr.start(profile, family));
  }
  // A control line the reader must accept.
  void ctl(const std::string& line) { ASSERT_EQ(vr.ctl(line).substr(0, 2), "OK") << line; }
  void clearLog() { ctl("clearlog"); }

  // The commands sent since the last clearLog, "NN CMD" each (NN the node
  // address in hex; the vendor family's operation byte leads its commands).
  // The reader logs the end of a wait (keys, swipe, code) as an entry
  // without command; those are left out here.
  std::vector<std::string> sent() { return exchanges(false); }
  // The same with the replies: "NN CMD > REPLY".
  std::vector<std::string> exchanges(bool withReply = true) {
    std::vector<std::string> out;
    std::string line = vr.ctl("log 256");
    EXPECT_EQ(line.substr(0, 3), "OK ");
    cJSON* arr = cJSON_Parse(line.size() > 3 ? line.c_str() + 3 : "[]");
    const cJSON* e = nullptr;
    cJSON_ArrayForEach(e, arr) {
      char nad[8];
      std::snprintf(nad, sizeof nad, "%02X ", cJSON_GetObjectItem(e, "nad")->valueint & 0xFF);
      std::string cmd = cJSON_GetObjectItem(e, "cmd")->valuestring;
      if (!withReply && cmd.empty()) continue;
      std::string s = nad + cmd;
      if (withReply) s += std::string(" > ") + cJSON_GetObjectItem(e, "reply")->valuestring;
      out.push_back(s);
    }
    cJSON_Delete(arr);
    return out;
  }

  static std::string configPath() {
    char exe[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string path(exe, n > 0 ? size_t(n) : 0);
    return path.substr(0, path.rfind('/')) + "/config.ini";
  }
  static void writeConfig(const std::string& text) { std::ofstream(configPath()) << text; }
  static std::string readConfig() {
    std::ifstream in(configPath());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // True when an operation left the session open: a second open is refused.
  bool sessionOpen() {
    char pass[20] = {}, e[1024] = {};
    int rc = QMX_OpenDev(21, pass, e);
    if (rc == 0) QMX_CloseDev(e);
    return rc == -4;
  }

  VreaderProcess vr;
  char err[1024] = {};
};

using Lines = std::vector<std::string>;
