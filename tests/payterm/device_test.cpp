// The device layer over the test driver libraries: the exact driver calls
// of open, power-up, exchange and close per device type, every failure
// code, the contactless poll and host mode.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "globals.h"
#include "payterm.h"
#include "ptcard.h"
#include "tempdir.h"

namespace {

using Calls = std::vector<std::string>;

const ptcard::Bytes kSelect = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00,
                               0x03, 0x33, 0x01, 0x01, 0x01, 0x00};

class Device : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    reset_payterm_state();
    ptcard::reset();
  }
  void TearDown() override {
    reset_payterm_state();
    ptcard::reset();
  }
  // Device type, driver and interface, on USB at 115200 baud.
  void configure(const char* type, const char* driver, const char* icflag) {
    ASSERT_EQ(0, Dc_Select(type, driver));
    ASSERT_EQ(0, Dc_SetConfig("1", "1", "1", "115200", "0", "A", icflag));
  }
  int apdu(const ptcard::Bytes& cmd, ptcard::Bytes* resp = nullptr) {
    std::vector<unsigned char> c(cmd.begin(), cmd.end());
    unsigned char r[PAYTERM_APDU_RESP_MAX];
    unsigned long n = 0;
    int rc = Dev_Apdu(c.size(), c.data(), &n, r);
    if (resp != nullptr) resp->assign(r, r + (rc == 0 ? n : 0));
    return rc;
  }
  TempWorkDir dir_;
};

TEST_F(Device, ContactDialogueCallsTheDcProDriver) {
  ptcard::insert(ptcard::kContact, ptcard::bank_data());
  configure("1", PTDRV_DC1, "1");
  ASSERT_EQ(0, Dev_Open());
  EXPECT_EQ(7, g_icdev);
  ASSERT_EQ(0, Dev_Card());
  EXPECT_EQ('1', g_ICTYPE);
  EXPECT_EQ('1', g_ICFLAG);
  ptcard::Bytes r;
  ASSERT_EQ(0, apdu(kSelect, &r));
  EXPECT_EQ(ptcard::Bytes({0x61, r[1]}), r);  // the card's T=0 answer, raw
  EXPECT_EQ(0, Dev_Close());
  EXPECT_EQ(0, g_icdev);
  EXPECT_EQ(Calls({"dc_init(100,115200)", "dc_config_card(7,65)", "dc_setcpu(7,12)",
                   "dc_cpureset(7,3,1,2)", "dc_cpuapdu(7,12,14,0)", "dc_exit(7)"}),
            ptcard::calls());
  EXPECT_EQ(std::vector<ptcard::Bytes>{kSelect}, ptcard::commands());
}

TEST_F(Device, ContactDialogueCallsThePlainDcDriverOnASerialPort) {
  ptcard::insert(ptcard::kContact, ptcard::bank_data());
  ASSERT_EQ(0, Dc_Select("2", PTDRV_DC2));
  ASSERT_EQ(0, Dc_SetConfig("1", "2", "3", "9600", "0", "A", "1"));
  ASSERT_EQ(0, Dev_Open());
  ASSERT_EQ(0, Dev_Card());
  ASSERT_EQ(0, apdu(kSelect));
  Dev_Close();
  EXPECT_EQ(Calls({"dc_init(2,9600)", "dc_config_card(7,65)", "dc_setcpu(7,12)",
                   "dc_setcpupara(7,12,0,92)", "dc_cpureset(7)", "dc_cpuapdu(7,14)", "dc_exit(7)"}),
            ptcard::calls());
}

TEST_F(Device, ContactDialogueCallsTheIcDriver) {
  for (const char* type : {"3", "4"}) {
    ptcard::reset();
    ptcard::insert(ptcard::kContact, ptcard::bank_data());
    configure(type, PTDRV_IC, "1");
    ASSERT_EQ(0, Dev_Open());
    ASSERT_EQ(0, Dev_Card());
    ASSERT_EQ(0, apdu(kSelect));
    Dev_Close();
    EXPECT_EQ(Calls({"IC_InitComm_Baud(100,115200)", "IC_Status(7)", "IC_InitType(7,12)",
                     "IC_CpuReset(7)", "IC_CpuApduEXT(7,14)", "IC_ExitComm(7)"}),
              ptcard::calls())
        << type;
  }
}

