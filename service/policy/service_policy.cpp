#include "service_policy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <json/json.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <set>

#include "policy.h"
#include "svc_log.h"

namespace {

const char kDefaultPath[] = "/etc/hwservice/hwservice.conf";
// Distinct refusals remembered for logging each once; beyond that, refusals
// are no longer logged, so a flood cannot grow the set.
constexpr size_t kMaxLogged = 1024;
// A policy is a few lines; anything far larger is not one.
constexpr size_t kMaxFileSize = 1024 * 1024;

struct FileId {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime = {0, 0};
  bool operator==(const FileId &o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

struct State {
  std::mutex mu;
  policy::Policy policy;
  bool listenLoopback = false;  // as bound at start
  FileId seen;                  // the file as last read (or tried)
  bool loaded = false;          // read once (LoadServicePolicy or first request)
  std::set<std::string> logged;
};

State &S() {
  static State *s = new State;  // used by the server thread until the very end
  return *s;
}

FileId Identify(const std::string &path) {
  FileId id;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return id;
  id.exists = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtime = st.st_mtim;
  return id;
}

// Reads and parses path into *out; absent file: the open policy.
bool ReadPolicy(const std::string &path, policy::Policy *out, std::string *message) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    *out = policy::Policy();
    return true;
  }
  std::string text;
  int err = 0;
  if (fd < 0) {
    err = errno;
  } else {
    char buf[4096];
    for (;;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) err = errno;
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
      if (text.size() > kMaxFileSize) {
        err = EFBIG;
        break;
      }
    }
    close(fd);
  }
  if (err != 0) {
    *message = path + ": cannot be read: " + strerror(err);
    return false;
  }
  policy::ParseError perr;
  if (!policy::ParsePolicy(text, out, &perr)) {
    *message = path + ":" + std::to_string(perr.line) + ": " + perr.reason;
    return false;
  }
  return true;
}

std::string Header(http_message *hm, const char *name, bool *present) {
  const mg_str *v = mg_get_http_header(hm, name);
  *present = v != nullptr;
  return v ? std::string(v->p, v->len) : std::string();
}

// The reply object of a refused request: the request's own object (when the
// body is one) with the four members set, as the dispatcher writes replies.
std::string RefusalText(http_message *hm, const char *why) {
  Json::Value root(Json::objectValue);
  if (hm->body.len > 0) {
    static const Json::CharReaderBuilder builder = [] {
      Json::CharReaderBuilder b;
      Json::CharReaderBuilder::strictMode(&b.settings_);
      return b;
    }();
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    try {
      if (reader->parse(hm->body.p, hm->body.p + hm->body.len, &parsed, nullptr) && parsed.isObject())
        root = parsed;
    } catch (const std::exception &) {
    }
  }
  const Json::Value &fun = root["FunID"];
  root["FunID"] = fun.isString() ? fun.asString() : std::string();
  root["ResultCode"] = -403;
  root["ErrorInfo"] = why;
  root["ResultData"] = Json::Value();
  static const Json::StreamWriterBuilder writer = [] {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return b;
  }();
  return Json::writeString(writer, root) + "\n";
}

void Refuse(mg_connection *nc, http_message *hm, const policy::Request &req, policy::Verdict v) {
  const char *why = policy::VerdictText(v);
  const std::string body = RefusalText(hm, why);
  // The page may read the refusal only when it is named as allowed to.
  mg_printf(nc,
            "HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\nCache-Control: no-cache\r\n"
            "Content-Length: %d\r\nAccess-Control-Allow-Origin: %s\r\nVary: Origin\r\n"
            "Connection: close\r\n\r\n",
            static_cast<int>(body.size()), req.has_origin ? req.origin.c_str() : "*");
  mg_send(nc, body.data(), static_cast<int>(body.size()));
  nc->flags |= MG_F_SEND_AND_CLOSE;

  char peer[32];
  mg_sock_addr_to_str(&nc->sa, peer, sizeof peer, MG_SOCK_STRINGIFY_IP);
  std::string subject = v == policy::Verdict::kWrongOrigin ? "origin " + req.origin
                        : v == policy::Verdict::kWrongHost ? "host " + req.host
                                                           : std::string("peer ") + peer;
  State &s = S();
  if (s.logged.size() < kMaxLogged && s.logged.insert(subject).second)
    SvcLog("policy: refused %s (from %s): %s\n", subject.c_str(), peer, why);
}

