#include "policy.h"

#include <gtest/gtest.h>

namespace {

using policy::Verdict;

TEST(OriginMatch, PatternAgainstOrigin) {
  struct {
    const char *pattern, *origin;
    bool match;
  } cases[] = {
      {"https://his.example.org", "https://his.example.org", true},
      {"https://his.example.org", "http://his.example.org", false},        // scheme
      {"https://his.example.org", "https://his.example.org:8443", false},  // port
      {"https://his.example.org", "https://his.example.org:443", true},    // default port
      {"http://10.1.2.3:8080", "http://10.1.2.3:8080", true},
      {"http://10.1.2.3:8080", "http://10.1.2.3", false},
      {"http://10.1.2.3:80", "http://10.1.2.3", true},
      {"https://HIS.Example.ORG", "https://his.example.org", true},  // case
      {"HTTPS://his.example.org", "https://HIS.EXAMPLE.ORG", true},
      {"https://his.example.org/", "https://his.example.org", true},  // trailing slash
      {"https://his.example.org", "https://his.example.org/", true},
      {"https://his.example.org", "https://his.example.org.evil.net", false},
      {"https://his.example.org", "https://xhis.example.org", false},
      {"https://*.example.org", "https://a.example.org", true},  // wildcard
      {"https://*.example.org", "https://b.a.example.org", true},
      {"https://*.example.org", "https://example.org", false},  // not the parent
      {"https://*.example.org", "https://badexample.org", false},
      {"https://*.example.org", "https://a.example.org.evil.net", false},
      {"https://*.example.org", "http://a.example.org", false},
      {"https://*.example.org:8443", "https://a.example.org:8443", true},
      {"https://*.example.org:8443", "https://a.example.org", false},
      {"null", "null", true},  // file pages
      {"null", "https://null", false},
      {"https://his.example.org", "null", false},
      {"https://xn--bcher-kva.example", "https://xn--bcher-kva.example", true},  // IDN
      {"https://xn--bcher-kva.example", "https://XN--BCHER-KVA.example", true},
      {"https://*.xn--bcher-kva.example", "https://a.xn--bcher-kva.example", true},
      {"http://[::1]:8080", "http://[::1]:8080", true},
      {"https://his.example.org", "", false},
      {"https://his.example.org", "his.example.org", false},
      {"https://his.example.org", "https://his.example.org/path", false},
  };
  for (const auto &c : cases) {
    policy::OriginPattern p;
    std::string why;
    ASSERT_TRUE(policy::ParseOriginPattern(c.pattern, &p, &why)) << c.pattern << ": " << why;
    EXPECT_EQ(policy::OriginMatches(p, c.origin), c.match) << c.pattern << " vs " << c.origin;
  }
}

TEST(OriginMatch, MalformedPatternsNameTheReason) {
  struct {
    const char *pattern, *reason;
  } cases[] = {
      {"his.example.org", "not an origin (scheme://host[:port])"},
      {"https://", "no host"},
      {"https://his.example.org/app", "an origin has no path, query, fragment or user name"},
      {"https://u@his.example.org", "an origin has no path, query, fragment or user name"},
      {"https://his.example.org:0", "bad port"},
      {"https://his.example.org:65536", "bad port"},
      {"https://his.example.org:8o", "bad port"},
      {"https://his.example.org:", "empty port"},
      {"https://*.org", "a wildcard needs a domain with a dot (*.example.org)"},
      {"https://a.*.example.org", "bad host name"},
      {"https://*example.org", "bad host name"},
      {"https://bücher.example", "write internationalised names in punycode (xn--...)"},
      {"https://a..example.org", "bad host name"},
      {"1ttp://a.example.org", "bad scheme"},
      {"http://[::1", "bad IPv6 address"},
  };
  for (const auto &c : cases) {
    policy::OriginPattern p;
    std::string why;
    EXPECT_FALSE(policy::ParseOriginPattern(c.pattern, &p, &why)) << c.pattern;
    EXPECT_EQ(why, c.reason) << c.pattern;
  }
}

TEST(PolicyFile, ParsesKeysAndRefusesBadLinesWithLineAndReason) {
  struct {
    const char *text;
    bool ok;
    int line;
    const char *reason;
    bool loopback, anyOrigin, remote;
    size_t origins;
  } cases[] = {
      {"", true, 0, "", false, true, true, 0},
      {"# all commented\n; AllowedOrigins = x\n[hwservice]\n\n", true, 0, "", false, true, true, 0},
      {"Listen = 127.0.0.1\n", true, 0, "", true, true, true, 0},
      {"listen=0.0.0.0\r\n", true, 0, "", false, true, true, 0},
      {"AllowRemoteHosts = no\n", true, 0, "", false, true, false, 0},
      {"AllowRemoteHosts = YES", true, 0, "", false, true, true, 0},
      {"AllowedOrigins = *\n", true, 0, "", false, true, true, 0},
      {"AllowedOrigins =\n", true, 0, "", false, false, true, 0},
      {"AllowedOrigins = https://a.example.org, http://10.1.2.3:8080 null\n", true, 0, "", false, false, true,
       3},
      {"\n\nListen = localhost\n", false, 3, "Listen must be 0.0.0.0 or 127.0.0.1, not \"localhost\"", false,
       false, false, 0},
      {"AllowRemoteHosts = maybe", false, 1, "AllowRemoteHosts must be yes or no, not \"maybe\"", false,
       false, false, 0},
      {"# x\nAllowedOrigins = https://a.example.org https://a.example.org/x\n", false, 2,
       "AllowedOrigins: \"https://a.example.org/x\": an origin has no path, query, fragment or user name",
       false, false, false, 0},
      {"AllowedOrigins = * https://a.example.org", false, 1,
       "AllowedOrigins: \"*\" stands alone (every origin) or not at all", false, false, false, 0},
      {"AllowedOrigin = *", false, 1,
       "unknown key \"AllowedOrigin\" (known: Listen, AllowedOrigins, AllowRemoteHosts)", false, false, false,
       0},
      {"Listen 127.0.0.1", false, 1, "expected \"Key = value\"", false, false, false, 0},
      {"Listen = 127.0.0.1\nlisten = 127.0.0.1\n", false, 2, "listen given twice", false, false, false, 0},
  };
  for (const auto &c : cases) {
    policy::Policy p;
    policy::ParseError err;
    ASSERT_EQ(policy::ParsePolicy(c.text, &p, &err), c.ok) << c.text;
    EXPECT_EQ(err.line, c.line) << c.text;
    EXPECT_EQ(err.reason, c.reason) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(p.loopback_only, c.loopback) << c.text;
    EXPECT_EQ(p.any_origin, c.anyOrigin) << c.text;
    EXPECT_EQ(p.allow_remote, c.remote) << c.text;
    EXPECT_EQ(p.origins.size(), c.origins) << c.text;
  }
}

TEST(PolicyDecision, EachKeyRefusesWhatItNames) {
  policy::Policy open, list, local, noRemote;
  policy::ParseError err;
  ASSERT_TRUE(policy::ParsePolicy("", &open, &err));
  ASSERT_TRUE(policy::ParsePolicy("AllowedOrigins = https://his.example.org", &list, &err));
  ASSERT_TRUE(policy::ParsePolicy("Listen = 127.0.0.1", &local, &err));
  ASSERT_TRUE(policy::ParsePolicy("AllowRemoteHosts = no", &noRemote, &err));
  const uint32_t lan = 0x0a010203, lo2 = 0x7f000002;
  struct {
    const policy::Policy *p;
    bool hasOrigin;
    const char *origin;
    bool hasHost;
    const char *host;
    uint32_t peer;
    Verdict v;
  } cases[] = {
      {&open, true, "https://evil.example", true, "evil.example", lan, Verdict::kServe},
      {&list, true, "https://his.example.org", true, "10.0.0.1:7776", lan, Verdict::kServe},
      {&list, true, "https://evil.example", true, "127.0.0.1:7776", 0x7f000001, Verdict::kWrongOrigin},
      {&list, false, "", true, "127.0.0.1:7776", 0x7f000001, Verdict::kServe},
      {&local, true, "https://evil.example", true, "localhost:7776", 0x7f000001, Verdict::kServe},
      {&local, false, "", true, "rebound.evil.example:7776", 0x7f000001, Verdict::kWrongHost},
      {&local, false, "", false, "", 0x7f000001, Verdict::kWrongHost},
      {&noRemote, false, "", true, "x", lan, Verdict::kRemotePeer},
      {&noRemote, false, "", true, "x", lo2, Verdict::kServe},
  };
  for (const auto &c : cases) {
    policy::Request r;
    r.has_origin = c.hasOrigin;
    r.origin = c.origin;
    r.has_host = c.hasHost;
    r.host = c.host;
    r.peer_ipv4 = c.peer;
    EXPECT_EQ(policy::Decide(*c.p, r), c.v) << c.origin << " " << c.host;
  }
  EXPECT_TRUE(open.IsOpen());
  EXPECT_FALSE(list.IsOpen());
}

TEST(PolicyDecision, LoopbackHostNames) {
  struct {
    const char *host;
    bool loopback;
  } cases[] = {
      {"127.0.0.1", true},
      {"127.0.0.1:7776", true},
      {"LOCALHOST:7776", true},
      {"[::1]", true},
      {"[::1]:7776", true},
      {"localhost.", false},
      {"127.0.0.2", false},
      {"127.0.0.1:", false},
      {"127.0.0.1:77x", false},
      {"localhost.evil.example", false},
      {"", false},
      {"[::1]x", false},
  };
  for (const auto &c : cases) EXPECT_EQ(policy::IsLoopbackHost(c.host), c.loopback) << c.host;
}

TEST(PolicyEdit, AllowedOriginsLineReplacedEverythingElseKept) {
  struct {
    const char *text;
    std::vector<std::string> origins;
    const char *want;
  } cases[] = {
      {"# comment\n# AllowedOrigins = *\nListen = 127.0.0.1\n",
       {"https://a.example.org"},
       "# comment\n# AllowedOrigins = *\nListen = 127.0.0.1\nAllowedOrigins = https://a.example.org\n"},
      {"# c\n  allowedorigins = *  \n; keep\n",
       {"https://a.example.org", "null"},
       "# c\nAllowedOrigins = https://a.example.org null\n; keep\n"},
      {"AllowedOrigins = a\nAllowedOrigins = b\nx = y", {"*"}, "AllowedOrigins = *\nx = y"},
      {"Listen = 127.0.0.1", {}, "Listen = 127.0.0.1\nAllowedOrigins =\n"},
      {"", {"null"}, "AllowedOrigins = null\n"},
  };
  for (const auto &c : cases) EXPECT_EQ(policy::WithAllowedOrigins(c.text, c.origins), c.want) << c.text;
}

}  // namespace