TEST_F(Device, ContactlessDialogueOfEachDriverApi) {
  struct Case {
    const char* type;
    const char* driver;
    Calls calls;
  } cases[] = {
      {"1", PTDRV_DC1,
       {"dc_init(100,115200)", "dc_config_card(7,65)", "dc_reset(7)", "dc_card_pro(7)",
        "dc_pro_reset(7)", "dc_pro_commandlink(7,14,7,56)", "dc_exit(7)"}},
      {"2", PTDRV_DC2,
       {"dc_init(100,115200)", "dc_config_card(7,65)", "dc_reset(7,2)", "dc_card(7,0)",
        "dc_pro_reset(7)", "dc_pro_commandlink(7,14,7,56)", "dc_exit(7)"}},
      {"3", PTDRV_IC,
       {"IC_InitComm_Baud(100,115200)", "IC_ResetMifare(7,2)", "IC_Card(7,0)", "IC_Pro_Reset(7)",
        "IC_Pro_Commandlink(7,14,7,56)", "IC_ExitComm(7)"}},
  };
  for (const Case& c : cases) {
    ptcard::reset();
    ptcard::insert(ptcard::kContactless, ptcard::bank_data());
    configure(c.type, c.driver, "2");
    ASSERT_EQ(0, Dev_Open());
    ASSERT_EQ(0, Dev_Card());
    EXPECT_EQ('2', g_ICTYPE);
    ASSERT_EQ(0, apdu(kSelect));
    Dev_Close();
    EXPECT_EQ(c.calls, ptcard::calls()) << c.type;
    EXPECT_EQ(0, g_FindCardFlag);
  }
}

TEST_F(Device, AutomaticModeFallsBackToContactlessAndKeepsIt) {
  ptcard::insert(ptcard::kContactless, ptcard::bank_data());
  configure("2", PTDRV_DC2, "3");
  ASSERT_EQ(0, Dev_Open());
  ASSERT_EQ(0, Dev_Card());
  EXPECT_EQ('2', g_ICTYPE);
  EXPECT_EQ('2', g_ICFLAG);
  ptcard::clear_calls();
  // The next detection goes straight to the contactless interface.
  ASSERT_EQ(0, Dev_Card());
  EXPECT_EQ(Calls({"dc_reset(7,2)", "dc_card(7,0)", "dc_pro_reset(7)"}), ptcard::calls());
  Dev_Close();
}

TEST_F(Device, DriverWithoutIcStatus) {
  ptcard::insert(ptcard::kContact, ptcard::bank_data());
  ptcard::insert(ptcard::kContactless, ptcard::bank_data());
  configure("3", PTDRV_IC_NOSTATUS, "1");
  ASSERT_EQ(0, Dev_Open());
  EXPECT_EQ(-103, Dev_Card());
  EXPECT_EQ('0', g_ICTYPE);
  Dev_Close();
  ASSERT_EQ(0, Dc_SetConfig("1", "1", "1", "115200", "0", "A", "3"));
  ASSERT_EQ(0, Dev_Open());
  EXPECT_EQ(0, Dev_Card());
  EXPECT_EQ('2', g_ICTYPE);
  Dev_Close();
}

TEST_F(Device, ContactStatusCodes) {
  configure("3", PTDRV_IC, "1");
  ASSERT_EQ(0, Dev_Open());
  EXPECT_EQ(-10, Dev_Card());  // IC_Status 1: no card in the slot
  ptcard::fail("IC_Status", -4);
  EXPECT_EQ(-8, Dev_Card());
  Dev_Close();
}

struct FailureCase {
  const char* type;
  const char* driver;
  const char* icflag;
  const char* fn;
  int expected;
  bool atApdu;
};

TEST_F(Device, EachDriverFailureHasItsCode) {
  TempWorkDir::write("DC_PBOC.ini", "[APPLEPAY]\nTIMEOUT=0\n");
  const FailureCase cases[] = {
      {"2", PTDRV_DC2, "1", "dc_setcpu", -5, false},
      {"2", PTDRV_DC2, "1", "dc_setcpupara", -6, false},
      {"2", PTDRV_DC2, "1", "dc_cpureset", -7, false},
      {"1", PTDRV_DC1, "1", "dc_cpureset", -7, false},
      {"3", PTDRV_IC, "1", "IC_InitType", -5, false},
      {"3", PTDRV_IC, "1", "IC_CpuReset", -7, false},
      {"2", PTDRV_DC2, "1", "dc_cpuapdu", -8, true},
      {"1", PTDRV_DC1, "1", "dc_cpuapdu", -8, true},
      {"4", PTDRV_IC, "1", "IC_CpuApduEXT", -8, true},
      {"2", PTDRV_DC2, "2", "dc_reset", -2, false},
      {"1", PTDRV_DC1, "2", "dc_reset", -112, false},
      {"3", PTDRV_IC, "2", "IC_ResetMifare", -112, false},
      {"2", PTDRV_DC2, "2", "dc_card", -1, false},
      {"1", PTDRV_DC1, "2", "dc_card_pro", -1, false},
      {"2", PTDRV_DC2, "2", "dc_pro_reset", -2, false},
      {"4", PTDRV_IC, "2", "IC_Pro_Reset", -2, false},
      {"1", PTDRV_DC1, "2", "dc_pro_commandlink", -3, true},
      {"2", PTDRV_DC2, "2", "dc_pro_commandlink", -3, true},
      {"3", PTDRV_IC, "2", "IC_Pro_Commandlink", -3, true},
  };
  for (const FailureCase& c : cases) {
    ptcard::reset();
    ptcard::insert(ptcard::kContact, ptcard::bank_data());
    ptcard::insert(ptcard::kContactless, ptcard::bank_data());
    configure(c.type, c.driver, c.icflag);
    ptcard::fail(c.fn, 5);
    ASSERT_EQ(0, Dev_Open()) << c.fn;
    int rc = Dev_Card();
    if (c.atApdu) {
      ASSERT_EQ(0, rc) << c.fn;
      rc = apdu(kSelect);
    }
    EXPECT_EQ(c.expected, rc) << c.type << " " << c.fn;
    Dev_Close();
  }
}

