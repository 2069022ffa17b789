#include "server.h"

#include <cjson/cJSON.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "dcwire.h"
#include "sockpath.h"

namespace vr {

namespace {
constexpr size_t kMaxHidRecord = 1024;
constexpr size_t kLogKeep = 256;

void nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string hidRecord(const uint8_t* p, size_t n) {
  std::string s;
  s.push_back(char(n >> 8));
  s.push_back(char(n & 0xFF));
  s.append(reinterpret_cast<const char*>(p), n);
  return s;
}

// Keeps `keep` data bytes of a reply and its status word.
void cutReply(Bytes& reply, size_t keep) {
  if (reply.size() < 2 || reply.size() - 2 <= keep) return;
  reply.erase(reply.begin() + long(keep), reply.end() - 2);
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

// The rest of the line after the first `n` words.
std::string restAfter(const std::string& line, int n) {
  size_t i = 0;
  for (int k = 0; k < n; ++k) {
    i = line.find_first_not_of(" \t", i);
    if (i == std::string::npos) return "";
    i = line.find_first_of(" \t", i);
    if (i == std::string::npos) return "";
  }
  if (i < line.size()) ++i;  // one separating blank
  return line.substr(i);
}
}  // namespace

Server::Server(Reader& reader, std::string socketPath) : reader_(reader), path_(std::move(socketPath)) {}

Server::~Server() {
  for (auto& kv : clients_) close(kv.second->fd);
  if (listenFd_ >= 0) {
    close(listenFd_);
    unlink(path_.c_str());
  }
  for (int fd : wakeFds_)
    if (fd >= 0) close(fd);
}

bool Server::listen(std::string& err) {
  sockaddr_un a{};
  if (path_.size() >= sizeof a.sun_path) return err = "socket path too long: " + path_, false;
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0) {
    int probe = connectTo(path_);
    if (probe >= 0) {
      close(probe);
      return err = "another vreader already listens on " + path_, false;
    }
    if (!S_ISSOCK(st.st_mode)) return err = path_ + " exists and is not a socket", false;
    unlink(path_.c_str());
  }
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path_.c_str(), path_.size() + 1);
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    err = path_ + ": " + strerror(errno);
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  chmod(path_.c_str(), 0600);
  nonblocking(listenFd_);
  if (pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) return err = "pipe failed", false;
  return true;
}

void Server::stop() {
  running_ = false;
  if (wakeFds_[1] >= 0) {
    char b = 1;
    ssize_t r = write(wakeFds_[1], &b, 1);
    (void)r;
  }
}

bool Server::setFamily(const std::string& f) {
  if (f != "hid" && f != "dc" && f != "both") return false;
  hidFamily_ = f != "dc";
  dcFamily_ = f != "hid";
  // A family that is detached loses its connections, as if its cable were pulled.
  std::vector<int> gone;
  for (auto& kv : clients_)
    if ((kv.second->role == Role::Hid && !hidFamily_) || (kv.second->role == Role::Dc && !dcFamily_))
      gone.push_back(kv.first);
  for (int id : gone) drop(id);
  return true;
}

Server::Client* Server::find(int id) {
  auto it = clients_.find(id);
  return it == clients_.end() ? nullptr : it->second.get();
}

