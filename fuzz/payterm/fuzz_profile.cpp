// Fuzz target: the profile reader GetPrivateProfileString (and its pure
// scan profile_lookup).
//
// Input: byte 0 gives the output size (1 + 2 * its low 7 bits) and with
// bit 7 also loads the file as a CA key file; then section, key and
// default texts each ended by a zero byte, then the file's bytes, written
// to a file of this process. Checked against a model written from the
// profile rules (lines of up to 511 characters; the first "[section]" line
// without regard to case; from the next line on the first line beginning
// with the key; the text after its last '=', white space trimmed; else the
// default): the reader's output and length, always terminated inside the
// output buffer of exactly the given size; and the pure scan gives the same
// value on the same text. A CA key file loads the built-in keys and then
// only keys whose check value matches, each within its field sizes.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "capk.h"
#include "fuzz_check.h"
#include "payterm.h"
#include "profile_ini.h"

namespace {

std::string g_path;

bool NextText(const uint8_t *&p, const uint8_t *end, std::string *out) {
  const uint8_t *z = static_cast<const uint8_t *>(memchr(p, 0, static_cast<size_t>(end - p)));
  if (z == nullptr) return false;
  out->assign(reinterpret_cast<const char *>(p), static_cast<size_t>(z - p));
  p = z + 1;
  return true;
}

// Lines as a line reader of 511 characters cuts them (a zero byte ends
// what a C line reader sees of its line).
std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t len = 0;
    while (at + len < text.size() && len < 511)
      if (text[at + len++] == '\n') break;
    lines.push_back(text.substr(at, len));
    at += len;
  }
  return lines;
}

bool ModelLookup(const std::string &text, const std::string &section, const std::string &key,
                 std::string *value) {
  std::vector<std::string> lines = Lines(text);
  size_t i = 0;
  const std::string head = "[" + section + "]";
  for (; i < lines.size(); i++)
    if (lines[i].size() >= head.size() && strncasecmp(lines[i].c_str(), head.c_str(), head.size()) == 0)
      break;
  for (++i; i < lines.size(); i++) {
    const std::string &l = lines[i];
    if (l.size() < key.size() || strncasecmp(l.c_str(), key.c_str(), key.size()) != 0) continue;
    size_t eq = l.rfind('=');
    if (eq == std::string::npos) return false;
    size_t b = eq + 1, e = l.size();
    while (b < e && isspace(static_cast<unsigned char>(l[b]))) b++;
    while (e > b && isspace(static_cast<unsigned char>(l[e - 1]))) e--;
    *value = l.substr(b, e - b);
    return true;
  }
  return false;
}

void RemoveFile() {
  if (!g_path.empty()) unlink(g_path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char path[64];
  snprintf(path, sizeof path, "%s/hw-fuzz-profile-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  int fd = mkstemp(path);
  FUZZ_CHECK(fd >= 0);
  close(fd);
  g_path = path;
  atexit(RemoveFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_path.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
  if (size < 1) return 0;
  const int outSize = 1 + 2 * (data[0] & 0x7F);
  const bool capk = data[0] & 0x80;
  const uint8_t *p = data + 1, *end = data + size;
  std::string section, key, def;
  if (!NextText(p, end, &section) || !NextText(p, end, &key) || !NextText(p, end, &def)) return 0;
  const std::string text(reinterpret_cast<const char *>(p), static_cast<size_t>(end - p));
  FILE *f = fopen(g_path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr && fwrite(text.data(), 1, text.size(), f) == text.size());
  FUZZ_CHECK(fclose(f) == 0);

  if (capk) {
    static payterm::CapkTable table;  // large: kept out of the stack
    const int count = table.load(g_path.c_str());
    FUZZ_CHECK(count >= 4 && count <= payterm::kCapkMax && count == table.count());
    for (int i = 0; i < count; i++) {
      const payterm::Capk &k = table.at(i);
      FUZZ_CHECK(payterm::capk_check_value_ok(k));
      FUZZ_CHECK(k.modLen >= 1 && k.modLen <= sizeof k.modulus && k.expLen >= 1 && k.expLen <= 3);
      FUZZ_CHECK(table.find(k.rid, k.index) != nullptr);
    }
  }

  std::vector<char> out(static_cast<size_t>(outSize), 'Z');
  int n = GetPrivateProfileString(section.c_str(), key.c_str(), def.c_str(), out.data(), outSize,
                                  g_path.c_str());
  FUZZ_CHECK(n >= 0 && n < outSize && out[static_cast<size_t>(n)] == '\0');
  FUZZ_CHECK(strlen(out.data()) == static_cast<size_t>(n));

  // The file reader sees text up to a zero byte of a line only; the model
  // and the pure scan agree on text without zero bytes.
  if (text.find('\0') != std::string::npos) return 0;
  std::string want, scanned;
  const bool found = ModelLookup(text, section, key, &want);
  FUZZ_CHECK(payterm::profile_lookup(text.data(), text.size(), section.c_str(), key.c_str(), &scanned) == found);
  if (found) FUZZ_CHECK(scanned == want);
  const std::string &src = found ? want : def;
  const std::string expect = src.substr(0, strnlen(src.c_str(), static_cast<size_t>(outSize) - 1));
  FUZZ_CHECK(std::string(out.data(), static_cast<size_t>(n)) == expect);
  return 0;
}
