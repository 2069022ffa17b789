// Fuzz target: the static file server's request handling (mg_serve_http):
// percent-decoding, ".." segments, symbolic links, index files, listings
// and byte ranges.
//
// The input is a request (request line and headers). The document root is
// a folder made at start-up with a few files, a sub-folder, an empty one,
// and symbolic links that stay inside or lead out of it; a file beside the
// root holds a marker. Served twice (listing on with the default index
// files; listing off without index files). Checked: the marker never
// appears in a reply; the status is one the server gives; a file reply's
// body is exactly the announced slice of the file (Content-Range and
// Content-Length agree with it); a 416 names the file's size.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "http_parse.h"
#include "internal.h"

namespace {

const char kMarker[] = "SECRET-OUTSIDE-THE-ROOT";
std::string g_dir, g_root;
std::vector<std::string> g_files;  // contents of the files inside the root (distinct sizes)

void Put(const std::string &path, const std::string &content) {
  FILE *f = fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr && fwrite(content.data(), 1, content.size(), f) == content.size());
  FUZZ_CHECK(fclose(f) == 0);
}

std::string Pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) s[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
  return s;
}

void RemoveTree() {
  if (g_dir.empty()) return;
  for (const char *p : {"www/sub/deep/z.bin", "www/sub/index.htm", "www/a.txt", "www/b c.html", "www/in",
                        "www/out", "www/outdir", "secret.txt"})
    unlink((g_dir + "/" + p).c_str());
  for (const char *p : {"www/sub/deep", "www/sub", "www/empty", "www", ""}) rmdir((g_dir + "/" + p).c_str());
}

uint64_t HeaderNumber(const std::string &head, const char *name, bool *found) {
  size_t at = head.find(name);
  *found = at != std::string::npos;
  return *found ? strtoull(head.c_str() + at + strlen(name), nullptr, 10) : 0;
}

void CheckReply(const std::string &out, bool head_only) {
  FUZZ_CHECK(out.find(kMarker) == std::string::npos);
  FUZZ_CHECK(out.compare(0, 9, "HTTP/1.1 ") == 0);
  const int code = atoi(out.c_str() + 9);
  FUZZ_CHECK(code == 200 || code == 206 || code == 301 || code == 400 || code == 403 || code == 404 ||
             code == 416 || code == 500);
  size_t end = out.find("\r\n\r\n");
  FUZZ_CHECK(end != std::string::npos);
  const std::string head = out.substr(0, end + 2), body = out.substr(end + 4);
  bool has = false;
  const uint64_t length = HeaderNumber(head, "\r\nContent-Length: ", &has);
  FUZZ_CHECK(has && body.size() == (head_only ? 0 : length));
  if (code == 416) {
    bool any = false;
    const uint64_t size = HeaderNumber(head, "\r\nContent-Range: bytes */", &has);
    for (const std::string &f : g_files) any = any || f.size() == size;
    FUZZ_CHECK(has && any && length == 0);
    return;
  }
  if (head.find("\r\nEtag: ") == std::string::npos) return;  // not a file
  uint64_t from = 0, to = 0, size = 0;
  size_t cr = head.find("\r\nContent-Range: bytes ");
  FUZZ_CHECK((code == 206) == (cr != std::string::npos));
  if (cr != std::string::npos) {
    FUZZ_CHECK(sscanf(head.c_str() + cr + 23, "%lu-%lu/%lu", &from, &to, &size) == 3);
    FUZZ_CHECK(from <= to && to < size && length == to - from + 1);
  }
  // The body is the announced slice of exactly one of the files.
  int matches = 0;
  for (const std::string &f : g_files) {
    if (code == 206 ? f.size() != size : f.size() != length) continue;
    matches++;
    if (!head_only) FUZZ_CHECK(body == (code == 206 ? f.substr(from, to - from + 1) : f));
  }
  FUZZ_CHECK(matches == 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char dir[64];
  snprintf(dir, sizeof dir, "%s/hw-fuzz-serve-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  FUZZ_CHECK(mkdtemp(dir) != nullptr);
  g_dir = dir;
  g_root = g_dir + "/www";
  for (const char *d : {"/www", "/www/sub", "/www/sub/deep", "/www/empty"})
    FUZZ_CHECK(mkdir((g_dir + d).c_str(), 0755) == 0);
  g_files = {Pattern(1000, 1), Pattern(50, 2), Pattern(30, 3), Pattern(100, 4)};
  Put(g_root + "/a.txt", g_files[0]);
  Put(g_root + "/b c.html", g_files[1]);
  Put(g_root + "/sub/index.htm", g_files[2]);
  Put(g_root + "/sub/deep/z.bin", g_files[3]);
  Put(g_dir + "/secret.txt", kMarker);
  FUZZ_CHECK(symlink("a.txt", (g_root + "/in").c_str()) == 0);
  FUZZ_CHECK(symlink("../secret.txt", (g_root + "/out").c_str()) == 0);
  FUZZ_CHECK(symlink("..", (g_root + "/outdir").c_str()) == 0);
  atexit(RemoveTree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_root.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
  std::string req(reinterpret_cast<const char *>(data), size);
  long hl = http_head_len(req.data(), req.size());
  if (hl <= 0) return 0;
  http_message hm;
  if (http_parse_head(req.data(), static_cast<size_t>(hl), &hm) != 0) return 0;
  const bool head_only = mg_vcmp(&hm.method, "HEAD") == 0;

  serve_options listing = {g_root.c_str(), nullptr, "yes", "X-Frame-Options: DENY"};
  serve_options plain = {g_root.c_str(), "missing.html", "no", nullptr};
  for (const serve_options &o : {listing, plain}) {
    mg_connection nc;
    memset(&nc, 0, sizeof nc);
    nc.sock = -1;
    nc.file_fd = -1;
    mg_serve_http(&nc, &hm, o);
    // Files here are small enough to be sent at once.
    FUZZ_CHECK(nc.file_fd < 0);
    CheckReply(std::string(nc.send_mbuf.buf, nc.send_mbuf.len), head_only);
    mbuf_free(&nc.send_mbuf);
  }
  return 0;
}