void Server::run() {
  running_ = true;
  std::vector<pollfd> pfds;
  std::vector<int> ids;
  while (running_) {
    pfds.clear();
    ids.clear();
    pfds.push_back({listenFd_, POLLIN, 0});
    pfds.push_back({wakeFds_[0], POLLIN, 0});
    for (auto& kv : clients_) {
      short ev = POLLIN;
      if (!kv.second->out.empty()) ev |= POLLOUT;
      pfds.push_back({kv.second->fd, ev, 0});
      ids.push_back(kv.first);
    }
    int64_t now = monotonicMs();
    int64_t next = -1;
    for (auto& d : delayed_) next = next < 0 ? d.at : std::min(next, d.at);
    if (reader_.waiting() != WaitKind::None) next = next < 0 ? reader_.deadline() : std::min(next, reader_.deadline());
    int timeout = next < 0 ? -1 : int(std::max<int64_t>(0, next - now));
    int r = poll(pfds.data(), pfds.size(), timeout);
    if (r < 0 && errno != EINTR) break;
    now = monotonicMs();
    // Timers first: a due wait times out, delayed replies leave.
    deliverEvent(reader_.expire(now));
    for (size_t i = 0; i < delayed_.size();) {
      if (delayed_[i].at <= now) {
        Delayed d = std::move(delayed_[i]);
        delayed_.erase(delayed_.begin() + long(i));
        if (Client* c = find(d.client)) {
          c->out += d.bytes;
          flush(*c);
        }
      } else {
        ++i;
      }
    }
    if (r <= 0) continue;
    if (pfds[1].revents) {
      char buf[16];
      while (read(wakeFds_[0], buf, sizeof buf) > 0) {
      }
    }
    for (size_t i = 0; i < ids.size(); ++i) {
      short re = pfds[i + 2].revents;
      Client* c = find(ids[i]);
      if (!c || !re) continue;
      if (re & POLLOUT) flush(*c);
      if ((c = find(ids[i])) && (re & (POLLIN | POLLHUP | POLLERR))) readFrom(*c);
    }
    if (pfds[0].revents & POLLIN) accept();
  }
}

void Server::accept() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (clients_.size() >= kMaxClients) {
      const char msg[] = "ERR too many clients\n";
      send(fd, msg, sizeof msg - 1, MSG_NOSIGNAL);
      close(fd);
      continue;
    }
    auto c = std::make_unique<Client>();
    c->fd = fd;
    c->id = nextId_++;
    clients_[c->id] = std::move(c);
  }
}

void Server::drop(int id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  close(it->second->fd);
  clients_.erase(it);
  if (waitOwner_ == id) {
    reader_.cancelWait();
    waitOwner_ = 0;
  }
  delayed_.erase(std::remove_if(delayed_.begin(), delayed_.end(), [id](const Delayed& d) { return d.client == id; }),
                 delayed_.end());
}

void Server::flush(Client& c) {
  while (!c.out.empty()) {
    ssize_t w = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (w <= 0) return drop(c.id);
    c.out.erase(0, size_t(w));
  }
  if (c.out.size() > kMaxOut) return drop(c.id);  // a client that never reads
  if (c.out.empty() && c.closeAfterWrite) drop(c.id);
}

void Server::readFrom(Client& c) {
  int id = c.id;
  char buf[8192];
  ssize_t n = recv(c.fd, buf, sizeof buf, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) return drop(id);
  c.in.append(buf, size_t(n));
  while (Client* cl = find(id)) {
    if (cl->closeAfterWrite) {
      cl->in.clear();
      return;
    }
    if (cl->role == Role::Hid) return onHidBytes(*cl);
    if (cl->role == Role::Dc) return onDcBytes(*cl);
    size_t nl = cl->in.find('\n');
    if (nl == std::string::npos) {
      if (cl->in.size() > kMaxLine) {
        cl->in.clear();
        cl->role = Role::Control;
        cl->out += "ERR line too long\n";
        cl->closeAfterWrite = true;
        flush(*cl);
      }
      return;
    }
    std::string line = cl->in.substr(0, nl);
    cl->in.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    onLine(*cl, line);
  }
}