TEST_F(Device, OpenFailuresReleaseTheDriver) {
  configure("2", PTDRV_DC2, "1");
  ptcard::fail("dc_init", -3);
  EXPECT_EQ(-111, Dev_Open());
  EXPECT_EQ(0, g_icdev);
  EXPECT_EQ(Calls({"dc_init(100,115200)"}), ptcard::calls());
  // A config failure of the reader does not fail the open.
  ptcard::reset();
  ptcard::fail("dc_config_card", 9);
  EXPECT_EQ(0, Dev_Open());
  Dev_Close();
  // Unknown port type.
  ptcard::reset();
  EXPECT_EQ(-202, Dc_SetConfig("1", "3", "1", "115200", "0", "A", "1"));
  EXPECT_EQ(-205, Dev_Open());
  EXPECT_TRUE(ptcard::calls().empty());
  // Library without the open function of its type.
  EXPECT_EQ(0, Dc_SetConfig("1", "1", "1", "115200", "0", "A", "1"));
  ASSERT_EQ(0, Dc_Select("1", PTDRV_IC));
  EXPECT_EQ(-103, Dev_Open());
  ASSERT_EQ(0, Dc_Select("3", "/nonexistent/libdriver.so"));
  EXPECT_EQ(-102, Dev_Open());
  ASSERT_EQ(0, Dc_Select("7", PTDRV_IC));
  EXPECT_EQ(-100, Dev_Open());
  // Built-in readers need the caller's line in g_icdev.
  ASSERT_EQ(0, Dc_Select("6", "builtin"));
  EXPECT_EQ(-111, Dev_Open());
  ASSERT_EQ(0, Dc_Select("5", "builtin"));
  g_icdev = -1;
  EXPECT_EQ(-111, Dev_Open());
}

TEST_F(Device, SecondOpenClosesTheFirstReader) {
  configure("3", PTDRV_IC, "1");
  ASSERT_EQ(0, Dev_Open());
  ASSERT_EQ(0, Dev_Open());
  EXPECT_EQ(Calls({"IC_InitComm_Baud(100,115200)", "IC_ExitComm(7)", "IC_InitComm_Baud(100,115200)"}),
            ptcard::calls());
  Dev_Close();
}

TEST_F(Device, NoInterfaceMeansNoApdu) {
  configure("3", PTDRV_IC, "1");
  g_ICFLAG = '9';
  ASSERT_EQ(0, Dev_Open());
  EXPECT_EQ(0, Dev_Card());
  EXPECT_EQ('0', g_ICFLAG);
  EXPECT_EQ(-9, apdu(kSelect));
  Dev_Close();
}

TEST_F(Device, ContactlessPollEndsAfterTheConfiguredSeconds) {
  // No profile file: one second.
  configure("2", PTDRV_DC2, "2");
  ASSERT_EQ(0, Dev_Open());
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, Dev_Card());
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(s, 0.99);
  EXPECT_LT(s, 2.6);
  EXPECT_EQ(0, g_FindCardFlag);
  size_t polls = 0;
  for (const std::string& c : ptcard::calls()) polls += c == "dc_card(7,0)";
  EXPECT_GT(polls, 5u);
  EXPECT_LT(polls, 400u);  // paced, not spinning
  Dev_Close();
}

TEST_F(Device, BreakFindCardEndsThePollFromAnotherThread) {
  TempWorkDir::write("DC_PBOC.ini", "[APPLEPAY]\nTIMEOUT=30\n");
  configure("3", PTDRV_IC, "2");
  ASSERT_EQ(0, Dev_Open());
  auto t0 = std::chrono::steady_clock::now();
  std::thread breaker([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Dc_BreakFindCard();
  });
  EXPECT_EQ(-1, Dev_Card());
  breaker.join();
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(s, 0.29);
  EXPECT_LT(s, 5.0);
  Dev_Close();
}

