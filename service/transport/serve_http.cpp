// The static file server: files, index files and directory listings from a
// document root, with single byte ranges.
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "internal.h"

static const char kServerName[] = "hwservice";
static const char kDefaultIndexFiles[] = "index.html,index.htm,index.shtml,index.cgi,index.php";

static const char *reason_phrase(int code) {
  switch (code) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    default: return "Internal Server Error";
  }
}

// "%a, %d %b %Y %H:%M:%S GMT" with English names whatever the process locale
// (a GUI toolkit may have switched it).
static void http_date(char *buf, size_t len, time_t t) {
  static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm tm;
  gmtime_r(&t, &tm);
  snprintf(buf, len, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7], tm.tm_mday,
           kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

static const char *mime_type(const std::string &path) {
  static const struct { const char *ext; const char *type; } kTypes[] = {
      {".html", "text/html"},        {".htm", "text/html"},          {".shtml", "text/html"},
      {".css", "text/css"},          {".js", "application/javascript"}, {".mjs", "application/javascript"},
      {".json", "application/json"}, {".txt", "text/plain"},         {".xml", "text/xml"},
      {".png", "image/png"},         {".jpg", "image/jpeg"},         {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},         {".bmp", "image/bmp"},          {".ico", "image/x-icon"},
      {".svg", "image/svg+xml"},     {".webp", "image/webp"},        {".woff", "font/woff"},
      {".woff2", "font/woff2"},      {".ttf", "font/ttf"},           {".wasm", "application/wasm"},
      {".pdf", "application/pdf"},   {".zip", "application/zip"},    {".mp3", "audio/mpeg"},
      {".mp4", "video/mp4"},         {".wav", "audio/wav"},
  };
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "text/plain";
  for (const auto &t : kTypes) {
    size_t n = strlen(t.ext);
    if (path.size() - dot == n && mg_ncasecmp(path.c_str() + dot, t.ext, n) == 0) return t.type;
  }
  return "text/plain";
}

static bool keep_alive(struct http_message *hm) {
  struct mg_str *c = mg_get_http_header(hm, "Connection");
  if (c != nullptr && c->len == 5 && mg_ncasecmp(c->p, "close", 5) == 0) return false;
  if (c != nullptr && c->len == 10 && mg_ncasecmp(c->p, "keep-alive", 10) == 0) return true;
  return mg_vcmp(&hm->proto, "HTTP/1.1") == 0;
}

// Status line, Server and the extra header lines common to every reply.
static void send_head(struct mg_connection *nc, int code, const struct serve_options &o) {
  mg_printf(nc, "HTTP/1.1 %d %s\r\nServer: %s\r\n", code, reason_phrase(code), kServerName);
  if (o.extra_headers != nullptr && o.extra_headers[0] != '\0') mg_printf(nc, "%s\r\n", o.extra_headers);
}

static void finish(struct mg_connection *nc, bool ka) {
  if (!ka) nc->flags |= MG_F_SEND_AND_CLOSE;
}

static void send_error(struct mg_connection *nc, struct http_message *hm, int code,
                       const struct serve_options &o) {
  bool ka = keep_alive(hm);
  char body[64];
  int n = snprintf(body, sizeof body, "%d %s\n", code, reason_phrase(code));
  send_head(nc, code, o);
  mg_printf(nc, "Content-Type: text/plain\r\nContent-Length: %d\r\nConnection: %s\r\n\r\n", n,
            ka ? "keep-alive" : "close");
  if (mg_vcmp(&hm->method, "HEAD") != 0) mg_send(nc, body, n);
  finish(nc, ka);
}

static int errno_status(int e) {
  if (e == ENOENT || e == ENOTDIR || e == ENAMETOOLONG) return 404;
  if (e == EACCES || e == EPERM || e == ELOOP) return 403;
  return 500;
}

// Percent-decodes the path. Fails on a malformed escape or a NUL byte.
static bool url_decode(const struct mg_str &s, std::string *out) {
  out->clear();
  for (size_t i = 0; i < s.len; i++) {
    char c = s.p[i];
    if (c == '%') {
      if (i + 2 >= s.len) return false;
      auto hex = [](char h) -> int {
        if (h >= '0' && h <= '9') return h - '0';
        if (h >= 'a' && h <= 'f') return h - 'a' + 10;
        if (h >= 'A' && h <= 'F') return h - 'A' + 10;
        return -1;
      };
      int hi = hex(s.p[i + 1]), lo = hex(s.p[i + 2]);
      if (hi < 0 || lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0') return false;
    out->push_back(c);
  }
  return true;
}

// Maps a decoded URI path to its relative file path under the root; fails
// (403) on any ".." segment, whatever its encoding was.
static bool safe_relative_path(const std::string &uri, std::string *rel) {
  rel->clear();
  size_t i = 0;
  while (i <= uri.size()) {
    size_t j = uri.find('/', i);
    if (j == std::string::npos) j = uri.size();
    std::string seg = uri.substr(i, j - i);
    if (seg == "..") return false;
    if (!seg.empty() && seg != ".") {
      rel->append("/");
      rel->append(seg);
    }
    i = j + 1;
  }
  return true;
}

// True when path, with every symbolic link resolved, lies inside root.
static bool inside_root(const char *real_root, const std::string &path) {
  char real[PATH_MAX];
  if (realpath(path.c_str(), real) == nullptr) return false;
  size_t n = strlen(real_root);
  if (strncmp(real, real_root, n) != 0) return false;
  return real[n] == '\0' || real[n] == '/' || (n == 1 && real_root[0] == '/');
}

// Single range "bytes=a-b", "bytes=a-" or "bytes=-n". Returns 1 for a usable
// range, 0 to ignore the header (several ranges or an unknown form), -1 when
// it cannot be satisfied.
static int parse_range(const struct mg_str *h, int64_t size, int64_t *from, int64_t *to) {
  std::string v(h->p, h->len);
  if (v.compare(0, 6, "bytes=") != 0 || v.find(',') != std::string::npos) return 0;
  const char *p = v.c_str() + 6;
  char *end = nullptr;
  if (*p == '-') {
    if (p[1] < '0' || p[1] > '9') return 0;
    errno = 0;
    long long n = strtoll(p + 1, &end, 10);
    if (errno != 0 || *end != '\0') return 0;
    if (n == 0 || size == 0) return -1;
    *from = n >= size ? 0 : size - n;
    *to = size - 1;
    return 1;
  }
  if (*p < '0' || *p > '9') return 0;
  errno = 0;
  long long a = strtoll(p, &end, 10);
  if (errno != 0 || *end != '-') return 0;
  long long b = size - 1;
  if (end[1] != '\0') {
    if (end[1] < '0' || end[1] > '9') return 0;
    char *e2;
    b = strtoll(end + 1, &e2, 10);
    if (errno != 0 || *e2 != '\0' || b < a) return 0;
  }
  if (a >= size) return -1;
  *from = a;
  *to = b < size ? b : size - 1;
  return 1;
}

static void serve_file(struct mg_connection *nc, struct http_message *hm, const std::string &path,
                       const struct serve_options &o) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    int e = errno;
    if (fd >= 0) close(fd);
    send_error(nc, hm, errno_status(e), o);
    return;
  }
  bool ka = keep_alive(hm);
  int64_t size = st.st_size, from = 0, to = size - 1;
  int code = 200;
  char range_line[96] = "";
  struct mg_str *rh = mg_get_http_header(hm, "Range");
  int r = rh != nullptr ? parse_range(rh, size, &from, &to) : 0;
  if (r < 0) {
    close(fd);
    send_head(nc, 416, o);
    mg_printf(nc, "Content-Range: bytes */%" PRId64 "\r\nContent-Length: 0\r\nConnection: %s\r\n\r\n", size,
              ka ? "keep-alive" : "close");
    finish(nc, ka);
    return;
  }
  if (r > 0) {
    code = 206;
    snprintf(range_line, sizeof range_line, "Content-Range: bytes %" PRId64 "-%" PRId64 "/%" PRId64 "\r\n", from,
             to, size);
  }
  size_t length = size == 0 ? 0 : static_cast<size_t>(to - from + 1);
  char date[40], modified[40], etag[64];
  http_date(date, sizeof date, time(nullptr));
  http_date(modified, sizeof modified, st.st_mtime);
  snprintf(etag, sizeof etag, "\"%lx.%ld\"", static_cast<unsigned long>(st.st_mtime),
           static_cast<long>(st.st_size));
  const char *type = mime_type(path);
  send_head(nc, code, o);
  mg_printf(nc,
            "Date: %s\r\nLast-Modified: %s\r\nAccept-Ranges: bytes\r\nContent-Type: %.*s\r\n"
            "Connection: %s\r\nContent-Length: %zu\r\n%sEtag: %s\r\n\r\n",
            date, modified, static_cast<int>(strlen(type)), type, ka ? "keep-alive" : "close", length,
            range_line, etag);
  finish(nc, ka);
  if (mg_vcmp(&hm->method, "HEAD") == 0 || length == 0) {
    close(fd);
    return;
  }
  if (from > 0 && lseek(fd, from, SEEK_SET) != from) {
    close(fd);
    nc->flags |= MG_F_CLOSE_IMMEDIATELY; // headers promised bytes we cannot send
    return;
  }
  nc->file_fd = fd;
  nc->file_left = length;
  // A small file goes into the send buffer right away; a large one is
  // streamed by the loop as the socket drains.
  if (length <= MG_FILE_CHUNK) mg_file_refill(nc);
}

void mg_file_refill(struct mg_connection *nc) {
  if (nc->file_fd < 0) return;
  size_t want = nc->file_left < MG_FILE_CHUNK ? static_cast<size_t>(nc->file_left) : MG_FILE_CHUNK;
  if (want > 0 && mbuf_reserve(&nc->send_mbuf, want)) {
    ssize_t n = read(nc->file_fd, nc->send_mbuf.buf + nc->send_mbuf.len, want);
    if (n > 0) {
      nc->send_mbuf.len += static_cast<size_t>(n);
      nc->file_left -= static_cast<uint64_t>(n);
    } else {
      // The file shrank or failed: the promised length cannot be kept.
      nc->flags |= MG_F_CLOSE_IMMEDIATELY;
      nc->file_left = 0;
    }
  } else if (want > 0) {
    nc->flags |= MG_F_CLOSE_IMMEDIATELY;
    nc->file_left = 0;
  }
  if (nc->file_left == 0) {
    close(nc->file_fd);
    nc->file_fd = -1;
  }
}

static void html_escape(const std::string &s, std::string *out) {
  for (char c : s) {
    switch (c) {
      case '&': out->append("&amp;"); break;
      case '<': out->append("&lt;"); break;
      case '>': out->append("&gt;"); break;
      case '"': out->append("&quot;"); break;
      case '\'': out->append("&#39;"); break;
      default: out->push_back(c);
    }
  }
}

static void url_encode(const std::string &s, std::string *out) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : s) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out->push_back(static_cast<char>(c));
    } else {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    }
  }
}