void Server::onLine(Client& c, const std::string& line) {
  if (c.role == Role::New && (line == "HELLO hid" || line == "HELLO dc")) {
    bool hid = line == "HELLO hid";
    const char* refuse = nullptr;
    if (!plugged_) refuse = "ERR unplugged\n";
    else if (hid ? !hidFamily_ : !dcFamily_) refuse = "ERR family not attached\n";
    else {
      for (auto& kv : clients_)
        if (kv.second.get() != &c && kv.second->role == (hid ? Role::Hid : Role::Dc)) refuse = "ERR busy\n";
    }
    if (refuse) {
      c.role = Role::Control;
      c.out += refuse;
      c.closeAfterWrite = true;
    } else {
      c.role = hid ? Role::Hid : Role::Dc;
      c.out += hid ? "OK hid " + reader_.profile().serial + "\n" : std::string("OK dc\n");
    }
    return flush(c);
  }
  c.role = Role::Control;
  int id = c.id;
  std::string reply = control(line);
  Client* cl = find(id);
  if (!cl) return;
  cl->out += reply;
  cl->out += '\n';
  flush(*cl);
}

void Server::onHidBytes(Client& c) {
  int id = c.id;
  for (;;) {
    Client* cl = find(id);
    if (!cl || cl->in.size() < 2) return;
    size_t n = size_t(uint8_t(cl->in[0])) << 8 | uint8_t(cl->in[1]);
    if (n > kMaxHidRecord) return drop(id);
    if (cl->in.size() < 2 + n) return;
    std::string rep = cl->in.substr(2, n);
    cl->in.erase(0, 2 + n);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(rep.data());
    if (n > hid::kReportSize) {
      sendHid(id, n ? p[0] : 0, swOnly(kSwFraming), std::nullopt);
      continue;
    }
    auto res = cl->assembler.feed(p, n);
    if (res == hid::Assembler::Result::Error) {
      Bytes raw(p, p + n);
      log("hid", n ? p[0] : -1, raw, swOnly(kSwFraming), std::nullopt);
      sendHid(id, n ? p[0] : 0, swOnly(kSwFraming), std::nullopt);
    } else if (res == hid::Assembler::Result::Done) {
      hidCommand(*cl, cl->assembler.nad(), cl->assembler.command());
    }
  }
}

void Server::hidCommand(Client& c, uint8_t nad, const Bytes& cmd) {
  ++hidExchanges_;
  if (waitOwner_ == c.id) {  // a new command abandons the host's earlier wait
    reader_.cancelWait();
    waitOwner_ = 0;
  }
  if (replay_) return replayHid(c, nad, cmd);
  std::optional<Fault> f = faults_.take(nad, cmd);
  if (f && f->kind == Fault::NoAnswer) return log("hid", nad, cmd, Bytes(), f);
  if (f && f->kind == Fault::Sw) {
    Bytes r = swOnly(f->value);
    log("hid", nad, cmd, r, f);
    return sendHid(c.id, nad, r, f);
  }
  Outcome o = reader_.execute(nad, cmd, monotonicMs());
  if (o.waits) {
    waitOwner_ = c.id;
    waitNad_ = nad;
    waitFault_ = f;
    log("hid", nad, cmd, Bytes(), f);
    return;
  }
  if (f && f->kind == Fault::Cut) cutReply(o.reply, f->value);
  log("hid", nad, cmd, o.reply, f);
  sendHid(c.id, nad, o.reply, f);
}

void Server::sendHid(int clientId, uint8_t nad, const Bytes& reply, const std::optional<Fault>& f) {
  std::vector<hid::Report> reps = hid::split(nad, reply);
  std::string bytes;
  if (f && f->kind == Fault::Short) {
    bytes = hidRecord(reps[0].data(), 32);
  } else {
    if (f && f->kind == Fault::Garble) reps[0][1] ^= 0x03;  // sequence number out of order
    for (auto& r : reps) bytes += hidRecord(r.data(), r.size());
  }
  queue(clientId, std::move(bytes), f && f->kind == Fault::Delay ? f->value : 0);
}

void Server::queue(int clientId, std::string bytes, unsigned delayMs) {
  if (delayMs) {
    delayed_.push_back({monotonicMs() + delayMs, clientId, std::move(bytes)});
    return;
  }
  if (Client* c = find(clientId)) {
    c->out += bytes;
    flush(*c);
  }
}

