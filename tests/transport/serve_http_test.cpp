// The static file server over loopback sockets, on a scratch document root.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>

#include "loop_harness.h"

class FileServer : public ::testing::Test {
 protected:
  std::string top, root;
  Server s;
  serve_options opts{};

  void SetUp() override {
    char tmpl[] = "/tmp/hwtransport-web-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    top = tmpl;
    root = top + "/web";
    mkdir(root.c_str(), 0755);
    Write(top + "/secret.txt", "TOP SECRET\n");
    opts.document_root = root.c_str();
    opts.enable_directory_listing = "yes";
    opts.extra_headers = "Access-Control-Allow-Origin: *";
    s.on = [this](mg_connection *nc, int ev, void *data) {
      if (ev == MG_EV_HTTP_REQUEST) mg_serve_http(nc, static_cast<http_message *>(data), opts);
    };
  }
  void TearDown() override { system(("rm -rf '" + top + "'").c_str()); }

  static void Write(const std::string &path, const std::string &text, time_t mtime = 1700000000) {
    std::ofstream(path, std::ios::binary) << text;
    timespec t[2] = {{mtime, 0}, {mtime, 0}};
    utimensat(AT_FDCWD, path.c_str(), t, 0);
  }
  // Sends one request and returns the whole reply (header block and the
  // Content-Length bytes after it).
  std::string Get(Client &c, const std::string &req) {
    c.got.clear();
    c.Send(req);
    size_t want = 0;
    PumpUntil(s, c, [&] {
      size_t end = c.got.find("\r\n\r\n");
      if (end == std::string::npos) return c.eof;
      std::smatch m;
      std::string head = c.got.substr(0, end);
      size_t len = std::regex_search(head, m, std::regex("Content-Length: (\\d+)")) ? std::stoul(m[1]) : 0;
      if (req.compare(0, 4, "HEAD") == 0) len = 0;
      want = end + 4 + len;
      return c.got.size() >= want || c.eof;
    });
    return c.got;
  }
  // Replaces the Date value, which is the time of the request.
  static std::string NoDate(const std::string &reply) {
    static const std::regex date("\r\nDate: [A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} GMT\r\n");
    return std::regex_replace(reply, date, "\r\nDate: *\r\n");
  }
};