static void serve_listing(struct mg_connection *nc, struct http_message *hm, const std::string &dir,
                          const std::string &uri, const struct serve_options &o) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) {
    send_error(nc, hm, errno_status(errno), o);
    return;
  }
  struct Entry {
    std::string name;
    bool is_dir;
    int64_t size;
    time_t mtime;
  };
  std::vector<Entry> entries;
  while (struct dirent *de = readdir(d)) {
    std::string name = de->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (fstatat(dirfd(d), de->d_name, &st, 0) != 0) continue;
    entries.push_back({name, S_ISDIR(st.st_mode), static_cast<int64_t>(st.st_size), st.st_mtime});
  }
  closedir(d);
  std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });

  std::string title;
  html_escape(uri, &title);
  std::string body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Index of " + title +
                     "</title></head>\n<body><h1>Index of " + title +
                     "</h1>\n<table>\n<tr><th>Name</th><th>Modified</th><th>Size</th></tr>\n";
  if (uri != "/") body += "<tr><td><a href=\"../\">../</a></td><td></td><td>-</td></tr>\n";
  for (const Entry &e : entries) {
    char date[40], size[32];
    http_date(date, sizeof date, e.mtime);
    if (e.is_dir)
      snprintf(size, sizeof size, "-");
    else
      snprintf(size, sizeof size, "%" PRId64, e.size);
    body += "<tr><td><a href=\"";
    url_encode(e.name, &body);
    if (e.is_dir) body += "/";
    body += "\">";
    html_escape(e.name, &body);
    if (e.is_dir) body += "/";
    body += "</a></td><td>";
    body += date;
    body += "</td><td>";
    body += size;
    body += "</td></tr>\n";
  }
  body += "</table>\n</body></html>\n";

  bool ka = keep_alive(hm);
  send_head(nc, 200, o);
  mg_printf(nc, "Content-Type: text/html; charset=utf-8\r\nContent-Length: %zu\r\nConnection: %s\r\n\r\n",
            body.size(), ka ? "keep-alive" : "close");
  if (mg_vcmp(&hm->method, "HEAD") != 0) mg_send(nc, body.data(), static_cast<int>(body.size()));
  finish(nc, ka);
}

