#include <strings.h>

#include <cctype>

#include "policy.h"

namespace policy {
namespace {

std::string Trim(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && isspace(static_cast<unsigned char>(s[b]))) b++;
  while (e > b && isspace(static_cast<unsigned char>(s[e - 1]))) e--;
  return s.substr(b, e - b);
}

// Origins are separated by blanks and/or commas.
std::vector<std::string> SplitList(const std::string &v) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : v) {
    if (c == ',' || isspace(static_cast<unsigned char>(c))) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

bool Skipped(const std::string &line) {
  return line.empty() || line[0] == '#' || line[0] == ';' || (line[0] == '[' && line.back() == ']');
}

// The key of a "Key = value" line, or "" for any other line.
std::string KeyOf(const std::string &line) {
  const std::string t = Trim(line);
  if (Skipped(t)) return "";
  const size_t eq = t.find('=');
  return eq == std::string::npos ? "" : Trim(t.substr(0, eq));
}

bool SetKey(Policy *p, const std::string &key, const std::string &value, std::string *reason) {
  if (strcasecmp(key.c_str(), "Listen") == 0) {
    if (value == "0.0.0.0" || value == "127.0.0.1") {
      p->loopback_only = value == "127.0.0.1";
      return true;
    }
    *reason = "Listen must be 0.0.0.0 or 127.0.0.1, not \"" + value + "\"";
    return false;
  }
  if (strcasecmp(key.c_str(), "AllowRemoteHosts") == 0) {
    if (strcasecmp(value.c_str(), "yes") == 0 || strcasecmp(value.c_str(), "no") == 0) {
      p->allow_remote = strcasecmp(value.c_str(), "yes") == 0;
      return true;
    }
    *reason = "AllowRemoteHosts must be yes or no, not \"" + value + "\"";
    return false;
  }
  if (strcasecmp(key.c_str(), "AllowedOrigins") == 0) {
    const std::vector<std::string> items = SplitList(value);
    p->origins.clear();
    p->any_origin = items.size() == 1 && items[0] == "*";
    if (p->any_origin) return true;
    for (const std::string &item : items) {
      OriginPattern o;
      std::string why;
      if (item == "*") {
        *reason = "AllowedOrigins: \"*\" stands alone (every origin) or not at all";
        return false;
      }
      if (!ParseOriginPattern(item, &o, &why)) {
        *reason = "AllowedOrigins: \"" + item + "\": " + why;
        return false;
      }
      p->origins.push_back(o);
    }
    return true;
  }
  *reason = "unknown key \"" + key + "\" (known: Listen, AllowedOrigins, AllowRemoteHosts)";
  return false;
}

}  // namespace

bool ParsePolicy(const std::string &text, Policy *policy, ParseError *err) {
  *policy = Policy();
  std::vector<std::string> seen;
  size_t pos = 0;
  for (int lineNo = 1; pos < text.size(); lineNo++) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (Skipped(line)) continue;
    err->line = lineNo;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      err->reason = "expected \"Key = value\"";
      return false;
    }
    const std::string key = Trim(line.substr(0, eq));
    for (const std::string &k : seen)
      if (strcasecmp(k.c_str(), key.c_str()) == 0) {
        err->reason = key + " given twice";
        return false;
      }
    if (!SetKey(policy, key, Trim(line.substr(eq + 1)), &err->reason)) return false;
    seen.push_back(key);
  }
  *err = ParseError();
  return true;
}

std::string WithAllowedOrigins(const std::string &text, const std::vector<std::string> &origins) {
  std::string value;
  for (const std::string &o : origins) value += (value.empty() ? "" : " ") + o;
  const std::string newLine = value.empty() ? "AllowedOrigins =" : "AllowedOrigins = " + value;
  std::string out;
  bool done = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    const bool hasLf = end != std::string::npos;
    if (!hasLf) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (strcasecmp(KeyOf(line).c_str(), "AllowedOrigins") == 0) {
      if (done) continue;  // a stray second line would make the file invalid
      out += newLine;
      done = true;
    } else {
      out += line;
    }
    if (hasLf) out += '\n';
  }
  if (!done) {
    if (!out.empty() && out.back() != '\n') out += '\n';
    out += newLine + "\n";
  }
  return out;
}

}  // namespace policy
