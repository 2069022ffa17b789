#include "Qmxtool.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

// Limits the size of files this process writes; writes past it fail with
// EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = saved_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, oldHandler_);
  }

 private:
  struct rlimit saved_;
  sighandler_t oldHandler_;
};

class IniFile : public ::testing::Test {
 protected:
  // GetIniKeyString on a file holding content; value starts as "untouched".
  int get(const std::string &content, std::string section, std::string key, std::string *value) {
    writeFile(path_, content);
    char buf[1024] = "untouched";
    int rc = GetIniKeyString(section.data(), key.data(), path_.data(), buf);
    *value = buf;
    return rc;
  }
  int put(const std::string &content, std::string section, std::string key, std::string value) {
    writeFile(path_, content);
    return PutIniKeyString(section.data(), key.data(), value.data(), path_.data());
  }

  TempDir dir_;
  std::string path_ = dir_.file("config.ini");
};

TEST_F(IniFile, ReadsValueWithoutBlanksAndLineEnd) {
  std::string v;
  EXPECT_EQ(0, get("[Set]\nPSAM= 23\n", "Set", "PSAM", &v));
  EXPECT_EQ("23", v);
  EXPECT_EQ(0, get("[Set]\r\nPSAM=  24\r\n", "Set", "PSAM", &v));
  EXPECT_EQ("24", v);
  // Only blanks are skipped; inner and trailing text stays.
  EXPECT_EQ(0, get("[Set]\nPSAM= \ta b \n", "Set", "PSAM", &v));
  EXPECT_EQ("\ta b ", v);
  EXPECT_EQ(0, get("[Set]\nPSAM=\n", "Set", "PSAM", &v));
  EXPECT_EQ("", v);
}

TEST_F(IniFile, LastLineWithoutNewlineKeepsWholeValue) {
  std::string v;
  EXPECT_EQ(0, get("[Set]\nPSAM= 25", "Set", "PSAM", &v));
  EXPECT_EQ("25", v);
}

TEST_F(IniFile, KeyMatchesAsPrefixAndNeedsLineStart) {
  std::string v;
  EXPECT_EQ(0, get("[Set]\nPSAMX=9\nPSAM=1\n", "Set", "PSAM", &v));
  EXPECT_EQ("9", v);
  EXPECT_EQ(-1, get("[Set]\n PSAM=1\n", "Set", "PSAM", &v));
  EXPECT_EQ("untouched", v);
  // Text after the first '=' is the value, further '=' included.
  EXPECT_EQ(0, get("[Set]\nPSAM=a=b\n", "Set", "PSAM", &v));
  EXPECT_EQ("a=b", v);
}

TEST_F(IniFile, SectionOnceEnteredIsNeverLeft) {
  std::string v;
  EXPECT_EQ(0, get("[Set]\n[Other]\nPSAM=5\n", "Set", "PSAM", &v));
  EXPECT_EQ("5", v);
  EXPECT_EQ(-1, get("PSAM=1\n[Set]\n", "Set", "PSAM", &v));
  EXPECT_EQ(-1, get("[Settings]\nPSAM=1\n", "Set", "PSAM", &v));
  EXPECT_EQ(-1, get("[Other]\nPSAM=1\n", "Set", "PSAM", &v));
  EXPECT_EQ("untouched", v);
  // A header line counts by its beginning.
  EXPECT_EQ(0, get("[Set] ; slots\nPSAM=6\n", "Set", "PSAM", &v));
  EXPECT_EQ("6", v);
}

TEST_F(IniFile, CommentLinesAreSkipped) {
  std::string v;
  EXPECT_EQ(-1, get("#[Set]\nPSAM=1\n", "Set", "PSAM", &v));
  EXPECT_EQ(-1, get("//[Set]\nPSAM=1\n", "Set", "PSAM", &v));
  EXPECT_EQ(0, get("[Set]\n#=x\nPSAM=2\n", "Set", "", &v));
  EXPECT_EQ("2", v);
}

TEST_F(IniFile, TailOfLongLineIsNotALine) {
  std::string v;
  std::string longComment = "#" + std::string(1022, 'x') + "PSAM=9\n";
  EXPECT_EQ(0, get("[Set]\n" + longComment + "PSAM=4\n", "Set", "PSAM", &v));
  EXPECT_EQ("4", v);
  std::string longHeaderTail = std::string(1023, ';') + "[Set]\nPSAM=4\n";
  EXPECT_EQ(-1, get(longHeaderTail, "Set", "PSAM", &v));
}

TEST_F(IniFile, GetFailuresLeaveValueUntouched) {
  char value[16] = "untouched";
  char set[] = "Set", key[] = "PSAM", missing[] = "/nonexistent-dir/config.ini";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(-1, GetIniKeyString(set, key, missing, value));
  EXPECT_EQ("fopen: No such file or directory\n", ::testing::internal::GetCapturedStderr());
  EXPECT_STREQ("untouched", value);
  EXPECT_EQ(-1, GetIniKeyString(nullptr, key, path_.data(), value));
  EXPECT_EQ(-1, GetIniKeyString(set, key, path_.data(), nullptr));

  std::string v;
  std::string longest(61, 's'), tooLong(62, 's');
  EXPECT_EQ(0, get("[" + longest + "]\nk=1\n", longest, "k", &v));
  EXPECT_EQ(-1, get("[" + tooLong + "]\nk=1\n", tooLong, "k", &v));
  EXPECT_EQ("untouched", v);
}

