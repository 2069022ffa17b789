// HttpServer: routes HTTP requests and WebSocket messages from the transport
// to the request dispatcher and formats the service's two kinds of reply.
// Everything runs on the thread that calls Start(); only Stop() may be called
// from another thread.
#ifndef HWSERVICE_HTTP_SERVER_H
#define HWSERVICE_HTTP_SERVER_H

#include <atomic>
#include <functional>
#include <string>

#include "hwtransport.h"

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
  // Ends a running Start() within one poll pass (200 ms); callable from any thread.
  void Stop();
  // Frees the event manager and every connection; true.
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

 private:
  std::string m_port;
  mg_mgr m_mgr;
  bool m_mgrLive = false;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_boundPort{0};
};

#endif
