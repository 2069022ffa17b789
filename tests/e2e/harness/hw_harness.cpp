#include "hw_harness.h"
#include "test_emulator.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace hwtest {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int ConnectOnce(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

int ConnectWithin(int port, int timeout_ms) {
  const int64_t end = NowMs() + timeout_ms;
  for (;;) {
    int fd = ConnectOnce(port);
    if (fd >= 0 || NowMs() >= end) return fd;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// End of an HTTP header block: after LF LF or LF CR LF; npos when absent.
size_t HeaderEnd(const std::string &s) {
  for (size_t i = 0; i + 1 < s.size(); i++) {
    if (s[i] != '\n') continue;
    if (s[i + 1] == '\n') return i + 2;
    if (s[i + 1] == '\r' && i + 2 < s.size() && s[i + 2] == '\n') return i + 3;
  }
  return std::string::npos;
}

long ContentLength(const std::string &head) {
  std::istringstream in(head);
  std::string line;
  while (std::getline(in, line)) {
    if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0) return atol(line.c_str() + 15);
  }
  return 0;
}

}  // namespace

std::string BinDir() {
  const char *b = getenv("HW_BINARY_DIR");
  return std::string(b != nullptr ? b : ".") + "/bin";
}

std::string SourceDir() {
  const char *s = getenv("HW_SOURCE_DIR");
  return s != nullptr ? s : ".";
}

std::unique_ptr<Conn> Conn::Open(int port, int timeout_ms) {
  int fd = ConnectWithin(port, timeout_ms);
  if (fd < 0) return nullptr;
  return std::unique_ptr<Conn>(new Conn(fd));
}

Conn::~Conn() {
  if (fd_ >= 0) close(fd_);
}

