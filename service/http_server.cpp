#include "http_server.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cstring>
#include <unordered_map>
#include <vector>

#include "card_worker.h"
#include "dispatcher.h"
#include "policy/service_policy.h"
#include "svc_log.h"

namespace {

std::unordered_map<std::string, RouteHandler> s_handler_map;
// Document root of "/", relative to the working directory.
const std::string s_web_dir = "./web";
std::string s_web_root;  // the root actually served (see WebRoot)
serve_options s_server_option;

const char kNotImplemented[] = "HTTP/1.1 501 Not Implemented\r\nContent-Length: 0\r\n\r\n";

bool IsDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "./web" of the working directory when it exists. A service started from a
// desktop entry or autostart runs in the user's home, so it then falls back
// to the "web" folder beside the program, where the build puts the pages.
// The choice is made once, at Init, and kept as an absolute path.
std::string WebRoot() {
  char real[PATH_MAX];
  if (IsDirectory(s_web_dir) && realpath(s_web_dir.c_str(), real) != nullptr) return real;
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = '\0';
    char *slash = strrchr(exe, '/');
    if (slash != nullptr) {
      std::string beside = std::string(exe, slash - exe) + "/web";
      if (IsDirectory(beside)) return beside;
    }
  }
  return s_web_dir;
}

std::string Text(const mg_str &s) { return std::string(s.p, s.len); }

}  // namespace

HttpServer::HttpServer() { memset(&m_mgr, 0, sizeof m_mgr); }

HttpServer::~HttpServer() { Close(); }

void HttpServer::Init(const std::string &port) {
  m_port = port;
  s_web_root = WebRoot();
  s_server_option = serve_options();
  s_server_option.document_root = s_web_root.c_str();
  s_server_option.enable_directory_listing = "yes";
  s_server_option.extra_headers = "Access-Control-Allow-Origin: *";
}

bool HttpServer::Start() {
  if (!m_mgrLive) {
    mg_mgr_init(&m_mgr, this);
    m_mgrLive = true;
    if (mg_mgr_set_wakeup(&m_mgr, OnWake, this) == 0) {
      std::lock_guard<std::mutex> lock(m_wakeMu);
      m_wakeReady = true;
    }
  }
  mg_connection *nc = mg_bind(&m_mgr, m_port.c_str(), OnHttpWebsocketEvent);
  if (nc == nullptr) {
    SvcLog("连接为空");
    return false;
  }
  mg_set_protocol_http_websocket(nc);
  m_boundPort = ntohs(nc->sa.sin_port);
  SvcLog("starting http server at port: %s\n", m_port.c_str());
  if (!m_worker) m_worker.reset(new CardWorker([this] { Wake(); }));
  SetCardQueue(QueueCardRequest);
  while (!m_stop.load()) {
    mg_mgr_poll(&m_mgr, 200);
    if (m_mgr.refused_conns != m_refusedLogged) {
      SvcLog("refused %lu connections: %d connections are open, the most served at once\n",
             m_mgr.refused_conns - m_refusedLogged, static_cast<int>(m_mgr.max_conns));
      m_refusedLogged = m_mgr.refused_conns;
    }
  }
  m_boundPort = 0;
  return true;
}

void HttpServer::Stop() {
  m_stop = true;
  Wake();
}

void HttpServer::Wake() {
  std::lock_guard<std::mutex> lock(m_wakeMu);
  if (m_wakeReady) mg_mgr_wakeup(&m_mgr);
}

bool HttpServer::Close() {
  if (m_mgrLive) {
    {
      std::lock_guard<std::mutex> lock(m_wakeMu);
      m_wakeReady = false;
    }
    mg_mgr_free(&m_mgr);
    m_mgrLive = false;
  }
  // After the port is free: a running card operation may take its time.
  m_worker.reset();
  m_ids.clear();
  m_conns.clear();
  return true;
}

void HttpServer::OnWake(mg_mgr * /*mgr*/, void *arg) {
  auto *self = static_cast<HttpServer *>(arg);
  if (!self->m_worker) return;
  for (CardWorker::Done &d : self->m_worker->TakeDone()) {
    auto it = self->m_conns.find(d.conn);
    if (it == self->m_conns.end()) continue;  // the client has gone
    mg_connection *nc = it->second;
    if (d.http) {
      SendHttpRsp(nc, d.reply);
      mg_resume(nc);
    } else {
      SendWebsocketMsg(nc, d.reply);
    }
  }
}

void HttpServer::ForgetConnection(mg_connection *nc) {
  auto it = m_ids.find(nc);
  if (it == m_ids.end()) return;
  if (m_worker) m_worker->Cancel(it->second);
  m_conns.erase(it->second);
  m_ids.erase(it);
}

