// Who may use the service: the administrator's policy file
// (/etc/hwservice/hwservice.conf) parsed into a Policy, and the pure
// decisions taken from it for one request. Nothing here touches sockets or
// files, so tests and fuzz targets reach it on plain strings.
#ifndef HWSERVICE_POLICY_H
#define HWSERVICE_POLICY_H

#include <cstdint>
#include <string>
#include <vector>

namespace policy {

// One entry of AllowedOrigins: "null", or scheme://host[:port] where host may
// start with "*." for every subdomain. Stored lower-case with the scheme's
// default port made explicit, so comparison is plain equality.
struct OriginPattern {
  bool null_origin = false;
  bool any_subdomain = false;  // host holds the parent domain, "*." taken off
  std::string scheme, host;
  int port = 0;
  std::string text;  // as the administrator wrote it
};

struct Policy {
  bool loopback_only = false;  // Listen = 127.0.0.1
  bool any_origin = true;      // AllowedOrigins = * (or absent)
  std::vector<OriginPattern> origins;
  bool allow_remote = true;  // AllowRemoteHosts
  // True when nothing differs from the open defaults: the service then
  // behaves exactly as without a policy.
  bool IsOpen() const { return !loopback_only && any_origin && allow_remote; }
};

struct ParseError {
  int line = 0;  // 1-based
  std::string reason;
};

// Parses the whole file text. Blank lines, lines starting with '#' or ';'
// and [section] lines are skipped; every other line is "Key = value" with
// one of the keys Listen, AllowedOrigins, AllowRemoteHosts (names are not
// case-sensitive). false with *err set on the first bad line; policy is
// then unspecified.
bool ParsePolicy(const std::string &text, Policy *policy, ParseError *err);

// One origin as written in the policy ("https://*.example.org", "null",
// "http://10.1.2.3:8080/"). false with *reason set when it is not one.
bool ParseOriginPattern(const std::string &text, OriginPattern *out, std::string *reason);

// The Origin header value (as a browser sends it) matches an entry.
bool OriginMatches(const OriginPattern &pattern, const std::string &origin);
// The policy lets a page of this origin in (any_origin, or a matching entry).
bool OriginAllowed(const Policy &policy, const std::string &origin);

// A Host header naming this machine by loopback: 127.0.0.1, localhost or
// [::1], with or without ":port" (names not case-sensitive).
bool IsLoopbackHost(const std::string &host);

// IPv4 address in host byte order in 127.0.0.0/8.
inline bool IsLoopbackPeer(uint32_t ipv4) { return (ipv4 >> 24) == 127; }

// What the service does with one request.
enum class Verdict {
  kServe,
  kWrongHost,    // Listen = 127.0.0.1 and the Host header names another
  kRemotePeer,   // AllowRemoteHosts = no and the peer is not loopback
  kWrongOrigin,  // an Origin header the list does not allow
};

struct Request {
  bool has_origin = false;
  std::string origin;
  bool has_host = false;
  std::string host;
  uint32_t peer_ipv4 = 0x7f000001;  // host byte order
};

Verdict Decide(const Policy &policy, const Request &req);

// The text a refused page reads in ErrorInfo.
const char *VerdictText(Verdict v);

// The file text with AllowedOrigins set to origins (an empty list allows
// no page; {"*"} every page),
// everything else kept line for line. The key's first line is replaced (or
// a line appended when there is none; a commented-out "# AllowedOrigins"
// line is left as it is).
std::string WithAllowedOrigins(const std::string &text, const std::vector<std::string> &origins);

}  // namespace policy

#endif
