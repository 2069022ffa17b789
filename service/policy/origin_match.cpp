#include <cctype>

#include "policy.h"

namespace policy {
namespace {

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

int DefaultPort(const std::string &scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  return 0;
}

bool ValidScheme(const std::string &s) {
  if (s.empty() || !isalpha(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

// Letters, digits, '-' and '.' (names, IPv4), or a bracketed IPv6 literal.
// Browsers send internationalised names in punycode, so entries must too.
bool ValidHost(const std::string &h, std::string *reason) {
  for (char c : h)
    if (static_cast<unsigned char>(c) >= 0x80) {
      *reason = "write internationalised names in punycode (xn--...)";
      return false;
    }
  if (h.empty()) {
    *reason = "no host";
    return false;
  }
  if (h.front() == '[') {
    if (h.back() != ']' || h.size() < 3) {
      *reason = "bad IPv6 address";
      return false;
    }
    for (size_t i = 1; i + 1 < h.size(); i++)
      if (!isxdigit(static_cast<unsigned char>(h[i])) && h[i] != ':' && h[i] != '.') {
        *reason = "bad IPv6 address";
        return false;
      }
    return true;
  }
  if (h.front() == '.' || h.back() == '.' || h.find("..") != std::string::npos) {
    *reason = "bad host name";
    return false;
  }
  for (char c : h)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') {
      *reason = "bad host name";
      return false;
    }
  return true;
}

// scheme://host[:port][/] into its parts, lower-cased, default port filled in.
bool Split(const std::string &text, bool wildcard, std::string *scheme, std::string *host, int *port,
           std::string *reason) {
  const size_t sep = text.find("://");
  if (sep == std::string::npos) {
    *reason = "not an origin (scheme://host[:port])";
    return false;
  }
  *scheme = Lower(text.substr(0, sep));
  if (!ValidScheme(*scheme)) {
    *reason = "bad scheme";
    return false;
  }
  std::string rest = text.substr(sep + 3);
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.find_first_of("/?#@") != std::string::npos) {
    *reason = "an origin has no path, query, fragment or user name";
    return false;
  }
  // The port follows the last ':' outside an IPv6 literal.
  const size_t close = rest.rfind(']');
  const size_t colon = rest.rfind(':');
  std::string portText;
  if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
    portText = rest.substr(colon + 1);
    rest.resize(colon);
  }
  *host = Lower(rest);
  const bool wild = wildcard && host->compare(0, 2, "*.") == 0;
  if (!ValidHost(wild ? host->substr(2) : *host, reason)) return false;
  if (portText.empty()) {
    *port = DefaultPort(*scheme);
    if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
      *reason = "empty port";
      return false;
    }
    return true;
  }
  if (portText.size() > 5) {
    *reason = "bad port";
    return false;
  }
  int p = 0;
  for (char c : portText) {
    if (!isdigit(static_cast<unsigned char>(c))) {
      *reason = "bad port";
      return false;
    }
    p = p * 10 + (c - '0');
  }
  if (p < 1 || p > 65535) {
    *reason = "bad port";
    return false;
  }
  *port = p;
  return true;
}

}  // namespace

bool ParseOriginPattern(const std::string &text, OriginPattern *out, std::string *reason) {
  *out = OriginPattern();
  out->text = text;
  if (Lower(text) == "null") {
    out->null_origin = true;
    return true;
  }
  std::string host;
  if (!Split(text, true, &out->scheme, &host, &out->port, reason)) return false;
  if (host.compare(0, 2, "*.") == 0) {
    out->any_subdomain = true;
    host.erase(0, 2);
    // "*.org" would let in a whole top-level domain.
    if (host.find('.') == std::string::npos || host.front() == '[') {
      *reason = "a wildcard needs a domain with a dot (*.example.org)";
      return false;
    }
  }
  out->host = host;
  return true;
}

bool OriginMatches(const OriginPattern &pattern, const std::string &origin) {
  if (pattern.null_origin) return Lower(origin) == "null";
  std::string scheme, host, reason;
  int port = 0;
  if (!Split(origin, false, &scheme, &host, &port, &reason)) return false;
  if (scheme != pattern.scheme || port != pattern.port) return false;
  if (!pattern.any_subdomain) return host == pattern.host;
  // A subdomain at any depth, never the parent itself.
  return host.size() > pattern.host.size() + 1 &&
         host.compare(host.size() - pattern.host.size(), std::string::npos, pattern.host) == 0 &&
         host[host.size() - pattern.host.size() - 1] == '.';
}

bool OriginAllowed(const Policy &policy, const std::string &origin) {
  if (policy.any_origin) return true;
  for (const OriginPattern &p : policy.origins)
    if (OriginMatches(p, origin)) return true;
  return false;
}

bool IsLoopbackHost(const std::string &hostHeader) {
  std::string h = Lower(hostHeader);
  const size_t close = h.rfind(']');
  const size_t colon = h.rfind(':');
  if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
    const std::string port = h.substr(colon + 1);
    if (port.empty() || port.size() > 5) return false;
    for (char c : port)
      if (!isdigit(static_cast<unsigned char>(c))) return false;
    h.resize(colon);
  }
  return h == "127.0.0.1" || h == "localhost" || h == "[::1]";
}

Verdict Decide(const Policy &policy, const Request &req) {
  if (!policy.allow_remote && !IsLoopbackPeer(req.peer_ipv4)) return Verdict::kRemotePeer;
  if (policy.loopback_only && !(req.has_host && IsLoopbackHost(req.host))) return Verdict::kWrongHost;
  if (req.has_origin && !OriginAllowed(policy, req.origin)) return Verdict::kWrongOrigin;
  return Verdict::kServe;
}

const char *VerdictText(Verdict v) {
  switch (v) {
    case Verdict::kWrongHost:
      return "Host not allowed: the service answers only requests for 127.0.0.1, localhost or [::1]";
    case Verdict::kRemotePeer:
      return "Remote hosts not allowed: the service answers only this computer";
    case Verdict::kWrongOrigin:
      return "Origin not allowed: this page's origin is not in the service's AllowedOrigins";
    case Verdict::kServe:
      break;
  }
  return "";
}

}  // namespace policy
