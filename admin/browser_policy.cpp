#include <algorithm>

#include "admin.h"

namespace admin {

const Browser kBrowsers[3] = {
    {"chromium", "/etc/chromium/policies/managed", "/usr/bin/chromium"},
    {"chrome", "/etc/opt/chrome/policies/managed", "/opt/google/chrome/chrome"},
    {"edge", "/etc/opt/edge/policies/managed", "/opt/microsoft/msedge/msedge"},
};

// The newer loopback-only list is the narrowest fit; browsers that predate it
// read the older one and ignore names they do not know.
const char *const kAllowLists[2] = {"LoopbackNetworkAllowedForUrls", "LocalNetworkAccessAllowedForUrls"};

std::string BrowserPattern(const std::string &origin) {
  const size_t sep = origin.find("://*.");
  std::string p =
      sep == std::string::npos ? origin : origin.substr(0, sep) + "://[*.]" + origin.substr(sep + 5);
  if (!p.empty() && p.back() == '/') p.pop_back();
  return p;
}

bool EditBrowserPolicy(Json::Value *doc, const std::vector<std::string> &patterns, bool remove) {
  if (!doc->isObject()) *doc = Json::Value(Json::objectValue);
  bool changed = false;
  for (const char *name : kAllowLists) {
    Json::Value list =
        doc->isMember(name) && (*doc)[name].isArray() ? (*doc)[name] : Json::Value(Json::arrayValue);
    Json::Value out(Json::arrayValue);
    std::vector<std::string> have;
    for (const Json::Value &v : list) {
      const bool ours =
          v.isString() && std::find(patterns.begin(), patterns.end(), v.asString()) != patterns.end();
      if (remove && ours) {
        changed = true;
        continue;
      }
      if (v.isString()) have.push_back(v.asString());
      out.append(v);
    }
    if (!remove)
      for (const std::string &p : patterns)
        if (std::find(have.begin(), have.end(), p) == have.end()) {
          out.append(p);
          have.push_back(p);
          changed = true;
        }
    if (out.empty()) {
      if (doc->isMember(name)) doc->removeMember(name);
    } else {
      (*doc)[name] = out;
    }
  }
  return changed;
}

}  // namespace admin
