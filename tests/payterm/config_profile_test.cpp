// Configuration calls, the configuration dump, the profile reader and the
// trace helpers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "payterm.h"
#include "profile_ini.h"
#include "tempdir.h"
#include "trace.h"

namespace {

std::string g_trace;
void capture(const char* text, size_t n) { g_trace.append(text, n); }

class Config : public ::testing::Test {
 protected:
  void SetUp() override {
    g_trace.clear();
    payterm::set_trace_receiver(capture);
  }
  void TearDown() override { payterm::set_trace_receiver(nullptr); }
};

TEST_F(Config, SelectChecksTypeThenPath) {
  EXPECT_EQ(-100, Dc_Select("0", "/lib/x.so"));
  EXPECT_EQ(-100, Dc_Select("8", "/lib/x.so"));
  EXPECT_EQ(-100, Dc_Select(nullptr, "/lib/x.so"));
  EXPECT_EQ(-101, Dc_Select("3", ""));
  EXPECT_EQ(-101, Dc_Select("3", std::string(256, 'p').c_str()));
  EXPECT_EQ(-101, Dc_Select("3", nullptr));
  ASSERT_EQ(0, Dc_Select("7", std::string(255, 'p').c_str()));
  EXPECT_EQ(7, g_DEVTYPE);
  EXPECT_EQ(std::string(255, 'p'), g_DEVICE_DRV_PATH);
  ASSERT_EQ(0, Dc_Select("2", "/opt/d8.so"));
  EXPECT_EQ(2, g_DEVTYPE);
  EXPECT_STREQ("/opt/d8.so", g_DEVICE_DRV_PATH);
  // zero-filled behind the new, shorter path
  for (size_t i = strlen("/opt/d8.so"); i < sizeof g_DEVICE_DRV_PATH; ++i)
    ASSERT_EQ(0, g_DEVICE_DRV_PATH[i]) << i;
}

TEST_F(Config, SetConfigCheckOrderAndStoredValues) {
  EXPECT_EQ(-203, Dc_SetConfig("9", "1", "30", "9600", "0", "A", "1"));
  EXPECT_EQ(9, g_TERMTYPE);
  EXPECT_EQ(30, g_PORTNO);
  EXPECT_EQ(-201, Dc_SetConfig("9", "1", "1", "9600", "0", "A", "1"));
  EXPECT_EQ(-202, Dc_SetConfig("1", "3", "1", "9600", "0", "A", "1"));
  EXPECT_EQ(-204, Dc_SetConfig("1", "1", "1", "4800", "0", "A", "1"));
  EXPECT_EQ(-206, Dc_SetConfig("0", "0", "0", "0", "0", "Z", "2"));
  EXPECT_EQ('Z', g_BPPORT);
  EXPECT_EQ(-207, Dc_SetConfig("9", "9", "99", "1", "0", "Z", "4"));
  EXPECT_EQ('4', g_ICFLAG);
  EXPECT_EQ(-207, Dc_SetConfig("1", "1", "1", "9600", "0", "A", nullptr));
  EXPECT_EQ(0, Dc_SetConfig("56", "2", "20", "115200", "7", "Kx", "3x"));
  EXPECT_EQ(56, g_TERMTYPE);
  EXPECT_EQ(2, g_PORTTYPE);
  EXPECT_EQ(115200, g_PORTBAUD);
  EXPECT_EQ('K', g_BPPORT);
  EXPECT_EQ('3', g_ICFLAG);
  EXPECT_EQ(0, g_BPTYPE);  // traced only
  EXPECT_EQ(0, Dc_SetConfig("5", "1", "1", "19200", "0", "C", "1"));
}

TEST_F(Config, DumpListsTheConfiguration) {
  ASSERT_EQ(0, Dc_Select("6", "/opt/sdandc.so"));
  g_trace.clear();
  ASSERT_EQ(0, Dc_SetConfig("3", "2", "4", "19200", "0", "B", "2"));
  const std::string dump =
      "-----------------------配置信息----------------------\n"
      "设备类型: SDANDC\n"
      "驱动路径: /opt/sdandc.so\n"
      "终端类型: 新大陆\n"
      "端口类型: COM\n"
      "端 口 号: 4\n"
      "波 特 率: 19200\n"
      "转接口号: B\n"
      "卡    型: 非接触式\n"
      "------------------------------------------------------\n";
  ASSERT_NE(std::string::npos, g_trace.find(dump)) << g_trace;
  g_trace.clear();
  EXPECT_EQ(-201, Dc_SetConfig("57", "1", "4", "19200", "0", "B", "3"));
  EXPECT_NE(std::string::npos, g_trace.find("终端类型: 其它\n端口类型: USB\n"));
  EXPECT_NE(std::string::npos, g_trace.find("卡    型: 自动判断\n"));
  g_trace.clear();
  EXPECT_EQ(-207, Dc_SetConfig("1", "1", "4", "19200", "0", "B", "0"));
  EXPECT_EQ(std::string::npos, g_trace.find("配置信息"));  // no dump for a bad interface
}

TEST_F(Config, TraceHelpersFormatHex) {
  const unsigned char b[] = {0x00, 0xAB, 0x7F};
  d_printf_hex(b, 3);
  d_printf_hex_note("ATR", b, 2);
  d_printf_table(b, 1, "|");
  EXPECT_EQ("(3):00AB7F\nATR(2):00AB\n00|", g_trace);
  payterm::set_trace_receiver(nullptr);
  d_printf("%s", "nothing");  // the silent sink
  EXPECT_EQ("(3):00AB7F\nATR(2):00AB\n00|", g_trace);
}

TEST(HexHelpers, MyHexAAndMyAHex) {
  const unsigned char b[] = {0x01, 0xEF, 0xA0};
  char out[8];
  memset(out, 'x', sizeof out);
  MyHexA(b, out, 3);
  EXPECT_STREQ("01EFA0", out);
  unsigned char back[4] = {0};
  EXPECT_EQ(3, MyAHex("01efA0", back, 6));
  EXPECT_EQ(0, memcmp(b, back, 3));
  EXPECT_EQ(-1, MyAHex("01eg", back, 4));
  EXPECT_EQ(-1, MyAHex("0 ", back, 2));
}

TEST(HostMode, LibMainOperations) {
  char buf[2048];
  memset(buf, 'x', sizeof buf);
  EXPECT_EQ(0, Wy_LibMain(0, buf));
  EXPECT_EQ(0, memcmp(buf, "1.0", 4));
  EXPECT_EQ(1, g_Wy_Flag);
  EXPECT_EQ(0, Wy_LibMain(1, const_cast<char*>("/home/host/work")));
  EXPECT_STREQ("/home/host/work", g_work_dir);
  memset(buf, 'x', sizeof buf);
  EXPECT_EQ(0, Wy_LibMain(2, buf));
  EXPECT_STREQ("/home/host/work", buf);
  // A longer directory is kept to the buffer's size.
  std::string longDir(3000, 'd');
  Wy_LibMain(1, &longDir[0]);
  EXPECT_EQ(2047u, strlen(g_work_dir));
  PaytermHostExchange table[1] = {nullptr};
  long addr = Wy_LibMain(3, reinterpret_cast<char*>(table));
  EXPECT_EQ(reinterpret_cast<long>(&g_fc), addr);
  EXPECT_EQ(table, g_fc);
  g_fc = nullptr;
  g_Wy_Flag = 0;
  g_work_dir[0] = '\0';
}

class Profile : public ::testing::Test {
 protected:
  TempWorkDir dir_;
  std::string get(const char* section, const char* key, const char* def = "dflt",
                  int size = 64, const char* file = "p.ini") {
    char out[128];
    memset(out, '#', sizeof out);
    int n = GetPrivateProfileString(section, key, def, out, size, file);
    EXPECT_EQ(strlen(out), static_cast<size_t>(n));
    return out;
  }
};

TEST_F(Profile, SectionAndKeyFoldCaseAndValueIsTrimmedAfterTheLastEquals) {
  ASSERT_TRUE(dir_.ok());
  TempWorkDir::write("p.ini",
                     "; comment\n"
                     "[Other]\n"
                     "timeout=9\n"
                     "[applepay]\n"
                     "TIMEOUTX = a=b=  7 \t\r\n"
                     "TimeOut=3\n"
                     "[Next]\n"
                     "only=1\n"
                     "nokey\n");
  EXPECT_EQ("7", get("APPLEPAY", "TIMEOUT"));  // prefix match, last '='
  EXPECT_EQ("9", get("other", "TIMEOUT"));
  // keys are searched past the section's end
  EXPECT_EQ("1", get("applepay", "only"));
  // a key line without '=' gives the default
  EXPECT_EQ("dflt", get("Next", "nokey"));
  EXPECT_EQ("dflt", get("Missing", "TIMEOUT"));
  EXPECT_EQ("dflt", get("Next", "absent"));
  EXPECT_EQ("dflt", get("APPLEPAY", "TIMEOUT", "dflt", 64, "none.ini"));
}

TEST_F(Profile, OutputIsBoundedAndTerminated) {
  ASSERT_TRUE(dir_.ok());
  TempWorkDir::write("p.ini", "[s]\nk=123456789\n");
  EXPECT_EQ("1234", get("s", "k", "d", 5));
  EXPECT_EQ("abcd", get("s", "x", "abcdefgh", 5));
  char out[2] = {'#', '#'};
  EXPECT_EQ(0, GetPrivateProfileString("s", "k", "d", out, 0, "p.ini"));
  EXPECT_EQ('#', out[0]);
}

TEST_F(Profile, WindowsStyleNameFindsTheFileInTheWorkingDirectory) {
  ASSERT_TRUE(dir_.ok());
  TempWorkDir::write("DC_PBOC.ini", "[APPLEPAY]\nTIMEOUT=4\n");
  EXPECT_EQ("4", get("APPLEPAY", "TIMEOUT", "1", 64, ".\\DC_PBOC.ini"));
  // A file that really carries the backslash in its name comes first.
  TempWorkDir::write(".\\DC_PBOC.ini", "[APPLEPAY]\nTIMEOUT=6\n");
  EXPECT_EQ("6", get("APPLEPAY", "TIMEOUT", "1", 64, ".\\DC_PBOC.ini"));
}

TEST(ProfileScan, LinesAreCutAt511Characters) {
  std::string v;
  std::string fits = "[s]\nk" + std::string(505, 'a') + "=x\nk=2\n";
  ASSERT_TRUE(payterm::profile_lookup(fits.data(), fits.size(), "s", "k", &v));
  EXPECT_EQ("x", v);
  // One character more and the '=' falls into the next piece: the key line
  // has none, so the default applies.
  std::string over = "[s]\nk" + std::string(510, 'a') + "=x\nk=2\n";
  EXPECT_FALSE(payterm::profile_lookup(over.data(), over.size(), "s", "k", &v));
  EXPECT_FALSE(payterm::profile_lookup(fits.data(), fits.size(), "t", "k", &v));
}

}  // namespace
