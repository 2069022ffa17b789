#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "hw_harness.h"

namespace {

struct Outcome {
  int rc = -1;
  std::string out, err;
};

Outcome Admin(const std::string &root, const std::vector<std::string> &args) {
  std::vector<std::string> a = {"--root", root};
  a.insert(a.end(), args.begin(), args.end());
  hwtest::Process p(hwtest::BinDir() + "/hwservice-admin", a, {{"HWSERVICE_POLICY", ""}});
  int status = -1;
  Outcome r;
  if (!p.Wait(10000, &status)) return r;
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = p.Stdout();
  r.err = p.Stderr();
  return r;
}

std::vector<std::string> Names(const std::string &dir) {
  std::vector<std::string> n;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.' || (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0))
        n.push_back(e->d_name);
    closedir(d);
  }
  std::sort(n.begin(), n.end());
  return n;
}

ino_t Inode(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(AdminOrigins, EditsKeepEveryOtherLineAndReplaceTheFileWhole) {
  hwtest::TempDir root;
  const std::string dir = root.path() + "/etc/hwservice", conf = dir + "/hwservice.conf";
  const std::string head = "# Who may read cards\n# AllowedOrigins = *\nListen = 127.0.0.1\n\n; end\n";
  mkdir((root.path() + "/etc").c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  hwtest::WriteFile(conf, head);
  chmod(conf.c_str(), 0640);
  const ino_t before = Inode(conf);

  struct {
    std::vector<std::string> args;
    int rc;
    const char *file;  // nullptr: unchanged
    const char *out;   // expected standard output, or error text (rc != 0)
  } steps[] = {
      {{"list"}, 0, nullptr, "*\n"},
      {{"deny-origin", "https://a.example.org"},
       1,
       nullptr,
       "hwservice-admin: AllowedOrigins is * (every origin): allow the origins to keep first\n"},
      {{"allow-origin", "https://a.example.org", "https://*.example.net", "https://a.example.org"},
       0,
       "# Who may read cards\n# AllowedOrigins = *\nListen = 127.0.0.1\n\n; end\n"
       "AllowedOrigins = https://a.example.org https://*.example.net\n",
       nullptr},
      {{"allow-origin", "https://a.example.org/app"},
       2,
       nullptr,
       "hwservice-admin: \"https://a.example.org/app\": an origin has no path, query, fragment or user "
       "name\n"},
      {{"deny-origin", "https://a.example.org"},
       0,
       "# Who may read cards\n# AllowedOrigins = *\nListen = 127.0.0.1\n\n; end\nAllowedOrigins = "
       "https://*.example.net\n",
       nullptr},
      {{"list"}, 0, nullptr, "https://*.example.net\n"},
      {{"deny-origin", "https://*.example.net"},
       0,
       "# Who may read cards\n# AllowedOrigins = *\nListen = 127.0.0.1\n\n; end\nAllowedOrigins =\n",
       nullptr},
      {{"list"}, 0, nullptr, ""},
  };
  std::string expected = head;
  for (const auto &s : steps) {
    const Outcome r = Admin(root.path(), s.args);
    EXPECT_EQ(r.rc, s.rc) << s.args[0] << r.err;
    if (s.file) expected = s.file;
    EXPECT_EQ(hwtest::ReadFile(conf), expected) << s.args[0];
    if (s.out) {
      EXPECT_EQ(s.rc == 0 ? r.out : r.err, s.out) << s.args[0];
    }
  }
  // Replaced by rename (a reader never sees half a file), mode kept, no
  // temporary file left.
  EXPECT_NE(Inode(conf), before);
  struct stat st;
  ASSERT_EQ(stat(conf.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Names(dir), std::vector<std::string>{"hwservice.conf"});

  hwtest::WriteFile(conf, "# x\nAllowRemoteHosts = perhaps\n");
  const Outcome bad = Admin(root.path(), {"allow-origin", "https://a.example.org"});
  EXPECT_EQ(bad.rc, 1);
  EXPECT_EQ(bad.err,
            "hwservice-admin: " + conf + ":2: AllowRemoteHosts must be yes or no, not \"perhaps\"\n");
  EXPECT_EQ(hwtest::ReadFile(conf), "# x\nAllowRemoteHosts = perhaps\n");
}

TEST(AdminBrowserPolicy, MergesIntoWhatIsThereAndRemovesOnlyItsOwn) {
  hwtest::TempDir root;
  const std::string r = root.path();
  for (const char *d : {"/usr", "/usr/bin", "/etc", "/etc/opt", "/etc/opt/chrome", "/etc/opt/chrome/policies",
                        "/etc/opt/chrome/policies/managed"})
    mkdir((r + d).c_str(), 0755);
  hwtest::WriteFile(r + "/usr/bin/chromium", "");
  const std::string corp = r + "/etc/opt/chrome/policies/managed/corp.json";
  hwtest::WriteFile(corp,
                    "{\"HomepageLocation\": \"https://intranet\", "
                    "\"LocalNetworkAccessAllowedForUrls\": [\"https://other.example\"]}");
  const std::string ours = r + "/etc/chromium/policies/managed/hwservice.json";
  const std::string both =
      "{\n  \"LocalNetworkAccessAllowedForUrls\" : \n  [\n    \"https://his.example.org\",\n"
      "    \"https://[*.]example.net\"\n  ],\n  \"LoopbackNetworkAllowedForUrls\" : \n  [\n"
      "    \"https://his.example.org\",\n    \"https://[*.]example.net\"\n  ]\n}\n";
  const std::string corpMerged =
      "{\n  \"HomepageLocation\" : \"https://intranet\",\n  \"LocalNetworkAccessAllowedForUrls\" : \n  [\n"
      "    \"https://other.example\",\n    \"https://his.example.org\",\n    \"https://[*.]example.net\"\n  "
      "],\n"
      "  \"LoopbackNetworkAllowedForUrls\" : \n  [\n    \"https://his.example.org\",\n"
      "    \"https://[*.]example.net\"\n  ]\n}\n";
  // Twice: the second run must not add the entries again.
  for (int i = 0; i < 2; i++) {
    const Outcome w = Admin(r, {"browser-policy", "https://his.example.org", "https://*.example.net"});
    EXPECT_EQ(w.rc, 0) << w.err;
    EXPECT_EQ(hwtest::ReadFile(ours), both);
    EXPECT_EQ(hwtest::ReadFile(corp), corpMerged);
  }
  EXPECT_EQ(Names(r + "/etc/opt/chrome/policies/managed"), std::vector<std::string>{"corp.json"});
  EXPECT_EQ(Names(r + "/etc/opt"), std::vector<std::string>{"chrome"});  // no Edge: nothing written for it
  EXPECT_EQ(Admin(r, {"browser-policy", "null"}).rc, 2);

  const Outcome show = Admin(r, {"browser-policy", "show"});
  EXPECT_NE(show.out.find("  corp.json: LoopbackNetworkAllowedForUrls https://[*.]example.net\n"),
            std::string::npos)
      << show.out;
  EXPECT_NE(show.out.find("edge (" + r + "/etc/opt/edge/policies/managed): not installed\n"),
            std::string::npos);

  const Outcome rm =
      Admin(r, {"browser-policy", "--remove", "https://his.example.org", "https://*.example.net"});
  EXPECT_EQ(rm.rc, 0) << rm.err;
  EXPECT_EQ(Names(r + "/etc/chromium/policies/managed"), std::vector<std::string>{});
  EXPECT_EQ(
      hwtest::ReadFile(corp),
      "{\n  \"HomepageLocation\" : \"https://intranet\",\n  \"LocalNetworkAccessAllowedForUrls\" : \n  [\n"
      "    \"https://other.example\"\n  ]\n}\n");
}

TEST(AdminCheck, SaysWhatAPageOfAnOriginGets) {
  hwtest::TempDir root;
  const std::string r = root.path();
  mkdir((r + "/etc").c_str(), 0755);
  mkdir((r + "/etc/hwservice").c_str(), 0755);
  hwtest::WriteFile(r + "/etc/hwservice/hwservice.conf",
                    "AllowedOrigins = http://10.1.2.3:8080 http://192.0.2.7\nAllowRemoteHosts = no\n");
  struct {
    const char *origin, *service, *browser;
  } cases[] = {
      {"http://10.1.2.3:8080", "service serves it", "browser: private address, no permission needed"},
      {"http://127.0.0.1:8080",
       "service refuses it with 403: Origin not allowed: this page's origin is not in the service's "
       "AllowedOrigins",
       "browser: loopback address, no permission needed"},
      {"http://192.0.2.7", "service serves it",
       "browser: public address; the browser asks the user for Local Network Access (hwservice-admin "
       "browser-policy http://192.0.2.7 grants it)"},
  };
  for (const auto &c : cases) {
    const Outcome run = Admin(r, {"check", "--origin", c.origin});
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_NE(run.out.find(std::string("page ") + c.origin + ": " + c.service + "\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(std::string("page ") + c.origin + ": " + c.browser + "\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("AllowRemoteHosts: no (this computer only)\n"), std::string::npos) << run.out;
  }
}

}  // namespace