void Server::deliverEvent(std::optional<Bytes> reply) {
  if (!reply) return;
  int owner = waitOwner_;
  waitOwner_ = 0;
  std::optional<Fault> f = waitFault_;
  waitFault_.reset();
  if (owner && find(owner)) {
    if (f && f->kind == Fault::Cut) cutReply(*reply, f->value);
    log("hid", waitNad_, Bytes(), *reply, f);
    sendHid(owner, waitNad_, *reply, f);
  }
}

void Server::onDcBytes(Client& c) {
  int id = c.id;
  for (;;) {
    Client* cl = find(id);
    if (!cl || cl->in.size() < 3) return;
    size_t n = size_t(uint8_t(cl->in[1])) << 8 | uint8_t(cl->in[2]);
    if (n > dc::kMaxPayload) return drop(id);
    if (cl->in.size() < 3 + n) return;
    uint8_t op = uint8_t(cl->in[0]);
    Bytes payload(cl->in.begin() + 3, cl->in.begin() + 3 + long(n));
    cl->in.erase(0, 3 + n);
    dcRequest(*cl, op, payload);
  }
}

void Server::sendDc(Client& c, int16_t result, const Bytes& payload, const std::optional<Fault>& f) {
  Bytes body = payload;
  if (f && f->kind == Fault::Short && body.size() > 1) body.resize(1);
  std::string s;
  s.push_back(char(f && f->kind == Fault::Garble ? 0x00 : dc::kReplyMark));
  s.push_back(char(uint16_t(result) >> 8));
  s.push_back(char(uint16_t(result) & 0xFF));
  s.push_back(char(body.size() >> 8));
  s.push_back(char(body.size() & 0xFF));
  s.append(body.begin(), body.end());
  queue(c.id, std::move(s), f && f->kind == Fault::Delay ? f->value : 0);
}

void Server::dcRequest(Client& c, uint8_t op, const Bytes& payload) {
  ++dcExchanges_;
  int nad = op == dc::kProReset || op == dc::kProApdu ? int(kNadContactless)
            : op == dc::kIdRead                       ? int(kNadIdModule)
                                                      : int(c.dcNad);
  if (replay_) return replayDc(c, op, payload);
  if (op == dc::kSetCpu) {
    static const std::pair<uint8_t, uint8_t> map[] = {
        {0x0C, 0x12}, {0x0D, 0x16}, {0x0E, 0x17}, {0x0F, 0x18}, {0x11, 0x19}};
    if (payload.size() != 1) return sendDc(c, dc::kBadRequest, Bytes(), std::nullopt);
    for (auto& m : map)
      if (m.first == payload[0]) {
        c.dcNad = m.second;
        return sendDc(c, 0, Bytes(), std::nullopt);
      }
    return sendDc(c, dc::kBadRequest, Bytes(), std::nullopt);
  }
  std::optional<Fault> f = faults_.take(nad, payload);
  Bytes logged = payload;
  logged.insert(logged.begin(), op);
  if (f && f->kind == Fault::NoAnswer) return log("dc", nad, logged, Bytes(), f);
  int64_t now = monotonicMs();
  switch (op) {
    case dc::kCpuReset:
    case dc::kProReset: {
      if (f && f->kind == Fault::Sw) return log("dc", nad, logged, Bytes(), f), sendDc(c, int16_t(f->value), Bytes(), f);
      Bytes r = reader_.execute(uint8_t(nad), hx("0012000000"), now).reply;
      log("dc", nad, logged, r, f);
      unsigned sw = swOf(r);
      if (sw != kSwOk) return sendDc(c, int16_t(sw), Bytes(), f);
      return sendDc(c, 0, Bytes(r.begin(), r.end() - 2), f);
    }
    case dc::kCpuApdu:
    case dc::kProApdu: {
      if (payload.size() < 4) return sendDc(c, dc::kBadRequest, Bytes(), f);
      if (!reader_.hasCard(uint8_t(nad))) return log("dc", nad, logged, Bytes(), f), sendDc(c, int16_t(kSwNoCard), Bytes(), f);
      if (!reader_.powered(uint8_t(nad))) return log("dc", nad, logged, Bytes(), f), sendDc(c, int16_t(kSwNotPowered), Bytes(), f);
      Bytes r = f && f->kind == Fault::Sw ? swOnly(f->value) : reader_.execute(uint8_t(nad), payload, now).reply;
      log("dc", nad, logged, r, f);
      return sendDc(c, 0, r, f);
    }
    case dc::kIdRead: {
      if (f && f->kind == Fault::Sw) return log("dc", nad, logged, Bytes(), f), sendDc(c, int16_t(f->value), Bytes(), f);
      IdReadResult r = reader_.readIdCard();
      if (r.status) return log("dc", nad, logged, Bytes{uint8_t(r.status)}, f), sendDc(c, int16_t(r.status), Bytes(), f);
      Bytes out;
      put16(out, unsigned(r.text.size()));
      put16(out, unsigned(r.photo.size()));
      put16(out, unsigned(r.fingerprint.size()));
      append(out, r.text);
      append(out, r.photo);
      append(out, r.fingerprint);
      log("dc", nad, logged, Bytes(out.begin(), out.begin() + 6), f);
      return sendDc(c, 0, out, f);
    }
    default:
      return sendDc(c, dc::kBadRequest, Bytes(), std::nullopt);
  }
}

