// Fuzz target: the policy file parser and origin matching.
//
// The input is a policy file. Whatever it holds, parsing must not crash; a
// file that parses must survive hwservice-admin's rewrite of its
// AllowedOrigins line unchanged in meaning, every entry must match its own
// text, and the decision must never serve an origin the list does not hold.
// The input's first line is also tried as an Origin and a Host header.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "policy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  const std::string first = text.substr(0, text.find('\n'));
  policy::IsLoopbackHost(first);
  policy::OriginPattern single;
  std::string why;
  if (!policy::ParseOriginPattern(first, &single, &why)) FUZZ_CHECK(!why.empty());

  policy::Policy p;
  policy::ParseError err;
  if (!policy::ParsePolicy(text, &p, &err)) {
    FUZZ_CHECK(err.line >= 1 && !err.reason.empty());
    return 0;
  }
  std::vector<std::string> texts;
  for (const policy::OriginPattern &o : p.origins) {
    texts.push_back(o.text);
    if (!o.any_subdomain) FUZZ_CHECK(policy::OriginMatches(o, o.text));
  }
  if (p.any_origin) texts = {"*"};
  policy::Policy again;
  FUZZ_CHECK(policy::ParsePolicy(policy::WithAllowedOrigins(text, texts), &again, &err));
  FUZZ_CHECK(again.any_origin == p.any_origin && again.origins.size() == p.origins.size());
  FUZZ_CHECK(again.loopback_only == p.loopback_only && again.allow_remote == p.allow_remote);

  policy::Request req;
  req.has_origin = true;
  req.origin = first;
  req.has_host = true;
  req.host = "127.0.0.1";
  if (policy::Decide(p, req) == policy::Verdict::kServe) FUZZ_CHECK(policy::OriginAllowed(p, first));
  return 0;
}
