// Fuzz target: the INI reader and writer of the tool unit.
//
// Input: section, key and value texts, each ended by a zero byte, then the
// file's bytes, written to a file of this process. Checked:
// GetIniKeyString gives 0 or -1, writes a terminated text within its 1024
// bytes and leaves the value alone on -1; PutIniKeyString of a key that is
// not there leaves the file byte for byte as it was, and so does a failed
// one; after replacing a key, GetIniKeyString reads the new value back
// (blanks after '=' dropped, cut only where the line no longer fits) when
// the value is one plain line; no temporary file stays behind.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Qmxtool.h"
#include "fuzz_check.h"

namespace {

std::string g_path, g_tmp;

bool WriteFile(const std::string &path, const uint8_t *p, size_t n) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(p, 1, n, f) == n;
  return fclose(f) == 0 && ok;
}

std::string ReadFile(const std::string &path) {
  std::string s;
  FILE *f = fopen(path.c_str(), "rb");
  FUZZ_CHECK(f != nullptr);
  char buf[4096];
  size_t r;
  while ((r = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, r);
  fclose(f);
  return s;
}

// Text up to the next zero byte; false when the input has run out.
bool NextText(const uint8_t *&p, const uint8_t *end, std::string *out) {
  const uint8_t *z = static_cast<const uint8_t *>(memchr(p, 0, static_cast<size_t>(end - p)));
  if (z == nullptr) return false;
  out->assign(reinterpret_cast<const char *>(p), static_cast<size_t>(z - p));
  p = z + 1;
  return true;
}

// Exactly the text's bytes and a zero, in a buffer of their own.
std::vector<char> CText(const std::string &s) {
  std::vector<char> v(s.begin(), s.end());
  v.push_back('\0');
  return v;
}

size_t LongestLine(const std::string &s) {
  size_t longest = 0, cur = 0;
  for (char c : s) {
    cur = c == '\n' ? 0 : cur + 1;
    if (cur > longest) longest = cur;
  }
  return longest;
}

void RemoveDir() {
  if (g_path.empty()) return;
  unlink(g_path.c_str());
  unlink(g_tmp.c_str());
  rmdir(g_path.substr(0, g_path.rfind('/')).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // In memory when the machine offers it: the target rewrites the file at
  // every input.
  char dir[64];
  snprintf(dir, sizeof dir, "%s/hw-fuzz-ini-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  FUZZ_CHECK(mkdtemp(dir) != nullptr);
  g_path = std::string(dir) + "/config.ini";
  g_tmp = g_path + ".tmp";
  atexit(RemoveDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_path.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
  const uint8_t *p = data, *end = data + size;
  std::string section, key, value;
  if (!NextText(p, end, &section) || !NextText(p, end, &key) || !NextText(p, end, &value)) return 0;
  const std::string original(reinterpret_cast<const char *>(p), static_cast<size_t>(end - p));
  FUZZ_CHECK(WriteFile(g_path, p, original.size()));

  std::vector<char> sec = CText(section), k = CText(key), v = CText(value), path = CText(g_path);
  std::vector<char> got(1024, '\x5a');
  int r = GetIniKeyString(sec.data(), k.data(), path.data(), got.data());
  FUZZ_CHECK(r == 0 || r == -1);
  if (r == -1) {
    for (char c : got) FUZZ_CHECK(c == '\x5a');
  } else {
    FUZZ_CHECK(memchr(got.data(), 0, got.size()) != nullptr);
  }
  if (section.size() > 61) FUZZ_CHECK(r == -1);

  int w = PutIniKeyString(sec.data(), k.data(), v.data(), path.data());
  FUZZ_CHECK(w == 0 || w == -1);
  FUZZ_CHECK(access(g_tmp.c_str(), F_OK) != 0);
  // The reader skips comment lines, the writer does not: keys that can
  // match a comment line (empty, or beginning '#' or '/') may replace a line
  // the reader never returns, and are left out of the checks below.
  const bool comment_key = key.empty() || key[0] == '#' || key[0] == '/';
  if (w != 0 || (r == -1 && !comment_key)) {
    // Failed, or nothing to replace: the file is as it was.
    FUZZ_CHECK(ReadFile(g_path) == original);
    return 0;
  }
  // Keys holding '=' are left out too (the line is rewritten up to its first
  // '='), and so are values that are not one plain line.
  const bool plain = value.find('\n') == std::string::npos && (value.empty() || value.back() != '\r');
  if (comment_key || key.find('=') != std::string::npos || !plain) return 0;
  std::vector<char> back(1024, '\x5a');
  FUZZ_CHECK(GetIniKeyString(sec.data(), k.data(), path.data(), back.data()) == 0);
  const size_t lead = value.find_first_not_of(' ');
  const std::string want = lead == std::string::npos ? "" : value.substr(lead);
  const std::string read = back.data();
  FUZZ_CHECK(want.compare(0, read.size(), read) == 0);
  if (LongestLine(original) + value.size() + 3 < 1023) FUZZ_CHECK(read == want);
  return 0;
}
