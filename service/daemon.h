// The server thread: one HttpServer on port 7776 with the route
// "/http/hardware", and its orderly stop.
#ifndef HWSERVICE_DAEMON_H
#define HWSERVICE_DAEMON_H

#include <chrono>

// The server thread's body: serves until StopDaemon(); returns at once (after
// logging "连接为空") when the port cannot be bound.
void Daemon();

// Starts Daemon() on a thread of its own (joined by StopDaemon).
void StartDaemonThread();

// Asks the server thread started by StartDaemonThread() to stop and waits up
// to `wait` for it to end (its listening socket is then closed). false when
// it is still busy, for example inside a long card operation.
bool StopDaemon(std::chrono::milliseconds wait);

#endif