TEST_F(FileServer, RootListsTheDirectoryWhenThereIsNoIndexFile) {
  Write(root + "/b<&>.txt", "12345");
  mkdir((root + "/sub dir").c_str(), 0755);
  Write(root + "/a.css", "x");
  Client c(s.port);
  std::string r = Get(c, "GET / HTTP/1.1\r\n\r\n");
  size_t end = r.find("\r\n\r\n");
  ASSERT_NE(end, std::string::npos);
  std::string body = r.substr(end + 4);
  EXPECT_EQ(r.substr(0, end + 4), "HTTP/1.1 200 OK\r\nServer: hwservice\r\nAccess-Control-Allow-Origin: *\r\n"
                                  "Content-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                      std::to_string(body.size()) + "\r\nConnection: keep-alive\r\n\r\n");
  size_t a = body.find("<a href=\"a.css\">a.css</a>");
  size_t b = body.find("<a href=\"b%3C%26%3E.txt\">b&lt;&amp;&gt;.txt</a>");
  size_t d = body.find("<a href=\"sub%20dir/\">sub dir/</a>");
  EXPECT_NE(a, std::string::npos);
  EXPECT_NE(b, std::string::npos);
  EXPECT_NE(d, std::string::npos);
  EXPECT_TRUE(a < b && b < d);  // sorted by name
  EXPECT_EQ(body.find("../"), std::string::npos);
  EXPECT_EQ(body.find("secret"), std::string::npos);
  EXPECT_NE(body.find("Tue, 14 Nov 2023 22:13:20 GMT"), std::string::npos);

  opts.enable_directory_listing = "no";
  std::string off = Get(c, "GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(off, "HTTP/1.1 403 Forbidden\r\nServer: hwservice\r\nAccess-Control-Allow-Origin: *\r\n"
                 "Content-Type: text/plain\r\nContent-Length: 14\r\nConnection: keep-alive\r\n\r\n403 Forbidden\n");
}

TEST_F(FileServer, RootServesIndexHtmlWithItsHeaders) {
  Write(root + "/index.htm", "not me");
  Write(root + "/index.html", "<p>hi</p>\n");
  Client c(s.port);
  EXPECT_EQ(NoDate(Get(c, "GET / HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 200 OK\r\nServer: hwservice\r\nAccess-Control-Allow-Origin: *\r\nDate: *\r\n"
            "Last-Modified: Tue, 14 Nov 2023 22:13:20 GMT\r\nAccept-Ranges: bytes\r\nContent-Type: text/html\r\n"
            "Connection: keep-alive\r\nContent-Length: 10\r\nEtag: \"6553f100.10\"\r\n\r\n<p>hi</p>\n");
  // HTTP/1.0, or Connection: close, ends the connection after the reply.
  EXPECT_EQ(NoDate(Get(c, "HEAD / HTTP/1.0\r\n\r\n")),
            "HTTP/1.1 200 OK\r\nServer: hwservice\r\nAccess-Control-Allow-Origin: *\r\nDate: *\r\n"
            "Last-Modified: Tue, 14 Nov 2023 22:13:20 GMT\r\nAccept-Ranges: bytes\r\nContent-Type: text/html\r\n"
            "Connection: close\r\nContent-Length: 10\r\nEtag: \"6553f100.10\"\r\n\r\n");
  EXPECT_TRUE(PumpClose(s, c));
  // A list of its own picks another index file.
  opts.index_files = "missing.html,index.htm";
  Client c2(s.port);
  std::string r = Get(c2, "GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(r.substr(r.size() - 6), "not me");
}

TEST_F(FileServer, SingleRangesGetPartialContent) {
  Write(root + "/f.txt", "0123456789");
  Client c(s.port);
  struct Case {
    const char *range, *status, *content_range, *body;
  } cases[] = {
      {"bytes=2-5", "206 Partial Content", "Content-Range: bytes 2-5/10\r\n", "2345"},
      {"bytes=7-", "206 Partial Content", "Content-Range: bytes 7-9/10\r\n", "789"},
      {"bytes=8-99", "206 Partial Content", "Content-Range: bytes 8-9/10\r\n", "89"},
      {"bytes=-3", "206 Partial Content", "Content-Range: bytes 7-9/10\r\n", "789"},
      {"bytes=1-2,4-5", "200 OK", "", "0123456789"},
      {"items=1-2", "200 OK", "", "0123456789"},
  };
  for (const Case &k : cases) {
    std::string r = NoDate(Get(c, std::string("GET /f.txt HTTP/1.1\r\nRange: ") + k.range + "\r\n\r\n"));
    EXPECT_EQ(r, std::string("HTTP/1.1 ") + k.status +
                     "\r\nServer: hwservice\r\nAccess-Control-Allow-Origin: *\r\nDate: *\r\n"
                     "Last-Modified: Tue, 14 Nov 2023 22:13:20 GMT\r\nAccept-Ranges: bytes\r\n"
                     "Content-Type: text/plain\r\nConnection: keep-alive\r\nContent-Length: " +
                     std::to_string(strlen(k.body)) + "\r\n" + k.content_range + "Etag: \"6553f100.10\"\r\n\r\n" +
                     k.body)
        << k.range;
  }
  EXPECT_EQ(Get(c, "GET /f.txt HTTP/1.1\r\nRange: bytes=10-\r\n\r\n"),
            "HTTP/1.1 416 Range Not Satisfiable\r\nServer: hwservice\r\nAccess-Control-Allow-Origin: *\r\n"
            "Content-Range: bytes */10\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n");
}

TEST_F(FileServer, NothingOutsideTheRootIsServed) {
  Write(root + "/ok.txt", "fine");
  symlink((top + "/secret.txt").c_str(), (root + "/link.txt").c_str());
  mkdir((root + "/d").c_str(), 0755);
  const char *forbidden = "HTTP/1.1 403 Forbidden\r\n";
  struct Case {
    const char *uri, *status;
  } cases[] = {
      {"/../secret.txt", forbidden},
      {"/%2e%2e/secret.txt", forbidden},
      {"/%2E%2E%2Fsecret.txt", forbidden},
      {"/d/../../secret.txt", forbidden},
      {"/..%2fsecret.txt", forbidden},
      {"/d/%2e%2e/%2e%2e/secret.txt", forbidden},
      {"/link.txt", forbidden},
      {"/secret.txt%00.txt", "HTTP/1.1 400 Bad Request\r\n"},
      {"/%zz", "HTTP/1.1 400 Bad Request\r\n"},
      {"/nothere.txt", "HTTP/1.1 404 Not Found\r\n"},
      {"/./d/./../ok.txt", "HTTP/1.1 403 Forbidden\r\n"},
  };
  Client c(s.port);
  for (const Case &k : cases) {
    std::string r = Get(c, std::string("GET ") + k.uri + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.substr(0, strlen(k.status)), k.status) << k.uri;
    EXPECT_EQ(r.find("TOP SECRET"), std::string::npos) << k.uri;
  }
  EXPECT_EQ(Get(c, "GET /nothere.txt HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 404 Not Found\r\nServer: hwservice\r\nAccess-Control-Allow-Origin: *\r\n"
            "Content-Type: text/plain\r\nContent-Length: 14\r\nConnection: keep-alive\r\n\r\n404 Not Found\n");
  EXPECT_EQ(Get(c, "GET /d HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 301 Moved Permanently\r\nServer: hwservice\r\nAccess-Control-Allow-Origin: *\r\n"
            "Location: /d/\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n");
  EXPECT_NE(Get(c, "GET /%6fk.txt HTTP/1.1\r\n\r\n").find("\r\n\r\nfine"), std::string::npos);
}

TEST_F(FileServer, ContentTypeFollowsTheExtension) {
  Client c(s.port);
  for (auto [name, type] : std::vector<std::pair<std::string, std::string>>{
           {"s.CSS", "text/css"}, {"a.js", "application/javascript"}, {"d.json", "application/json"},
           {"i.png", "image/png"}, {"p.jpeg", "image/jpeg"}, {"noext", "text/plain"}, {"x.unknown", "text/plain"}}) {
    Write(root + "/" + name, "x");
    std::string r = Get(c, "GET /" + name + " HTTP/1.1\r\n\r\n");
    EXPECT_NE(r.find("\r\nContent-Type: " + type + "\r\n"), std::string::npos) << name;
  }
}

TEST_F(FileServer, LargeFileIsStreamedBeforeTheNextReply) {
  std::string big;
  for (int i = 0; i < 40000; i++) big += std::to_string(i % 10) + "abcdefghi";  // 400000 bytes
  Write(root + "/big.bin", big);
  Write(root + "/small.txt", "tail");
  Client c(s.port);
  c.Send("GET /big.bin HTTP/1.1\r\n\r\nGET /small.txt HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(PumpUntil(s, c, [&] { return c.got.size() >= big.size() + 500 && c.got.substr(c.got.size() - 4) == "tail"; }));
  size_t first = c.got.find("\r\n\r\n");
  EXPECT_EQ(c.got.substr(first + 4, big.size()), big);
  EXPECT_EQ(c.got.find("HTTP/1.1 200 OK", first), first + 4 + big.size());
  EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 2);
}
