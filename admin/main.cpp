// hwservice-admin: edits who may use the card-reader service and opens the
// browsers' Local Network Access for trusted pages. Run as root for the files
// under /etc. Exit status: 0 done, 1 failure, 2 wrong usage.
#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "admin.h"
#include "policy.h"

namespace {

const char kUsage[] =
    "usage: hwservice-admin [--root DIR] COMMAND\n"
    "  list                          origins allowed to use the service\n"
    "  allow-origin ORIGIN...        add origins to AllowedOrigins ('*': every origin)\n"
    "  deny-origin ORIGIN...         take origins out of AllowedOrigins\n"
    "  browser-policy ORIGIN...      let the browsers' pages of these origins reach the service\n"
    "  browser-policy --remove ORIGIN...\n"
    "  browser-policy show           what each browser will read\n"
    "  check [--origin ORIGIN]       effective policy, reader, and what a page would get\n"
    "Paths are taken under DIR (or $HWSERVICE_ADMIN_ROOT); the policy file is\n"
    "DIR/etc/hwservice/hwservice.conf unless $HWSERVICE_POLICY names another.\n";
const char kOurFile[] = "hwservice.json";

std::string g_root;

std::string Under(const std::string &path) { return g_root + path; }

std::string PolicyPath() {
  const char *env = getenv("HWSERVICE_POLICY");
  return env != nullptr && *env != '\0' ? env : Under("/etc/hwservice/hwservice.conf");
}

bool Exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int Fail(const std::string &msg) {
  fprintf(stderr, "hwservice-admin: %s\n", msg.c_str());
  return 1;
}

// The policy file's text and parsed policy; absent file: empty and open.
bool LoadPolicy(std::string *text, policy::Policy *p) {
  const std::string path = PolicyPath();
  text->clear();
  if (!admin::ReadText(path, text) && errno != ENOENT) {
    Fail(path + ": cannot be read: " + strerror(errno));
    return false;
  }
  policy::ParseError err;
  if (!policy::ParsePolicy(*text, p, &err)) {
    Fail(path + ":" + std::to_string(err.line) + ": " + err.reason);
    return false;
  }
  return true;
}

// Origins as given, each checked; false (after a message) on the first bad one.
bool CheckOrigins(const std::vector<std::string> &args, bool allowNull) {
  if (args.empty()) {
    fputs(kUsage, stderr);
    return false;
  }
  for (const std::string &a : args) {
    policy::OriginPattern o;
    std::string why;
    if (a == "*" && allowNull) continue;
    if (!policy::ParseOriginPattern(a, &o, &why) || (o.null_origin && !allowNull)) {
      Fail("\"" + a + "\": " + (why.empty() ? "not an origin a browser policy can name" : why));
      return false;
    }
  }
  return true;
}

int List() {
  std::string text;
  policy::Policy p;
  if (!LoadPolicy(&text, &p)) return 1;
  if (p.any_origin) {
    puts("*");
    return 0;
  }
  for (const policy::OriginPattern &o : p.origins) puts(o.text.c_str());
  return 0;
}

int EditOrigins(const std::vector<std::string> &args, bool allow) {
  if (!CheckOrigins(args, true)) return 2;
  std::string text;
  policy::Policy p;
  if (!LoadPolicy(&text, &p)) return 1;
  std::vector<std::string> list;
  if (!p.any_origin)
    for (const policy::OriginPattern &o : p.origins) list.push_back(o.text);
  if (allow) {
    if (std::find(args.begin(), args.end(), "*") != args.end()) {
      list = {"*"};
    } else {
      if (p.any_origin) puts("AllowedOrigins was *: from now on only the listed origins are allowed");
      for (const std::string &a : args)
        if (std::find(list.begin(), list.end(), a) == list.end()) list.push_back(a);
    }
  } else {
    if (p.any_origin) return Fail("AllowedOrigins is * (every origin): allow the origins to keep first");
    for (const std::string &a : args) list.erase(std::remove(list.begin(), list.end(), a), list.end());
  }
  std::string err;
  if (!admin::WriteAtomically(PolicyPath(), policy::WithAllowedOrigins(text, list), &err)) return Fail(err);
  printf("%s: AllowedOrigins:%s\n", PolicyPath().c_str(), list.empty() ? " (no page)" : "");
  for (const std::string &o : list) printf("  %s\n", o.c_str());
  puts("A running hwservice applies it at its next request; no restart is needed.");
  return 0;
}

bool IsBrowserPresent(const admin::Browser &b) {
  return Exists(Under(b.program)) || Exists(Under(b.policyDir));
}

std::vector<std::string> JsonFiles(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > 5 && n.compare(n.size() - 5, 5, ".json") == 0 && n[0] != '.') names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool ParseJson(const std::string &text, Json::Value *doc) {
  Json::CharReaderBuilder b;
  std::unique_ptr<Json::CharReader> r(b.newCharReader());
  try {
    return r->parse(text.data(), text.data() + text.size(), doc, nullptr);
  } catch (const std::exception &) {
    return false;
  }
}

std::string JsonText(const Json::Value &doc) {
  Json::StreamWriterBuilder w;
  w["indentation"] = "  ";
  return Json::writeString(w, doc) + "\n";
}

int BrowserPolicy(std::vector<std::string> args) {
  if (args.size() == 1 && args[0] == "show") {
    for (const admin::Browser &b : admin::kBrowsers) {
      const std::string dir = Under(b.policyDir);
      printf("%s (%s):%s\n", b.name, dir.c_str(), IsBrowserPresent(b) ? "" : " not installed");
      for (const std::string &n : JsonFiles(dir)) {
        std::string text;
        Json::Value doc;
        if (!admin::ReadText(dir + "/" + n, &text) || !ParseJson(text, &doc) || !doc.isObject()) {
          printf("  %s: not a JSON object; the browser ignores it\n", n.c_str());
          continue;
        }
        for (const char *list : admin::kAllowLists)
          if (doc[list].isArray())
            for (const Json::Value &v : doc[list])
              printf("  %s: %s %s\n", n.c_str(), list, v.asString().c_str());
      }
    }
    return 0;
  }
  bool remove = false, all = false;
  std::vector<std::string> origins;
  for (const std::string &a : args) {
    if (a == "--remove")
      remove = true;
    else if (a == "--all")
      all = true;
    else
      origins.push_back(a);
  }
  if (!CheckOrigins(origins, false)) return 2;
  std::vector<std::string> patterns;
  for (const std::string &o : origins) patterns.push_back(admin::BrowserPattern(o));
  int written = 0;
  for (const admin::Browser &b : admin::kBrowsers) {
    if (!all && !IsBrowserPresent(b)) continue;
    const std::string dir = Under(b.policyDir);
    // Browsers do not merge one policy across files: the lists go into the
    // file that already holds one, else into our own.
    std::vector<std::string> targets;
    for (const std::string &n : JsonFiles(dir)) {
      std::string text;
      Json::Value doc;
      if (admin::ReadText(dir + "/" + n, &text) && ParseJson(text, &doc) && doc.isObject() &&
          (doc.isMember(admin::kAllowLists[0]) || doc.isMember(admin::kAllowLists[1])))
        targets.push_back(n);
    }
    if (targets.empty() && !remove) targets.push_back(kOurFile);
    if (!remove && targets.size() > 1) targets.resize(1);
    for (const std::string &n : targets) {
      const std::string path = dir + "/" + n;
      std::string text;
      Json::Value doc(Json::objectValue);
      if (admin::ReadText(path, &text) && !ParseJson(text, &doc))
        return Fail(path + ": not valid JSON; fix or remove it first");
      if (!admin::EditBrowserPolicy(&doc, patterns, remove)) continue;
      std::string err;
      if (remove && n == kOurFile && doc.empty()) {
        if (unlink(path.c_str()) != 0) return Fail(path + ": " + strerror(errno));
        printf("%s: removed\n", path.c_str());
      } else if (!admin::WriteAtomically(path, JsonText(doc), &err)) {
        return Fail(err);
      } else {
        printf("%s: written\n", path.c_str());
      }
      written++;
    }
  }
  if (written == 0)
    puts(remove ? "nothing to remove" : "no Chromium-based browser found (--all writes every folder)");
  else
    puts("Browsers read it when they start (or at chrome://policy, \"Reload policies\").");
  return 0;
}

// Where a page of this host sits for the browser's Local Network Access.
const char *AddressSpace(const std::string &host) {
  std::string h = host;
  if (h.size() > 2 && h.front() == '[') h = h.substr(1, h.size() - 2);
  addrinfo hints{}, *res = nullptr;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(h.c_str(), nullptr, &hints, &res) != 0 || res == nullptr) return "unknown";
  const char *space = "public";
  if (res->ai_family == AF_INET) {
    const uint32_t a = ntohl(reinterpret_cast<sockaddr_in *>(res->ai_addr)->sin_addr.s_addr);
    if ((a >> 24) == 127)
      space = "loopback";
    else if ((a >> 24) == 10 || (a >> 20) == 0xac1 || (a >> 16) == 0xc0a8 || (a >> 16) == 0xa9fe)
      space = "private";
  } else if (res->ai_family == AF_INET6) {
    const unsigned char *b = reinterpret_cast<sockaddr_in6 *>(res->ai_addr)->sin6_addr.s6_addr;
    static const unsigned char lo[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (memcmp(b, lo, 16) == 0)
      space = "loopback";
    else if ((b[0] & 0xfe) == 0xfc || (b[0] == 0xfe && (b[1] & 0xc0) == 0x80))
      space = "private";
  }
  freeaddrinfo(res);
  return space;
}

// The reader's USB identity is the one the package's udev rule names.
std::string FindReader() {
  const std::string base = Under("/sys/bus/usb/devices");
  DIR *d = opendir(base.c_str());
  if (d == nullptr) return "";
  std::string found;
  while (dirent *e = readdir(d)) {
    std::string v, p;
    const std::string dev = base + "/" + e->d_name;
    if (admin::ReadText(dev + "/idVendor", &v) && admin::ReadText(dev + "/idProduct", &p) &&
        v.compare(0, 4, "163c") == 0 && p.compare(0, 4, "0a2b") == 0)
      found = e->d_name;
  }
  closedir(d);
  return found;
}

bool ServiceAnswers() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(7776);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
  close(fd);
  return ok;
}

