// A transport server answering every HTTP request with one fixed small JSON
// reply, the way the service answers its route. Prints its port, then
// serves until SIGTERM or SIGINT.
//   bench_transport_server [ADDRESS]   (default 127.0.0.1:0, a free port)
//   bench_transport_server --free-port (prints a free loopback port, exits)
#include <arpa/inet.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "hwtransport.h"

static volatile sig_atomic_t g_stop = 0;
static const char kBody[] = "{\"ok\":true}\n";

static void on_event(struct mg_connection *nc, int ev, void *) {
  if (ev != MG_EV_HTTP_REQUEST) return;
  mg_printf(nc, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                "Connection: keep-alive\r\n\r\n%s",
            static_cast<int>(strlen(kBody)), kBody);
}

int main(int argc, char **argv) {
  bool free_port = argc > 1 && strcmp(argv[1], "--free-port") == 0;
  const char *address = argc > 1 && !free_port ? argv[1] : "127.0.0.1:0";
  struct mg_mgr mgr;
  mg_mgr_init(&mgr, nullptr);
  struct mg_connection *ls = mg_bind(&mgr, address, on_event);
  if (ls == nullptr) {
    fprintf(stderr, "cannot listen on %s\n", address);
    return 1;
  }
  printf("%u\n", ntohs(ls->sa.sin_port));
  fflush(stdout);
  if (free_port) {
    mg_mgr_free(&mgr);
    return 0;
  }
  mg_set_protocol_http_websocket(ls);
  signal(SIGTERM, [](int) { g_stop = 1; });
  signal(SIGINT, [](int) { g_stop = 1; });
  while (!g_stop) mg_mgr_poll(&mgr, 200);
  mg_mgr_free(&mgr);
  return 0;
}