// The recorded reports leave as they were read, after the recorded delay.
void Server::replayHid(Client& c, uint8_t nad, const Bytes& cmd) {
  bool before = replay_->diverged();
  const Replay::Exchange* e = replay_->next(Replay::Hid, nad, cmd);
  if (!e) {
    if (!before) std::fprintf(stderr, "vreader: replay diverged at %s\n", replay_->divergence().c_str());
    Bytes r = swOnly(0x6D00);  // what the firmware says to a command it does not know
    log("hid", nad, cmd, r, std::nullopt);
    return sendHid(c.id, nad, r, std::nullopt);
  }
  std::string bytes;
  Bytes joined;
  for (const Bytes& r : e->reports) {
    bytes += hidRecord(r.data(), r.size());
    append(joined, r);
  }
  log("hid", nad, cmd, joined, std::nullopt);
  queue(c.id, std::move(bytes), unsigned(double(e->delayUs) * reader_.timeScale() / 1000));
}

void Server::replayDc(Client& c, uint8_t op, const Bytes& payload) {
  bool before = replay_->diverged();
  const Replay::Exchange* e = replay_->next(Replay::Dc, op, payload);
  Bytes logged = payload;
  logged.insert(logged.begin(), op);
  if (!e) {
    if (!before) std::fprintf(stderr, "vreader: replay diverged at %s\n", replay_->divergence().c_str());
    bool apdu = op == dc::kCpuApdu || op == dc::kProApdu;
    log("dc", -1, logged, apdu ? swOnly(0x6D00) : Bytes(), std::nullopt);
    return sendDc(c, apdu ? 0 : dc::kBadRequest, apdu ? swOnly(0x6D00) : Bytes(), std::nullopt);
  }
  log("dc", -1, logged, e->payload, std::nullopt);
  Fault later;
  later.kind = Fault::Delay;
  later.value = unsigned(double(e->delayUs) * reader_.timeScale() / 1000);
  sendDc(c, e->result, e->payload, later);
}

void Server::log(const char* fam, int nad, const Bytes& cmd, const Bytes& reply, const std::optional<Fault>& f) {
  // Long trains are cut in the log so that a full log still fits one reply line.
  auto cut = [](const Bytes& b) {
    std::string h = toHex(b.data(), std::min<size_t>(b.size(), 1024));
    return b.size() > 1024 ? h + "..." : h;
  };
  LogEntry e{++logSeq_, fam, cut(cmd), cut(reply), f ? faultName(f->kind) : "", nad};
  log_.push_back(std::move(e));
  if (log_.size() > kLogKeep) log_.pop_front();
}

