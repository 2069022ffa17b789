#include "Qmxtool.h"
#include "exe_dir.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

namespace {

std::string today() {
  std::time_t now = std::time(nullptr);
  struct tm t;
  localtime_r(&now, &t);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d", &t);
  return date;
}

// Splits a log file into records, each ending in "\r\n".
std::vector<std::string> records(const std::string &content) {
  std::vector<std::string> out;
  std::size_t start = 0, end;
  while ((end = content.find("\r\n", start)) != std::string::npos) {
    out.push_back(content.substr(start, end + 2 - start));
    start = end + 2;
  }
  EXPECT_EQ(content.size(), start) << "text after the last line end";
  return out;
}

class WriteLog : public ::testing::Test {
 protected:
  // The log file of logName for today (a run across midnight may miss it).
  std::string logFile(const std::string &logName) const {
    return dir_.path() + "/QMXLog/" + logName + "-" + today() + ".log";
  }
  TempDir dir_;
};

TEST_F(WriteLog, WritesOneDatedLineInQmxLog) {
  mode_t oldMask = umask(002);
  std::time_t before = std::time(nullptr);
  int rc = tool_writelog("reader", dir_.path().c_str(), "card.cpp", "ReadCardBas", 42, "PSAM ",
                         "slot ", "22", nullptr);
  std::time_t after = std::time(nullptr);
  umask(oldMask);
  ASSERT_EQ(0, rc);

  struct stat st;
  ASSERT_EQ(0, stat((dir_.path() + "/QMXLog").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(0775u, st.st_mode & 0777);

  std::vector<std::string> lines = records(readFile(logFile("reader")));
  ASSERT_EQ(1u, lines.size());
  std::smatch m;
  const std::regex line(
      R"(\[TIME:(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d) \] \| FILE:card\.cpp-ReadCardBas-\(42\) \| OUT:PSAM slot 22\r\n)");
  ASSERT_TRUE(std::regex_match(lines[0], m, line)) << lines[0];
  struct tm t = {};
  t.tm_year = std::stoi(m[1]) - 1900;
  t.tm_mon = std::stoi(m[2]) - 1;
  t.tm_mday = std::stoi(m[3]);
  t.tm_hour = std::stoi(m[4]);
  t.tm_min = std::stoi(m[5]);
  t.tm_sec = std::stoi(m[6]);
  t.tm_isdst = -1;
  std::time_t stamped = std::mktime(&t);
  EXPECT_LE(before, stamped);
  EXPECT_GE(after, stamped);
}

TEST_F(WriteLog, AppendsAndStopsAtFirstNullOrEmptyPiece) {
  const char *d = dir_.path().c_str();
  ASSERT_EQ(0, tool_writelog("app", d, "f.cpp", "fn", 1, "a", "b", "", "c", nullptr));
  ASSERT_EQ(0, tool_writelog("app", d, "f.cpp", "fn", 2, "", "x", nullptr));
  ASSERT_EQ(0, tool_writelog("app", d, "f.cpp", "fn", -3, "中文", nullptr));
  std::vector<std::string> lines = records(readFile(logFile("app")));
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(" | FILE:f.cpp-fn-(1) | OUT:ab\r\n", lines[0].substr(27));
  EXPECT_EQ(" | FILE:f.cpp-fn-(2) | OUT:\r\n", lines[1].substr(27));
  EXPECT_EQ(" | FILE:f.cpp-fn-(-3) | OUT:中文\r\n", lines[2].substr(27));
}

TEST_F(WriteLog, LongMessageIsCutToOneLineOf1024Bytes) {
  std::string part(700, 'm');
  ASSERT_EQ(0, tool_writelog("long", dir_.path().c_str(), "f", "g", 7, part.c_str(), part.c_str(),
                             nullptr));
  std::vector<std::string> lines = records(readFile(logFile("long")));
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(1023u, lines[0].size());
  EXPECT_EQ(std::string(5, 'm') + "\r\n", lines[0].substr(lines[0].size() - 7));
}

TEST_F(WriteLog, EmptyDirMeansExecutableDirectory) {
  char exeDir[PATH_MAX];
  ASSERT_TRUE(qmx_exe_dir(exeDir, sizeof exeDir));
  std::string name = "qmxtool-test-" + std::to_string(getpid());
  std::string path = std::string(exeDir) + "/QMXLog/" + name + "-" + today() + ".log";
  ASSERT_EQ(0, tool_writelog(name.c_str(), "", "f", "g", 1, "here", nullptr));
  std::string content = readFile(path);
  std::remove(path.c_str());
  rmdir((std::string(exeDir) + "/QMXLog").c_str());  // only when nothing else is in it
  EXPECT_EQ(" | FILE:f-g-(1) | OUT:here\r\n", content.substr(27));
}

TEST_F(WriteLog, UnwritablePlacesGiveMinusOne) {
  // QMXLog exists as a plain file: no directory, no log.
  writeFile(dir_.file("QMXLog"), "");
  EXPECT_EQ(-1, tool_writelog("x", dir_.path().c_str(), "f", "g", 1, "t", nullptr));
  // A path longer than 1024 bytes is refused, not cut to some other place.
  std::string deep = dir_.path() + "/" + std::string(1000, 'd');
  EXPECT_EQ(-1, tool_writelog("x", deep.c_str(), "f", "g", 1, "t", nullptr));
  std::string name(1100, 'n');
  TempDir other;
  EXPECT_EQ(-1, tool_writelog(name.c_str(), other.path().c_str(), "f", "g", 1, "t", nullptr));
}

TEST(ExeDir, NamesTheTestProgramsDirectory) {
  char dir[PATH_MAX];
  ASSERT_TRUE(qmx_exe_dir(dir, sizeof dir));
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(exe.parent_path().string(), dir);
  EXPECT_FALSE(qmx_exe_dir(dir, 2));
  EXPECT_STREQ("", dir);
}

TEST(ExeDir, ReadsLinkTargetsLongerThan256Bytes) {
  TempDir tmp;
  std::string longDir = "/" + std::string(250, 'a') + "/" + std::string(250, 'b');
  std::string link = tmp.file("exe");
  std::filesystem::create_symlink(longDir + "/prog", link);
  char dir[PATH_MAX];
  ASSERT_TRUE(qmx_link_dir(link.c_str(), dir, sizeof dir));
  EXPECT_EQ(longDir, dir);

  std::filesystem::remove(link);
  std::filesystem::create_symlink("/prog", link);
  ASSERT_TRUE(qmx_link_dir(link.c_str(), dir, sizeof dir));
  EXPECT_STREQ("", dir);

  std::filesystem::remove(link);
  std::filesystem::create_symlink("prog", link);
  EXPECT_FALSE(qmx_link_dir(link.c_str(), dir, sizeof dir));
  EXPECT_FALSE(qmx_link_dir(tmp.file("absent").c_str(), dir, sizeof dir));
  EXPECT_STREQ("", dir);
}

}  // namespace