bool HttpServer::QueueCardRequest(mg_connection *nc, CardRequest &&req, bool http, size_t bytes) {
  auto *self = static_cast<HttpServer *>(nc->mgr->user_data);
  if (self == nullptr || !self->m_worker) return false;
  auto it = self->m_ids.find(nc);
  const uint64_t id = it != self->m_ids.end() ? it->second : self->m_nextId++;
  if (self->m_worker->Submit(id, http, req, bytes)) {
    if (it == self->m_ids.end()) {
      self->m_ids.emplace(nc, id);
      self->m_conns.emplace(id, nc);
    }
    // HTTP replies go out in request order: the next request waits.
    if (http) nc->flags |= MG_F_HOLD;
    return true;
  }
  const std::string reply = BusyReply(req);
  if (http) {
    LogHttpReply(reply);
    SendHttpReply(nc, "503 Service Unavailable", reply);
  } else {
    SvcLog("\r\nWebsocket返回数据(GBK): %s, nlen = %d\n", reply.c_str(), static_cast<int>(reply.size()));
    SendWebsocketMsg(nc, reply);
  }
  return true;
}

void HttpServer::AddHandler(const std::string &uri, RouteHandler handler) {
  s_handler_map.emplace(uri, std::move(handler));  // a second registration keeps the first
}

void HttpServer::RemoveHandler(const std::string &uri) { s_handler_map.erase(uri); }

void HttpServer::OnHttpWebsocketEvent(mg_connection *nc, int ev, void *ev_data) {
  if (PolicyTurnsAway(nc, ev, static_cast<http_message *>(ev_data))) return;
  if (ev == MG_EV_HTTP_REQUEST) {
    HandleHttpEvent(nc, static_cast<http_message *>(ev_data));
  } else if (ev == MG_EV_WEBSOCKET_FRAME) {
    const auto *wm = static_cast<const websocket_message *>(ev_data);
    std::vector<char> copy(wm->size + 1, '\0');
    if (wm->size > 0) memcpy(copy.data(), wm->data, wm->size);
    SvcLog("\r\n msg:%s\r\n", copy.data());
    HandleWebsocketMessage(nc, ev, copy.data());
  } else if (ev == MG_EV_CLOSE) {
    auto *self = static_cast<HttpServer *>(nc->mgr->user_data);
    if (self != nullptr) self->ForgetConnection(nc);
  }
}

void HttpServer::HandleHttpEvent(mg_connection *nc, http_message *hm) {
  SvcLog("got request: %.*s\n", static_cast<int>(hm->message.len), hm->message.p);
  const std::string uri = Text(hm->uri);
  auto it = s_handler_map.find(uri);
  if (it != s_handler_map.end()) {
    it->second(uri, Text(hm->body), nc, SendHttpRsp);
  } else if (uri == "/" || uri.compare(0, 5, "/sdk/") == 0) {
    // "/sdk/" holds the JavaScript library for pages; the file server keeps
    // every path inside the web folder.
    mg_serve_http(nc, hm, s_server_option);
  } else if (uri == "/api/hello") {
    SendHttpRsp(nc, "welcome to httpserver");
  } else {
    mg_send(nc, kNotImplemented, sizeof kNotImplemented - 1);
  }
}

void HttpServer::HandleWebsocketMessage(mg_connection *nc, int /*ev*/, const char *msg) {
  if (strcmp(msg, "HeartBeat") == 0) {
    SendWebsocketMsg(nc, "HeartBeat");
    return;
  }
  // GBK never takes more bytes than the UTF-8 it comes from; the extra byte
  // keeps the result terminated even for an empty message.
  const size_t len = strlen(msg);
  std::vector<char> gbk(len * 2 + 1, '\0');
  Utf8ToGbk(msg, len, gbk.data(), gbk.size());
  std::string reply, err;
  CardRequest req;
  int rc = PrepareRequest(gbk.data(), req, reply, err);
  if (rc == 1) {
    if (QueueCardRequest(nc, std::move(req), false, len)) return;
    RunCardRequest(req, reply, err);
    rc = 0;
  }
  SvcLog("\r\nWebsocket返回数据(GBK): %s, nlen = %d\n", reply.c_str(), static_cast<int>(reply.size()));
  if (rc == 0) SendWebsocketMsg(nc, reply);
}

void HttpServer::SendHttpRsp(mg_connection *nc, const std::string &rsp) { SendHttpReply(nc, "200 OK", rsp); }

void HttpServer::SendHttpReply(mg_connection *nc, const char *status, const std::string &rsp) {
  // Status line with CR LF, headers with bare LF, and a LF after the body
  // that Content-Length does not count: what the pages already parse.
  mg_printf(nc,
            "HTTP/1.1 %s\r\nContent-Type: application/json\nCache-Control: no-cache\n"
            "Content-Length: %d\nAccess-Control-Allow-Origin: *\n"
            "Access-Control-Allow-Headers:Content-Type,XFILENAME,XFILECATEGORY,XFILESIZE\n\n",
            status, static_cast<int>(rsp.size()));
  mg_send(nc, rsp.data(), static_cast<int>(rsp.size()));
  mg_send(nc, "\n", 1);
}

void HttpServer::SendWebsocketMsg(mg_connection *nc, const std::string &msg) {
  mg_send_websocket_frame(nc, WEBSOCKET_OP_TEXT, msg.c_str(), strlen(msg.c_str()));
}

bool HttpServer::isWebsocket(const mg_connection *nc) { return (nc->flags & MG_F_IS_WEBSOCKET) != 0; }
