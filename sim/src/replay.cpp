#include "replay.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "dcwire.h"
#include "hidframe.h"

namespace vr {

namespace {

std::string strOf(const cJSON* o, const char* k) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, k);
  return cJSON_IsString(v) ? v->valuestring : "";
}

// Numbers beyond 10^15 (some 31 years in microseconds) are no trace's.
long long numOf(const cJSON* o, const char* k, long long dflt = 0) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, k);
  return cJSON_IsNumber(v) && v->valuedouble >= -1e15 && v->valuedouble <= 1e15 ? (long long)v->valuedouble : dflt;
}

// A recorded delay is replayed up to ten minutes.
int64_t delayOf(int64_t us) { return std::clamp<int64_t>(us, 0, 600000000); }

bool hexOf(const cJSON* o, const char* k, Bytes& out) { return fromHex(strOf(o, k), out); }

std::string shown(const Replay::Exchange& e) {
  char nad[8];
  std::snprintf(nad, sizeof nad, "%02X ", e.nad);
  return nad + toHex(e.cmd);
}

const std::map<std::string, uint8_t> kDcOps = {
    {"dc_setcpu", dc::kSetCpu},       {"dc_cpureset", dc::kCpuReset}, {"dc_pro_reset", dc::kProReset},
    {"dc_cpuapdu", dc::kCpuApdu},     {"dc_pro_command", dc::kProApdu}, {"dc_SamAReadCardInfo", dc::kIdRead}};

}  // namespace

bool Replay::load(const std::string& path, std::string& err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return err = "cannot read " + path, false;
  std::stringstream ss;
  ss << in.rdbuf();
  path_ = path;
  return parse(ss.str(), err);
}

bool Replay::parse(const std::string& text, std::string& err) {
  struct HidDev {
    hid::Assembler in;
    long current = -1;  // exchange the next reports read belong to
    int64_t sentAt = 0;
  };
  std::map<long long, HidDev> devs;
  std::istringstream lines(text);
  int lineNo = 0;
  for (std::string line; std::getline(lines, line);) {
    ++lineNo;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    cJSON* o = cJSON_Parse(line.c_str());
    if (!cJSON_IsObject(o)) {
      cJSON_Delete(o);
      return err = "line " + std::to_string(lineNo) + " is no JSON object", false;
    }
    const std::string ev = strOf(o, "ev");
    const int64_t end = numOf(o, "t") + numOf(o, "us");
    bool ok = true;
    if (ev == "enumerate") {
      const cJSON* found = cJSON_GetObjectItemCaseSensitive(o, "result");
      for (const cJSON* d = cJSON_IsArray(found) ? found->child : nullptr; d; d = d->next)
        if (serial_.empty()) serial_ = strOf(d, "serial");
    } else if (ev == "write" && numOf(o, "result", -1) > 0) {
      HidDev& d = devs[numOf(o, "dev")];
      Bytes rep;
      ok = hexOf(o, "data", rep);
      // Report ID 0 (an unnumbered report) never reaches the device.
      if (ok && rep.size() == hid::kReportSize + 1 && rep[0] == 0) rep.erase(rep.begin());
      if (ok && d.in.feed(rep.data(), rep.size()) == hid::Assembler::Result::Done) {
        Exchange e;
        e.fam = Hid;
        e.line = lineNo;
        e.nad = d.in.nad();
        e.cmd = d.in.command();
        e.holderData = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(o, "holder_data"));
        ex_.push_back(std::move(e));
        d.current = long(ex_.size()) - 1;
        d.sentAt = end;
      }
    } else if (ev == "read" && numOf(o, "result") > 0) {
      HidDev& d = devs[numOf(o, "dev")];
      Bytes rep;
      ok = hexOf(o, "data", rep);
      if (ok && d.current >= 0) {
        Exchange& e = ex_[size_t(d.current)];
        if (e.reports.empty()) e.delayUs = delayOf(end - d.sentAt);
        e.reports.push_back(std::move(rep));
      }
    } else if (ev == "random") {
      Bytes r;
      ok = hexOf(o, "data", r);
      if (ok && r.size() >= 4) randoms_.push_back(std::move(r));
    } else if (kDcOps.count(ev)) {
      Exchange e;
      e.fam = Dc;
      e.line = lineNo;
      e.nad = kDcOps.at(ev);
      e.result = int16_t(numOf(o, "result"));
      e.delayUs = delayOf(numOf(o, "us"));
      e.holderData = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(o, "holder_data"));
      if (ev == "dc_setcpu") {
        e.cmd = Bytes{uint8_t(numOf(o, "addr"))};
      } else if (ev == "dc_SamAReadCardInfo") {
        Bytes t, p, f;
        ok = hexOf(o, "text", t) && hexOf(o, "photo", p) && hexOf(o, "fp", f);
        if (e.result == 0) {
          put16(e.payload, unsigned(t.size()));
          put16(e.payload, unsigned(p.size()));
          put16(e.payload, unsigned(f.size()));
          append(e.payload, t);
          append(e.payload, p);
          append(e.payload, f);
        }
      } else {
        ok = hexOf(o, "out", e.payload) && (e.nad == dc::kCpuReset || e.nad == dc::kProReset || hexOf(o, "cmd", e.cmd));
      }
      ex_.push_back(std::move(e));
    }
    cJSON_Delete(o);
    if (!ok) return err = "line " + std::to_string(lineNo) + " has a bad hex member", false;
  }
  for (Exchange& e : ex_) {
    e.random.assign(e.cmd.size(), false);
    if (e.holderData)
      for (size_t i = 5; i < e.cmd.size(); ++i) e.random[i] = true;
    for (const Bytes& r : randoms_)
      for (auto it = e.cmd.begin(); (it = std::search(it, e.cmd.end(), r.begin(), r.end())) != e.cmd.end(); ++it)
        std::fill(e.random.begin() + (it - e.cmd.begin()), e.random.begin() + (it - e.cmd.begin()) + long(r.size()),
                  true);
  }
  return true;
}