void Server::unplug() {
  plugged_ = false;
  std::vector<int> gone;
  for (auto& kv : clients_)
    if (kv.second->role == Role::Hid || kv.second->role == Role::Dc) gone.push_back(kv.first);
  for (int id : gone) drop(id);
}

std::string Server::stateLine() {
  cJSON* o = cJSON_Parse(reader_.stateJson().c_str());
  if (!o) o = cJSON_CreateObject();
  cJSON_AddBoolToObject(o, "plugged", plugged_);
  cJSON_AddStringToObject(o, "family", hidFamily_ && dcFamily_ ? "both" : hidFamily_ ? "hid" : "dc");
  cJSON* faults = cJSON_Parse(faults_.json().c_str());
  cJSON_AddItemToObject(o, "faults", faults ? faults : cJSON_CreateArray());
  int nh = 0, nd = 0, nc = 0;
  for (auto& kv : clients_) {
    nh += kv.second->role == Role::Hid;
    nd += kv.second->role == Role::Dc;
    nc += kv.second->role == Role::Control;
  }
  cJSON* cl = cJSON_AddObjectToObject(o, "clients");
  cJSON_AddNumberToObject(cl, "hid", nh);
  cJSON_AddNumberToObject(cl, "dc", nd);
  cJSON_AddNumberToObject(cl, "control", nc);
  cJSON* ex = cJSON_AddObjectToObject(o, "exchanges");
  cJSON_AddNumberToObject(ex, "hid", hidExchanges_);
  cJSON_AddNumberToObject(ex, "dc", dcExchanges_);
  if (replay_) {
    cJSON* r = cJSON_Parse(replay_->stateJson().c_str());
    if (r) cJSON_AddItemToObject(o, "replay", r);
  }
  char* txt = cJSON_PrintUnformatted(o);
  std::string s = std::string("OK ") + (txt ? txt : "{}");
  cJSON_free(txt);
  cJSON_Delete(o);
  return s;
}