// A CORS preflight of an allowed origin: everything it asks for.
void AnswerPreflight(mg_connection *nc, http_message *hm, const std::string &origin) {
  bool has = false;
  const std::string method = Header(hm, "Access-Control-Request-Method", &has);
  const std::string headers = Header(hm, "Access-Control-Request-Headers", &has);
  const bool hasHeaders = has && !headers.empty();
  const std::string pna = Header(hm, "Access-Control-Request-Private-Network", &has);
  mg_printf(nc,
            "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: %s\r\n"
            "Access-Control-Allow-Methods: %s\r\n%s%s%s%sAccess-Control-Max-Age: 600\r\n"
            "Vary: Origin\r\nContent-Length: 0\r\n\r\n",
            origin.c_str(), method.c_str(), hasHeaders ? "Access-Control-Allow-Headers: " : "",
            hasHeaders ? headers.c_str() : "", hasHeaders ? "\r\n" : "",
            strcasecmp(pna.c_str(), "true") == 0 ? "Access-Control-Allow-Private-Network: true\r\n" : "");
}

// Re-reads the file when it was replaced, changed, created or removed. A
// file that went bad keeps the policy in force and is reported once.
void ReloadIfChanged(State &s) {
  const std::string path = PolicyFilePath();
  const FileId now = Identify(path);
  if (now == s.seen) return;
  s.seen = now;
  policy::Policy fresh;
  std::string message;
  if (!ReadPolicy(path, &fresh, &message)) {
    SvcLog("policy: %s; the previous policy stays in force\n", message.c_str());
    return;
  }
  s.policy = fresh;
  s.logged.clear();
  // A server started without LoadServicePolicy (tests) reads it quietly.
  if (!s.loaded) {
    s.loaded = true;
    s.listenLoopback = fresh.loopback_only;
    return;
  }
  SvcLog("policy: %s read again\n", path.c_str());
  if (fresh.loopback_only != s.listenLoopback)
    SvcLog("policy: Listen changed; it takes effect when the service is restarted\n");
}

}  // namespace

std::string PolicyFilePath() {
  const char *env = getenv("HWSERVICE_POLICY");
  return env != nullptr && *env != '\0' ? env : kDefaultPath;
}

bool LoadServicePolicy(std::string *message) {
  State &s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  const std::string path = PolicyFilePath();
  s.seen = Identify(path);
  if (!ReadPolicy(path, &s.policy, message)) return false;
  s.listenLoopback = s.policy.loopback_only;
  s.loaded = true;
  return true;
}

std::string ServiceListenAddress(const std::string &port) {
  State &s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.listenLoopback ? "127.0.0.1:" + port : port;
}

bool PolicyTurnsAway(mg_connection *nc, int ev, http_message *hm) {
  if (ev != MG_EV_HTTP_REQUEST && ev != MG_EV_WEBSOCKET_HANDSHAKE_REQUEST) return false;
  State &s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  ReloadIfChanged(s);
  // An open policy changes nothing on the wire, preflights included.
  if (s.policy.IsOpen()) return false;
  policy::Request req;
  req.origin = Header(hm, "Origin", &req.has_origin);
  req.host = Header(hm, "Host", &req.has_host);
  req.peer_ipv4 = ntohl(nc->sa.sin_addr.s_addr);
  const policy::Verdict v = policy::Decide(s.policy, req);
  if (v != policy::Verdict::kServe) {
    Refuse(nc, hm, req, v);
    return true;
  }
  bool preflight = false;
  Header(hm, "Access-Control-Request-Method", &preflight);
  if (ev == MG_EV_HTTP_REQUEST && preflight && req.has_origin && mg_vcmp(&hm->method, "OPTIONS") == 0) {
    AnswerPreflight(nc, hm, req.origin);
    return true;
  }
  return false;
}
