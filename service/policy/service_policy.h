// The policy file applied to the running service: loaded once at start,
// re-read when the file changes, and enforced where requests and WebSocket
// upgrades arrive. Called from main (load) and the server thread (the rest).
#ifndef HWSERVICE_SERVICE_POLICY_H
#define HWSERVICE_SERVICE_POLICY_H

#include <string>

#include "hwtransport.h"

// The policy file: $HWSERVICE_POLICY when set (tests, trials), else
// /etc/hwservice/hwservice.conf.
std::string PolicyFilePath();

// Reads the policy file. An absent file leaves the service open, as without
// a policy. false, with *message naming the file, line and reason, when the
// file exists but cannot be read or holds a malformed line: the service must
// then not start.
bool LoadServicePolicy(std::string *message);

// "PORT" (all interfaces) or "127.0.0.1:PORT" as the policy's Listen says.
std::string ServiceListenAddress(const std::string &port);

// Checks an HTTP request (MG_EV_HTTP_REQUEST) or WebSocket upgrade request
// (MG_EV_WEBSOCKET_HANDSHAKE_REQUEST) against the policy. true when it has
// been answered here (a 403 refusal, or a CORS preflight) and must go no
// further; false to serve it as usual. Re-reads the file first when it
// changed since the last look.
bool PolicyTurnsAway(mg_connection *nc, int ev, http_message *hm);

#endif
