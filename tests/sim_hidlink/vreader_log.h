// The virtual reader's exchange log as records, for tests that check the
// exact bytes a library put on the wire.
#pragma once
#include <cjson/cJSON.h>

#include <string>
#include <vector>

#include "vreader_fixture.h"

struct Exchange {
  std::string fam;  // "hid" or "dc"
  int nad = -1;
  std::string cmd, reply, fault;  // upper-case hex; dc commands start with the call's op byte
};

// The last n exchanges, oldest first; empty when the log cannot be read.
inline std::vector<Exchange> exchangeLog(VreaderProcess& vr, int n = 50) {
  std::vector<Exchange> out;
  std::string line = vr.ctl("log " + std::to_string(n));
  if (line.compare(0, 3, "OK ") != 0) return out;
  cJSON* arr = cJSON_Parse(line.c_str() + 3);
  cJSON* e = nullptr;
  cJSON_ArrayForEach(e, arr) {
    Exchange x;
    auto text = [&](const char* k) {
      const cJSON* v = cJSON_GetObjectItemCaseSensitive(e, k);
      return cJSON_IsString(v) ? std::string(v->valuestring) : std::string();
    };
    x.fam = text("fam");
    x.cmd = text("cmd");
    x.reply = text("reply");
    x.fault = text("fault");
    const cJSON* nad = cJSON_GetObjectItemCaseSensitive(e, "nad");
    x.nad = cJSON_IsNumber(nad) ? nad->valueint : -1;
    out.push_back(x);
  }
  cJSON_Delete(arr);
  return out;
}

// "nad:cmd" of every exchange since the last clearlog, for compact checks
// of a whole command sequence.
inline std::vector<std::string> commandsSent(VreaderProcess& vr) {
  std::vector<std::string> out;
  for (const Exchange& x : exchangeLog(vr, 256)) out.push_back(std::to_string(x.nad) + ":" + x.cmd);
  return out;
}

// Exchanges the reader has served for one family ("hid" or "dc"), from
// the `state` reply; -1 when it cannot be read.
inline long exchangeCount(VreaderProcess& vr, const std::string& fam) {
  std::string s = vr.ctl("state");
  size_t at = s.find("\"exchanges\":{");
  if (at == std::string::npos) return -1;
  at = s.find("\"" + fam + "\":", at);
  if (at == std::string::npos) return -1;
  return std::strtol(s.c_str() + at + fam.size() + 3, nullptr, 10);
}