bool Replay::has(Family f) const {
  for (const Exchange& e : ex_)
    if (e.fam == f) return true;
  return false;
}

const Replay::Exchange* Replay::next(Family fam, uint8_t nad, const Bytes& cmd) {
  if (diverged()) return nullptr;
  size_t& p = pos_[fam];
  while (p < ex_.size() && ex_[p].fam != fam) ++p;
  Exchange got;
  got.nad = nad;
  got.cmd = cmd;
  auto same = [&](const Exchange& e) {
    if (e.nad != nad || e.cmd.size() != cmd.size()) return false;
    for (size_t i = 0; i < cmd.size(); ++i)
      if (cmd[i] != e.cmd[i] && !e.random[i]) return false;
    return true;
  };
  if (p < ex_.size() && same(ex_[p])) {
    ++done_;
    return &ex_[p++];
  }
  divergence_ = p < ex_.size() ? "trace line " + std::to_string(ex_[p].line) + " (exchange " +
                                     std::to_string(done_ + 1) + "): expected " + shown(ex_[p])
                               : "end of trace (exchange " + std::to_string(done_ + 1) + "): expected nothing";
  divergence_ += ", received " + shown(got);
  return nullptr;
}

std::string Replay::stateJson() const {
  cJSON* o = cJSON_CreateObject();
  cJSON_AddStringToObject(o, "trace", path_.c_str());
  cJSON_AddNumberToObject(o, "exchanges", double(ex_.size()));
  cJSON_AddNumberToObject(o, "answered", done_);
  if (diverged()) cJSON_AddStringToObject(o, "divergence", divergence_.c_str());
  else cJSON_AddNullToObject(o, "divergence");
  char* txt = cJSON_PrintUnformatted(o);
  std::string s = txt ? txt : "{}";
  cJSON_free(txt);
  cJSON_Delete(o);
  return s;
}

}  // namespace vr