void mg_serve_http(struct mg_connection *nc, struct http_message *hm, struct serve_options opts) {
  const char *root = opts.document_root != nullptr ? opts.document_root : ".";
  const char *index_files = opts.index_files != nullptr ? opts.index_files : kDefaultIndexFiles;
  bool listing = opts.enable_directory_listing == nullptr || strcmp(opts.enable_directory_listing, "yes") == 0;

  std::string uri, rel;
  if (!url_decode(hm->uri, &uri) || uri.empty() || uri[0] != '/') {
    send_error(nc, hm, 400, opts);
    return;
  }
  if (!safe_relative_path(uri, &rel)) {
    send_error(nc, hm, 403, opts);
    return;
  }
  char real_root[PATH_MAX];
  if (realpath(root, real_root) == nullptr) {
    send_error(nc, hm, errno_status(errno), opts);
    return;
  }
  std::string path = std::string(real_root) + rel;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    send_error(nc, hm, errno_status(errno), opts);
    return;
  }
  // A symbolic link inside the root must not lead out of it.
  if (!inside_root(real_root, path)) {
    send_error(nc, hm, 403, opts);
    return;
  }
  if (S_ISREG(st.st_mode)) {
    serve_file(nc, hm, path, opts);
    return;
  }
  if (!S_ISDIR(st.st_mode)) {
    send_error(nc, hm, 403, opts);
    return;
  }
  if (uri.back() != '/') {
    bool ka = keep_alive(hm);
    send_head(nc, 301, opts);
    mg_printf(nc, "Location: %.*s/\r\nContent-Length: 0\r\nConnection: %s\r\n\r\n", static_cast<int>(hm->uri.len),
              hm->uri.p, ka ? "keep-alive" : "close");
    finish(nc, ka);
    return;
  }
  // First existing index file of the list.
  for (const char *p = index_files; *p;) {
    const char *comma = strchr(p, ',');
    size_t n = comma != nullptr ? static_cast<size_t>(comma - p) : strlen(p);
    if (n > 0) {
      std::string candidate = path + "/" + std::string(p, n);
      struct stat ist;
      if (stat(candidate.c_str(), &ist) == 0 && S_ISREG(ist.st_mode) && inside_root(real_root, candidate)) {
        serve_file(nc, hm, candidate, opts);
        return;
      }
    }
    p += n;
    if (*p == ',') p++;
  }
  if (listing) {
    serve_listing(nc, hm, path, uri, opts);
    return;
  }
  send_error(nc, hm, 403, opts);
}