bool Conn::Send(const std::string &bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

bool Conn::WaitReadable(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

std::string Conn::ReadN(size_t n, int timeout_ms) {
  const int64_t end = NowMs() + timeout_ms;
  while (pending_.size() < n) {
    if (!WaitReadable(static_cast<int>(end - NowMs()))) break;
    char buf[4096];
    ssize_t r = recv(fd_, buf, sizeof buf, 0);
    if (r <= 0) break;
    pending_.append(buf, static_cast<size_t>(r));
  }
  std::string out = pending_.substr(0, n);
  pending_.erase(0, out.size());
  return out;
}

std::string Conn::ReadQuiet(int quiet_ms, int timeout_ms) {
  const int64_t end = NowMs() + timeout_ms;
  for (;;) {
    int wait = static_cast<int>(std::min<int64_t>(quiet_ms, end - NowMs()));
    if (wait <= 0 || !WaitReadable(wait)) break;
    char buf[4096];
    ssize_t r = recv(fd_, buf, sizeof buf, 0);
    if (r <= 0) break;
    pending_.append(buf, static_cast<size_t>(r));
  }
  std::string out;
  out.swap(pending_);
  return out;
}

std::string Conn::ReadHttpReply(int timeout_ms) {
  const int64_t end = NowMs() + timeout_ms;
  size_t he;
  while ((he = HeaderEnd(pending_)) == std::string::npos) {
    if (!WaitReadable(static_cast<int>(end - NowMs()))) return "";
    char buf[4096];
    ssize_t r = recv(fd_, buf, sizeof buf, 0);
    if (r <= 0) return "";
    pending_.append(buf, static_cast<size_t>(r));
  }
  const size_t total = he + static_cast<size_t>(ContentLength(pending_.substr(0, he)));
  std::string head = pending_.substr(0, he);
  pending_.erase(0, he);
  std::string body = ReadN(total - he, static_cast<int>(std::max<int64_t>(0, end - NowMs())));
  return head + body;
}

std::unique_ptr<WsConn> WsConn::Open(int port, const std::string &path, int timeout_ms) {
  int fd = ConnectWithin(port, timeout_ms);
  if (fd < 0) return nullptr;
  std::unique_ptr<WsConn> c(new WsConn(fd));
  c->Send("GET " + path +
          " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
  c->handshake_reply = c->ReadHttpReply(timeout_ms);
  if (c->handshake_reply.compare(0, 12, "HTTP/1.1 101") != 0) return nullptr;
  return c;
}

std::string ClientFrame(int opcode, const std::string &payload, bool fin) {
  std::string f;
  f += static_cast<char>((fin ? 0x80 : 0) | (opcode & 0x0F));
  const size_t n = payload.size();
  if (n < 126) {
    f += static_cast<char>(0x80 | n);
  } else if (n < 65536) {
    f += static_cast<char>(0x80 | 126);
    f += static_cast<char>(n >> 8);
    f += static_cast<char>(n & 0xFF);
  } else {
    f += static_cast<char>(0x80 | 127);
    for (int i = 7; i >= 0; i--) f += static_cast<char>((static_cast<uint64_t>(n) >> (8 * i)) & 0xFF);
  }
  const unsigned char key[4] = {0x37, 0xFA, 0x21, 0x3D};
  f.append(reinterpret_cast<const char *>(key), 4);
  for (size_t i = 0; i < n; i++) f += static_cast<char>(payload[i] ^ key[i % 4]);
  return f;
}

bool WsConn::SendFrame(int opcode, const std::string &payload, bool fin) {
  return Send(ClientFrame(opcode, payload, fin));
}

bool WsConn::ReadFrame(Frame &f, int timeout_ms) {
  const int64_t end = NowMs() + timeout_ms;
  auto left = [&] { return static_cast<int>(std::max<int64_t>(0, end - NowMs())); };
  std::string h = ReadN(2, left());
  if (h.size() < 2) return false;
  f.fin = (h[0] & 0x80) != 0;
  f.opcode = h[0] & 0x0F;
  uint64_t len = static_cast<unsigned char>(h[1]) & 0x7F;
  const bool masked = (static_cast<unsigned char>(h[1]) & 0x80) != 0;
  if (len >= 126) {
    const size_t k = len == 126 ? 2 : 8;
    std::string ext = ReadN(k, left());
    if (ext.size() < k) return false;
    len = 0;
    for (char c : ext) len = (len << 8) | static_cast<unsigned char>(c);
  }
  std::string key = masked ? ReadN(4, left()) : std::string();
  f.payload = ReadN(static_cast<size_t>(len), left());
  if (f.payload.size() < len) return false;
  for (size_t i = 0; masked && i < f.payload.size(); i++) f.payload[i] ^= key[i % 4];
  return true;
}

bool WsConn::ReadDataFrame(Frame &f, int timeout_ms) {
  const int64_t end = NowMs() + timeout_ms;
  while (ReadFrame(f, static_cast<int>(std::max<int64_t>(0, end - NowMs()))))
    if (f.opcode != 9) return true;
  return false;
}

std::string HttpExchange(int port, const std::string &request, int timeout_ms) {
  auto c = Conn::Open(port, timeout_ms);
  if (!c || !c->Send(request)) return "";
  return c->ReadHttpReply(timeout_ms);
}

std::string PostRequest(const std::string &path, const std::string &body) {
  return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string HttpBody(const std::string &reply) {
  size_t he = HeaderEnd(reply);
  return he == std::string::npos ? "" : reply.substr(he);
}

bool WaitForPort(int port, int timeout_ms) {
  int fd = ConnectWithin(port, timeout_ms);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool PortFree(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
  close(fd);
  return ok;
}

TempDir::TempDir() {
  const char *base = getenv("TMPDIR");
  std::string tmpl = std::string(base != nullptr && *base ? base : "/tmp") + "/hwtest.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  nftw(
      path_.c_str(),
      [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); }, 16,
      FTW_DEPTH | FTW_PHYS);
}

void WriteFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

Process::Process(const std::string &program, const std::vector<std::string> &args,
                 const std::map<std::string, std::string> &env, const std::string &cwd) {
  // Everything is prepared before fork: the child only redirects and execs.
  // Under a cross build's emulator, LD_PRELOAD is the emulated program's.
  const bool emulated = !hwemu::Words().empty();
  const auto pre = env.find("LD_PRELOAD");
  const std::string preload = emulated && pre != env.end() ? pre->second : "";
  std::vector<std::string> envs;
  for (char **e = environ; *e != nullptr; e++) {
    std::string kv = *e;
    if (env.count(kv.substr(0, kv.find('='))) == 0) envs.push_back(kv);
  }
  for (const auto &kv : env)
    if (!kv.second.empty() && !(emulated && kv.first == "LD_PRELOAD")) envs.push_back(kv.first + "=" + kv.second);
  std::vector<char *> envp, argv;
  for (std::string &kv : envs) envp.push_back(&kv[0]);
  envp.push_back(nullptr);
  std::vector<std::string> words = hwemu::Argv(program, args, preload);
  for (std::string &a : words) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const int o = open((dir_.path() + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int e = open((dir_.path() + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(o);
  close(e);
  close(in);
}

Process::~Process() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
}

bool Process::Running() {
  if (pid_ <= 0 || reaped_) return false;
  int st;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    status_ = st;
    return false;
  }
  return true;
}

void Process::Signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

bool Process::Wait(int timeout_ms, int *status) {
  const int64_t end = NowMs() + timeout_ms;
  while (Running()) {
    if (NowMs() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (status != nullptr) *status = status_;
  return reaped_;
}

std::string Process::Stdout() const { return ReadFile(dir_.path() + "/stdout"); }
std::string Process::Stderr() const { return ReadFile(dir_.path() + "/stderr"); }

bool Process::WaitForOutput(const std::string &text, int timeout_ms) {
  const int64_t end = NowMs() + timeout_ms;
  for (;;) {
    if (Stdout().find(text) != std::string::npos) return true;
    if (NowMs() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace hwtest
