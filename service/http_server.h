// HttpServer: routes HTTP requests and WebSocket messages from the transport
// to the request dispatcher and formats the service's two kinds of reply.
// Everything runs on the thread that calls Start() (the server thread), but
// card operations: Start() also starts the card worker, the one thread that
// calls the client library, and the server thread goes on serving while it
// works. Only Stop() may be called from another thread.
#ifndef HWSERVICE_HTTP_SERVER_H
#define HWSERVICE_HTTP_SERVER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "hwtransport.h"

class CardWorker;
struct CardRequest;

// Sends one reply text on a connection.
using ReplySender = std::function<void(mg_connection *, const std::string &)>;
// Handles one HTTP request: (URI without query string, body, connection,
// sender of the reply). The result is not used.
using RouteHandler =
    std::function<bool(const std::string &, const std::string &, mg_connection *, ReplySender)>;

class HttpServer {
 public:
  HttpServer();
  ~HttpServer();
  HttpServer(const HttpServer &) = delete;
  HttpServer &operator=(const HttpServer &) = delete;

  // Stores the listening address ("7776": all IPv4 interfaces; "A.B.C.D:PORT"
  // also works, port 0 picking a free one) and sets the file-server options.
  void Init(const std::string &port);
  // Binds and polls until Stop(). false (after logging "连接为空") when the
  // address cannot be bound; true once stopped.
  bool Start();
  // Ends a running Start() at once; callable from any thread.
  void Stop();
  // Frees the event manager and every connection (the port is free then),
  // then waits for a running card operation to end; true.
  bool Close();
  // Bound TCP port once Start() is listening, else 0; callable from any thread.
  int BoundPort() const { return m_boundPort.load(); }

  // Route table shared by all servers; fill it before Start().
  void AddHandler(const std::string &uri, RouteHandler handler);
  void RemoveHandler(const std::string &uri);

  static void OnHttpWebsocketEvent(mg_connection *nc, int ev, void *ev_data);
  static void HandleHttpEvent(mg_connection *nc, http_message *hm);
  static void HandleWebsocketMessage(mg_connection *nc, int ev, const char *msg);
  static void SendHttpRsp(mg_connection *nc, const std::string &rsp);
  static void SendWebsocketMsg(mg_connection *nc, const std::string &msg);
  static bool isWebsocket(const mg_connection *nc);
  // Hands req (bytes: its request text size) to the card worker of nc's
  // server, which replies on nc when done; a full queue is answered at once
  // with BusyReply (HTTP status 503). false when nc's server has no worker
  // (the caller then runs the request itself).
  static bool QueueCardRequest(mg_connection *nc, CardRequest &&req, bool http, size_t bytes);

 private:
  static void OnWake(mg_mgr *mgr, void *arg);
  static void SendHttpReply(mg_connection *nc, const char *status, const std::string &rsp);
  void Wake();
  void ForgetConnection(mg_connection *nc);

  std::string m_port;
  mg_mgr m_mgr;
  bool m_mgrLive = false;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_boundPort{0};
  std::unique_ptr<CardWorker> m_worker;
  // Connections with card requests, by a number that is never reused, so
  // that a reply for a connection that has gone finds nothing.
  std::unordered_map<mg_connection *, uint64_t> m_ids;
  std::unordered_map<uint64_t, mg_connection *> m_conns;
  uint64_t m_nextId = 1;
  unsigned long m_refusedLogged = 0;
  std::mutex m_wakeMu;  // m_wakeReady, and the wake descriptor while it is set
  bool m_wakeReady = false;
};

#endif