TEST_F(IniFile, PutRewritesOnlyTheKeyLine) {
  EXPECT_EQ(0, put("[Set]\nPSAM=23\nNext=1\n", "Set", "PSAM", "25"));
  EXPECT_EQ("[Set]\nPSAM= 25\nNext=1\n", readFile(path_));
  EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));

  EXPECT_EQ(0, put("PSAM=1\n[Set]\nPSAMX=2\nPSAM=3", "Set", "PSAM", "22"));
  EXPECT_EQ("PSAM=1\n[Set]\nPSAMX= 22\nPSAM=3", readFile(path_));

  EXPECT_EQ(0, put("[Set]\r\nPSAM=1\r\n", "Set", "PSAM", "24"));
  EXPECT_EQ("[Set]\r\nPSAM= 24\n", readFile(path_));
}

TEST_F(IniFile, PutThenGetRoundTrips) {
  EXPECT_EQ(0, put("[Set]\nPSAM= 23", "Set", "PSAM", "22"));
  std::string v;
  EXPECT_EQ(0, get(readFile(path_), "Set", "PSAM", &v));
  EXPECT_EQ("22", v);
}

TEST_F(IniFile, PutNeverAddsAMissingKey) {
  const std::string content = "[Set]\nOther=1\n[More]\nX=2";
  EXPECT_EQ(0, put(content, "Set", "PSAM", "25"));
  EXPECT_EQ(content, readFile(path_));
  EXPECT_EQ(0, put(content, "Nope", "Other", "25"));
  EXPECT_EQ(content, readFile(path_));
}

TEST_F(IniFile, PutCopiesLongLinesAndNulBytesExactly) {
  std::string content = "[Set]\n" + std::string(3000, 'v') + "=1\nbin=a" + std::string(1, '\0') +
                        "b\nPSAM=" + std::string(2000, '9') + "\nLast=1\n";
  EXPECT_EQ(0, put(content, "Set", "PSAM", "25"));
  std::string expected = "[Set]\n" + std::string(3000, 'v') + "=1\nbin=a" + std::string(1, '\0') +
                         "b\nPSAM= 25\nLast=1\n";
  EXPECT_EQ(expected, readFile(path_));
}

TEST_F(IniFile, PutKeepsFilePermissions) {
  writeFile(path_, "[Set]\nPSAM=1\n");
  ASSERT_EQ(0, chmod(path_.c_str(), 0640));
  char set[] = "Set", key[] = "PSAM", value[] = "2";
  EXPECT_EQ(0, PutIniKeyString(set, key, value, path_.data()));
  struct stat st;
  ASSERT_EQ(0, stat(path_.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
}

TEST_F(IniFile, PutFailuresLeaveOriginalInPlace) {
  const std::string content = "[Set]\nPSAM=23\n";
  char set[] = "Set", key[] = "PSAM", value[] = "25";
  std::string missing = dir_.file("absent.ini");
  EXPECT_EQ(-1, PutIniKeyString(set, key, value, missing.data()));
  EXPECT_FALSE(std::filesystem::exists(missing + ".tmp"));

  // The temporary file cannot be created.
  std::filesystem::create_directory(path_ + ".tmp");
  EXPECT_EQ(-1, put(content, "Set", "PSAM", "25"));
  EXPECT_EQ(content, readFile(path_));
  std::filesystem::remove(path_ + ".tmp");

  // A symbolic link in the temporary file's place is not written through.
  std::string target = dir_.file("target");
  writeFile(target, "keep");
  std::filesystem::create_symlink(target, path_ + ".tmp");
  EXPECT_EQ(-1, put(content, "Set", "PSAM", "25"));
  EXPECT_EQ(content, readFile(path_));
  EXPECT_EQ("keep", readFile(target));
  std::filesystem::remove(path_ + ".tmp");

  // Writing the temporary file fails: no short copy replaces the file.
  std::string big = content + std::string(4000, '#') + "\n";
  writeFile(path_, big);
  {
    FileSizeLimit limit(100);
    EXPECT_EQ(-1, PutIniKeyString(set, key, value, path_.data()));
  }
  EXPECT_EQ(big, readFile(path_));
  EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));

  EXPECT_EQ(-1, put(content, std::string(62, 's'), "PSAM", "25"));
  EXPECT_EQ(-1, PutIniKeyString(set, key, nullptr, path_.data()));
  EXPECT_EQ(content, readFile(path_));
  std::string longPath = dir_.file(std::string(5000, 'p'));
  EXPECT_EQ(-1, PutIniKeyString(set, key, value, longPath.data()));
}

}  // namespace