// Host exchange: records what it is given and answers from the canned list.
struct HostCall {
  int icdev, type, len, size;
  ptcard::Bytes cmd;
};
std::vector<HostCall> g_host;
int g_host_result = 0;  // 0: the card's answer; otherwise returned as is
int host_exchange(int icdev, int type, unsigned char* buf, int len, int size) {
  g_host.push_back({icdev, type, len, size, ptcard::Bytes(buf, buf + len)});
  if (g_host_result != 0) return g_host_result;
  ptcard::Bytes r = ptcard::transmit(ptcard::kContact, ptcard::Bytes(buf, buf + len));
  memcpy(buf, r.data(), r.size());
  return static_cast<int>(r.size());
}

TEST_F(Device, HostModeHandsApdusToTheHost) {
  PaytermHostExchange table[2] = {host_exchange, nullptr};
  g_host.clear();
  g_host_result = 0;
  configure("2", PTDRV_DC2, "1");
  Wy_LibMain(3, reinterpret_cast<char*>(table));
  g_icdev = 42;
  g_Wy_type = 5;
  ptcard::script({{0x6F, 0x00, 0x90, 0x00}});
  EXPECT_EQ(0, Dev_Open());
  EXPECT_EQ(0, Dev_Card());
  ptcard::Bytes r;
  EXPECT_EQ(0, apdu(kSelect, &r));
  EXPECT_EQ(ptcard::Bytes({0x6F, 0x00, 0x90, 0x00}), r);
  EXPECT_EQ(0, Dev_Close());
  EXPECT_TRUE(ptcard::calls().empty());  // no driver involved
  EXPECT_EQ(42, g_icdev);
  ASSERT_EQ(1u, g_host.size());
  EXPECT_EQ(42, g_host[0].icdev);
  EXPECT_EQ(5, g_host[0].type);
  EXPECT_EQ(14, g_host[0].len);
  EXPECT_EQ(1024, g_host[0].size);
  EXPECT_EQ(kSelect, g_host[0].cmd);
  g_host_result = -7;
  EXPECT_EQ(-1, apdu(kSelect));
  g_host_result = 1025;  // more than the buffer holds
  EXPECT_EQ(-1, apdu(kSelect));
  g_host_result = 0;
  EXPECT_EQ(-1, apdu(ptcard::Bytes(1025, 0x00)));
  table[0] = nullptr;
  EXPECT_EQ(-1, apdu(kSelect));
}

TEST_F(Device, PassThroughPortLetters) {
  EXPECT_EQ(0, Dev_Open_BpPort(1, 0, 'A'));
  EXPECT_EQ(0, Dev_Open_BpPort(1, 0, 'K'));
  EXPECT_EQ(-2, Dev_Open_BpPort(1, 0, 'D'));
  EXPECT_EQ(-2, Dev_Open_BpPort(1, 0, 0));
  EXPECT_EQ(0, Term_Head());
  EXPECT_EQ(0, Term_Set());
  EXPECT_EQ(0, Dc_WriteTerm("\x1b%A"));
}

TEST(Exports, DeviceLayerAndKernelCarryPlainNames) {
  const char* names[] = {"Dc_Select",         "Dc_SetConfig",      "Dev_Open",
                         "Dev_Card",          "Dev_Apdu",          "Dev_Close",
                         "Dc_BreakFindCard",  "Dev_Open_BpPort",   "Dc_APDU",
                         "Wy_LibMain",        "GetPrivateProfileString", "d_printf",
                         "MyHexA",            "MyAHex",            "Dc_GetICCardInfo",
                         "Wy_GetBankAccountNumber", "Wy_GetBankMagInfo", "Dc_PbocVersion",
                         "Dc_GenARQC",        "Dc_ARPC_ExeICScript", "Dc_VerifyPin",
                         "Dc_QueryPinNum",    "Dc_AuthDDA",        "Dc_GetTxDetail",
                         "Dc_QpbocBalance",   "Dc_QpbocDebit",     "Dc_QpbocGetCardNo",
                         "g_DEVTYPE",         "g_ICFLAG",          "g_icdev",
                         "g_FindCardFlag",    "g_fc",              "g_work_dir"};
  for (const char* n : names) EXPECT_NE(nullptr, dlsym(RTLD_DEFAULT, n)) << n;
  EXPECT_EQ(nullptr, dlsym(RTLD_DEFAULT, "_ZN7payterm6deviceE"));
}

}  // namespace
