#include "faults.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace vr {

const char* faultName(Fault::Kind k) {
  static const char* const names[] = {"noanswer", "garble", "short", "sw", "delay", "cut"};
  return names[k];
}

static bool number(const std::string& s, int base, unsigned long max, unsigned long& v) {
  if (s.empty() || s.size() > 12) return false;
  char* end = nullptr;
  v = strtoul(s.c_str(), &end, base);
  return *end == 0 && v <= max && s[0] != '-';
}

bool parseFault(const std::string& args, Fault& f, std::string& err) {
  std::istringstream in(args);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  if (w.empty()) return err = "fault needs a kind", false;
  Fault r;
  size_t i = 1;
  unsigned long v = 0;
  if (w[0] == "noanswer") r.kind = Fault::NoAnswer;
  else if (w[0] == "garble") r.kind = Fault::Garble;
  else if (w[0] == "short") r.kind = Fault::Short;
  else if (w[0] == "sw" || w[0] == "delay" || w[0] == "cut") {
    r.kind = w[0] == "sw" ? Fault::Sw : w[0] == "delay" ? Fault::Delay : Fault::Cut;
    if (w.size() < 2) return err = w[0] + " needs a value", false;
    bool ok = r.kind == Fault::Sw      ? (w[1].size() == 4 && number(w[1], 16, 0xFFFF, v))
              : r.kind == Fault::Delay ? number(w[1], 10, 600000, v)
                                       : number(w[1], 10, 4096, v);
    if (!ok)
      return err = r.kind == Fault::Sw      ? "sw takes 4 hex digits"
                   : r.kind == Fault::Delay ? "delay takes 0 to 600000 ms"
                                            : "cut takes 0 to 4096 bytes",
             false;
    r.value = unsigned(v);
    i = 2;
  } else {
    return err = "unknown fault " + w[0], false;
  }
  for (; i < w.size(); ++i) {
    if (w[i].compare(0, 4, "nad=") == 0 && number(w[i].substr(4), 0, 255, v)) {
      r.nad = int(v);
    } else if (w[i].compare(0, 6, "count=") == 0 && number(w[i].substr(6), 10, 1000, v) && v > 0) {
      r.count = int(v);
    } else if (w[i].compare(0, 4, "cmd=") == 0) {
      if (!fromHex(w[i].substr(4), r.cmd) || r.cmd.empty() || r.cmd.size() > 64)
        return err = "cmd takes 1 to 64 hex bytes", false;
    } else if (w[i].compare(0, 5, "skip=") == 0 && number(w[i].substr(5), 10, 1000, v)) {
      r.skip = int(v);
    } else {
      return err = "bad fault option " + w[i], false;
    }
  }
  f = r;
  return true;
}

bool FaultQueue::add(const Fault& f) {
  if (q_.size() >= kMax) return false;
  q_.push_back(f);
  return true;
}

std::optional<Fault> FaultQueue::take(int nad, const Bytes& cmd) {
  for (auto it = q_.begin(); it != q_.end(); ++it) {
    if (it->nad != -1 && it->nad != nad) continue;
    if (!it->cmd.empty() && (cmd.size() < it->cmd.size() || !std::equal(it->cmd.begin(), it->cmd.end(), cmd.begin())))
      continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    Fault f = *it;
    if (--it->count <= 0) q_.erase(it);
    f.count = 1;
    return f;
  }
  return std::nullopt;
}

std::string FaultQueue::json() const {
  std::ostringstream o;
  o << '[';
  for (size_t i = 0; i < q_.size(); ++i) {
    const Fault& f = q_[i];
    o << (i ? "," : "") << "{\"kind\":\"" << faultName(f.kind) << "\",\"value\":" << f.value
      << ",\"nad\":" << f.nad << ",\"count\":" << f.count;
    if (!f.cmd.empty()) o << ",\"cmd\":\"" << toHex(f.cmd.data(), f.cmd.size()) << '"';
    if (f.skip) o << ",\"skip\":" << f.skip;
    o << '}';
  }
  o << ']';
  return o.str();
}

}  // namespace vr