int Check(const std::vector<std::string> &args) {
  std::string origin;
  for (size_t i = 0; i < args.size(); i++) {
    if (args[i] == "--origin" && i + 1 < args.size())
      origin = args[++i];
    else {
      fputs(kUsage, stderr);
      return 2;
    }
  }
  std::string text;
  policy::Policy p;
  const std::string path = PolicyPath();
  const bool present = Exists(path);
  if (!LoadPolicy(&text, &p)) return 1;
  printf("policy file: %s%s\n", path.c_str(), present ? "" : " (absent: every page and host is served)");
  printf("Listen: %s\n", p.loopback_only
                             ? "127.0.0.1 (this computer only; Host must be 127.0.0.1, localhost or [::1])"
                             : "0.0.0.0 (every interface), port 7776");
  std::string list;
  for (const policy::OriginPattern &o : p.origins) list += " " + o.text;
  printf("AllowedOrigins:%s\n", p.any_origin   ? " * (every page)"
                                : list.empty() ? " (no page)"
                                               : list.c_str());
  printf("AllowRemoteHosts: %s\n", p.allow_remote ? "yes" : "no (this computer only)");
  const std::string reader = FindReader();
  printf("reader: %s\n",
         reader.empty() ? "not found (no USB device 163c:0a2b)" : ("found, USB device " + reader).c_str());
  printf("service: %s\n",
         ServiceAnswers() ? "answering on 127.0.0.1:7776" : "not answering on 127.0.0.1:7776");
  if (origin.empty()) return 0;
  policy::OriginPattern o;
  std::string why;
  if (!policy::ParseOriginPattern(origin, &o, &why) || o.any_subdomain)
    return Fail("\"" + origin + "\": " + (why.empty() ? "give one page's origin" : why));
  policy::Request req;
  req.has_origin = true;
  req.origin = origin;
  req.has_host = true;
  req.host = "127.0.0.1:7776";
  const policy::Verdict v = policy::Decide(p, req);
  printf("page %s: service %s\n", origin.c_str(),
         v == policy::Verdict::kServe
             ? "serves it"
             : (std::string("refuses it with 403: ") + policy::VerdictText(v)).c_str());
  if (o.null_origin) return 0;
  const char *space = AddressSpace(o.host);
  if (strcmp(space, "loopback") == 0 || strcmp(space, "private") == 0) {
    printf("page %s: browser: %s address, no permission needed\n", origin.c_str(), space);
    return 0;
  }
  std::string managed;
  const std::string pattern = admin::BrowserPattern(origin);
  for (const admin::Browser &b : admin::kBrowsers)
    for (const std::string &n : JsonFiles(Under(b.policyDir))) {
      std::string t;
      Json::Value doc;
      if (!admin::ReadText(Under(b.policyDir) + "/" + n, &t) || !ParseJson(t, &doc) || !doc.isObject())
        continue;
      for (const char *l : admin::kAllowLists)
        if (doc[l].isArray())
          for (const Json::Value &e : doc[l])
            if (e.isString() && e.asString() == pattern && managed.find(b.name) == std::string::npos)
              managed += std::string(" ") + b.name;
    }
  const char *where =
      strcmp(space, "public") == 0 ? "public address" : "address unknown here (treat as public)";
  if (managed.empty())
    printf(
        "page %s: browser: %s; the browser asks the user for Local Network Access (hwservice-admin "
        "browser-policy %s grants it)\n",
        origin.c_str(), where, origin.c_str());
  else
    printf("page %s: browser: %s; allowed by managed policy in:%s\n", origin.c_str(), where, managed.c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const char *envRoot = getenv("HWSERVICE_ADMIN_ROOT");
  if (envRoot != nullptr) g_root = envRoot;
  if (args.size() >= 2 && args[0] == "--root") {
    g_root = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  while (!g_root.empty() && g_root.back() == '/') g_root.pop_back();
  if (args.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  const std::string cmd = args[0];
  args.erase(args.begin());
  if (cmd == "list" && args.empty()) return List();
  if (cmd == "allow-origin") return EditOrigins(args, true);
  if (cmd == "deny-origin") return EditOrigins(args, false);
  if (cmd == "browser-policy") return BrowserPolicy(args);
  if (cmd == "check") return Check(args);
  fputs(kUsage, stderr);
  return 2;
}