std::string Server::control(const std::string& line) {
  std::vector<std::string> w = words(line);
  if (w.empty()) return "ERR empty command";
  const std::string& cmd = w[0];
  std::string err;
  auto ok = [](const std::string& s = "") { return s.empty() ? std::string("OK") : "OK " + s; };
  if (cmd == "ping") return ok("pong");
  if (cmd == "state") return stateLine();
  if (cmd == "enum") {
    if (!plugged_ || !hidFamily_) return ok("none");
    return ok("hid " + reader_.profile().serial);
  }
  if (cmd == "load" && w.size() == 2) {
    Profile p;
    if (!loadProfile(w[1], p, err)) return "ERR " + err;
    deliverEvent(std::nullopt);
    waitOwner_ = 0;
    reader_.load(p);
    return ok();
  }
  if (cmd == "insert" && w.size() == 3) return reader_.insert(w[1], w[2], err) ? ok() : "ERR " + err;
  if (cmd == "remove" && w.size() == 2) return reader_.remove(w[1], err) ? ok() : "ERR " + err;
  if (cmd == "swipe" && w.size() >= 2) {
    Stripe s;
    if (w.size() == 2 && w[1].find('=') == std::string::npos) {
      auto it = reader_.profile().stripes.find(w[1]);
      if (it == reader_.profile().stripes.end()) return "ERR no stripe named " + w[1];
      s = it->second;
    } else {
      for (size_t i = 1; i < w.size(); ++i) {
        size_t eq = w[i].find('=');
        std::string k = w[i].substr(0, eq), v = eq == std::string::npos ? "" : w[i].substr(eq + 1);
        if (k == "track1" && v.size() <= 79) s.track1 = v;
        else if (k == "track2" && v.size() <= 40) s.track2 = v;
        else if (k == "track3" && v.size() <= 107) s.track3 = v;
        else return "ERR swipe takes a stripe name or track1=.. track2=.. track3=.. within the track sizes";
      }
    }
    deliverEvent(reader_.swipe(s));
    return ok();
  }
  if (cmd == "present" && w.size() >= 2) {
    Bytes code;
    std::string rest = restAfter(line, 1);
    if (rest.compare(0, 5, "text=") == 0) {
      std::string t = rest.substr(5);
      code.assign(t.begin(), t.end());
    } else if (rest.compare(0, 4, "hex=") == 0) {
      if (!fromHex(rest.substr(4), code)) return "ERR hex= takes hex digits";
    } else {
      auto it = reader_.profile().qrcodes.find(w[1]);
      if (w.size() != 2 || it == reader_.profile().qrcodes.end()) return "ERR no QR code named " + rest;
      code.assign(it->second.begin(), it->second.end());
    }
    if (code.empty() || code.size() > 1024) return "ERR a code holds 1 to 1024 bytes";
    deliverEvent(reader_.present(code));
    return ok();
  }
  if (cmd == "keys" && w.size() == 2) {
    if (w[1].size() > 32) return "ERR at most 32 keys";
    deliverEvent(reader_.typeKeys(w[1]));
    return ok();
  }
  if (cmd == "plug" && w.size() == 1) {
    plugged_ = true;
    return ok();
  }
  if (cmd == "unplug" && w.size() == 1) {
    unplug();
    return ok();
  }
  if (cmd == "family" && w.size() == 2) return setFamily(w[1]) ? ok() : "ERR family is hid, dc or both";
  if (cmd == "timescale" && w.size() == 2) {
    char* end = nullptr;
    double v = strtod(w[1].c_str(), &end);
    if (*end || !(v >= 0.0001 && v <= 100)) return "ERR timescale takes a number from 0.0001 to 100";
    reader_.setTimeScale(v);
    return ok();
  }
  if (cmd == "fault") {
    if (w.size() == 2 && w[1] == "clear") {
      faults_.clear();
      return ok();
    }
    Fault f;
    if (!parseFault(restAfter(line, 1), f, err)) return "ERR " + err;
    if (!faults_.add(f)) return "ERR too many faults pending";
    return ok();
  }
  if (cmd == "log" && w.size() <= 2) {
    unsigned long n = 20;
    if (w.size() == 2) {
      char* end = nullptr;
      n = strtoul(w[1].c_str(), &end, 10);
      if (*end || n == 0) return "ERR log takes a positive count";
    }
    cJSON* arr = cJSON_CreateArray();
    size_t from = log_.size() > n ? log_.size() - n : 0;
    for (size_t i = from; i < log_.size(); ++i) {
      const LogEntry& e = log_[i];
      cJSON* o = cJSON_CreateObject();
      cJSON_AddNumberToObject(o, "seq", e.seq);
      cJSON_AddStringToObject(o, "fam", e.fam.c_str());
      cJSON_AddNumberToObject(o, "nad", e.nad);
      cJSON_AddStringToObject(o, "cmd", e.cmd.c_str());
      cJSON_AddStringToObject(o, "reply", e.reply.c_str());
      if (!e.fault.empty()) cJSON_AddStringToObject(o, "fault", e.fault.c_str());
      cJSON_AddItemToArray(arr, o);
    }
    char* txt = cJSON_PrintUnformatted(arr);
    std::string s = ok(txt ? txt : "[]");
    cJSON_free(txt);
    cJSON_Delete(arr);
    return s;
  }
  if (cmd == "clearlog" && w.size() == 1) {
    log_.clear();
    return ok();
  }
  if (cmd == "quit" && w.size() == 1) {
    running_ = false;
    return ok("bye");
  }
  return "ERR unknown command: " + line.substr(0, 64);
}

}  // namespace vr
