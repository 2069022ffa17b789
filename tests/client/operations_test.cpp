// The other operations through libtessera.so: ID card, QR scanner, chip
// bank card, magnetic stripe and keypad, with their commands, results and
// the session each leaves.
#include <algorithm>
#include <cstring>
#include <functional>

#include "client_fixture.h"

extern "C" int tessera_header_c_check(void);

namespace {

struct Operations : ClientTest {
  void SetUp() override {
    ClientTest::SetUp();
    start();
    clearLog();
  }
  static std::string hexOf(const std::string &text) {
    std::string s;
    char b[3];
    for (unsigned char c : text) {
      std::snprintf(b, sizeof b, "%02X", c);
      s += b;
    }
    return s;
  }
};

}  // namespace

TEST(Header, CompilesAsCAndCarriesTheBanner) {
  EXPECT_EQ(tessera_header_c_check(), 15);
  EXPECT_STREQ(LIB_INFO, "libtessera version: 1.0.1 (2022-11-08, 10:30)");
}

TEST_F(Operations, IdCardFieldsComeFromTheHubAndTheSessionCloses) {
  char f[9][256] = {};
  ASSERT_EQ(QMX_IDCard_Read(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], err), 0) << err;
  EXPECT_STREQ(f[0], "李四");
  EXPECT_STREQ(f[1], "男");
  EXPECT_STREQ(f[2], "汉");
  EXPECT_STREQ(f[3], "19920228");
  EXPECT_STREQ(f[4], "广东省深圳市南山区科技园路1号");
  EXPECT_STREQ(f[5], "440305199202284568");
  EXPECT_STREQ(f[6], "深圳市公安局南山分局");
  EXPECT_STREQ(f[7], "20200101");
  EXPECT_STREQ(f[8], "20300101");
  EXPECT_FALSE(sessionOpen());
  ctl("remove idcard");
  std::memset(f, 0, sizeof f);
  EXPECT_EQ(QMX_IDCard_Read(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], err), -2);
  EXPECT_STREQ(err, "读取身份证失败!");
  EXPECT_STREQ(f[0], "");
  EXPECT_FALSE(sessionOpen());
}

TEST_F(Operations, ScanModeSetsP2AndUnknownModesSendNothing) {
  EXPECT_EQ(QMX_ECard_SetAutoRead(1, err), 0);
  EXPECT_FALSE(sessionOpen());
  EXPECT_EQ(QMX_ECard_SetAutoRead(0x100, err), 0);  // low byte 0: manual
  EXPECT_EQ(sent(), (Lines{"1C 8017030000", "1C 8017030100"}));
  clearLog();
  EXPECT_EQ(QMX_ECard_SetAutoRead(2, err), -3);
  EXPECT_STREQ(err, "未知参数!请重新设置扫码模式。");
  EXPECT_TRUE(sent().empty());
  EXPECT_TRUE(sessionOpen());
  ctl("fault sw 6A80 nad=0x1C");
  EXPECT_EQ(QMX_ECard_SetAutoRead(1, err), -1);
  EXPECT_STREQ(err, "Set error!");
  EXPECT_FALSE(sessionOpen());
}

TEST_F(Operations, IntervalTravelsAsFourDigits) {
  EXPECT_EQ(QMX_ECard_AutoReadTime(500, err), 0);
  EXPECT_EQ(QMX_ECard_AutoReadTime(9999, err), 0);
  EXPECT_EQ(sent(), (Lines{"1C B0D000000E" + hexOf("FP-3N010=0500;"), "1C B0D000000E" + hexOf("FP-3N010=9999;")}));
  EXPECT_FALSE(sessionOpen());
  clearLog();
  EXPECT_EQ(QMX_ECard_AutoReadTime(10000, err), -3);
  ctl("fault sw 6A80 nad=0x1C");
  EXPECT_EQ(QMX_ECard_AutoReadTime(7, err), -4);
  EXPECT_STREQ(err, "");  // neither failure has a message
  EXPECT_EQ(sent(), (Lines{"1C B0D000000E" + hexOf("FP-3N010=0007;")}));
  EXPECT_FALSE(sessionOpen());
}

TEST_F(Operations, QrCodeIsCopiedWithItsLength) {
  ctl("present ecard");
  char out[300];
  std::memset(out, '.', sizeof out);
  int len = 0;
  ASSERT_EQ(QMX_ECard_Read(&len, out, 0, err), 0);
  const std::string code = "SIECARD:110105199003072813:20261207:0123456789ABCDEF";
  EXPECT_EQ(len, int(code.size()));
  EXPECT_EQ(std::string(out, code.size() + 1), code + ".");
  EXPECT_EQ(sent(), (Lines{"1C B0B0000300"}));
  EXPECT_FALSE(sessionOpen());
  ctl("present text=" + std::string(256, 'Q'));
  ASSERT_EQ(QMX_ECard_Read(&len, out, 30, err), 0);
  EXPECT_EQ(len, 256);
  EXPECT_EQ(std::string(out, 257), std::string(256, 'Q') + ".");
  clearLog();
  EXPECT_EQ(QMX_ECard_Read(&len, out, 30, err), -3);  // nothing shown: the wait runs out
  EXPECT_STREQ(err, "Instruction execution error!");
  EXPECT_EQ(sent(), (Lines{"1C B0B0001E00"}));
  EXPECT_FALSE(sessionOpen());
  // A longer code does not fit the hub's 256 bytes and fails the read.
  ctl("present text=" + std::string(257, 'R'));
  std::memset(err, 0, sizeof err);
  EXPECT_EQ(QMX_ECard_Read(&len, out, 30, err), -3);
  EXPECT_STREQ(err, "Instruction execution error!");
  EXPECT_EQ(out[0], 'Q');
}

TEST_F(Operations, ChipBankCardAccountFromTag57) {
  ctl("insert contact bank");
  char account[24];
  std::memset(account, '.', sizeof account);
  ASSERT_EQ(QMX_ICBankCard_ReadNO(account, err), 0) << err;
  EXPECT_EQ(std::string(account, 20), "6217000012345678907.");
  Lines log = exchanges();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].substr(0, 16), "12 0012000000 > ");
  EXPECT_EQ(log[1].substr(0, 32), "12 00A4040008A000000333010101 > ");
  std::string sw2 = log[1].substr(34);
  EXPECT_EQ(log[1].substr(32, 2), "61");
  EXPECT_EQ(log[2].substr(0, 13), "12 00C00000" + sw2);
  EXPECT_EQ(log[3].substr(0, 18), "12 00B2010C00 > 6C");
  EXPECT_EQ(log[4].substr(0, 13), "12 00B2010C" + log[3].substr(18, 2));
  EXPECT_FALSE(sessionOpen());
}

TEST_F(Operations, ChipBankCardFailures) {
  char account[24] = {};
  struct Case {
    const char *setup;
    int code;
    const char *msg;
  } cases[] = {
      {"insert contact bank15", -8, "pre :银行卡号读取失败"},
      {"insert contact bank_long_name", -10, "StringToHex目标字符串长度申请不足! :银行卡号读取失败"},
      {"insert contact bank_other_aid", -5, "卡片不存在金融应用!"},
      {"fault sw 6A82 nad=0x12 cmd=00C0", -4, "卡片不存在金融应用!"},
      {"fault sw 6A83 nad=0x12 cmd=00B2", -7, "等效二磁道读取卡号失败!"},
      {"fault sw 6A83 nad=0x12 cmd=00B2 skip=1", -6, "等效二磁道读取卡号失败!"},
      {"remove contact", -3, "复位失败!"},
  };
  for (const Case &c : cases) {
    ctl("insert contact bank");
    ctl(c.setup);
    std::strcpy(err, "pre");
    EXPECT_EQ(QMX_ICBankCard_ReadNO(account, err), c.code) << c.setup;
    EXPECT_STREQ(err, c.msg) << c.setup;
    EXPECT_STREQ(account, "") << c.setup;
    EXPECT_FALSE(sessionOpen()) << c.setup;
  }
}

TEST_F(Operations, StripeTracksWithTheExactCommands) {
  ctl("swipe bank2");
  char t2[256] = {}, t3[256] = {}, l2[4] = {}, l3[4] = {};
  ASSERT_EQ(QMX_MagCardRead(5, t2, l2, t3, l3, err), 0) << err;
  EXPECT_STREQ(t2, ";6222020012345671=30122201234567890");
  EXPECT_STREQ(l2, "35");
  EXPECT_STREQ(t3, "");
  EXPECT_STREQ(l3, "0");
  EXPECT_EQ(sent(), (Lines{"00 B0F2000200", "1A 8017030600", "1A 0019060100", "1A 0019200500", "1A 00B0020000",
                           "1A 00B0030000", "1A 0019210000", "1A 8017030200"}));
  EXPECT_FALSE(sessionOpen());
  ctl("swipe bank3");
  clearLog();
  ASSERT_EQ(QMX_MagCardRead(200, t2, l2, t3, l3, err), 0) << err;
  EXPECT_EQ(sent()[3], "1A 001920B400");  // waits of more than 180 are cut
  EXPECT_STREQ(l3, "93");
}

TEST_F(Operations, StripeFailuresLeaveTheSessionOpen) {
  struct Case {
    const char *fault;
    int code;
    const char *msg;
  } cases[] = {
      {"nad=0 cmd=B0F2", -2, "设置卡槽失败!"},
      {"nad=26 cmd=80170306", -2, "设置读卡磁道二三磁道失败!"},
      {"nad=26 cmd=00190601", -3, "设置读卡模式为受控模式失败!"},
      {"nad=26 cmd=001920", -4, "触发读卡失败!"},
      {"nad=26 cmd=00B002", -5, "读二磁道的数据失败!"},
      {"nad=26 cmd=00B003", -6, "读三磁道的数据失败!"},
      {"nad=26 cmd=001921", -7, "恢复自动模式失败!"},
  };
  char t2[256] = {}, t3[256] = {}, l2[4] = {}, l3[4] = {};
  for (const Case &c : cases) {
    ctl("swipe bank2");
    ctl(std::string("fault sw 6A80 ") + c.fault);
    EXPECT_EQ(QMX_MagCardRead(5, t2, l2, t3, l3, err), c.code) << c.fault;
    EXPECT_STREQ(err, c.msg) << c.fault;
    EXPECT_TRUE(sessionOpen()) << c.fault;
    QMX_CloseDev(err);
    ctl("fault clear");
  }
}

TEST_F(Operations, StripeAccountFromEitherTrack) {
  struct Case {
    const char *swipe;
    int code;
    const char *result;  // account, or message
  } cases[] = {
      {"swipe bank2", 0, "6222020012345671"},
      {"swipe bank3", 0, "6222020012345671"},
      {"swipe bank3_bare", 0, "6222020012345671"},
      {"swipe odd2", -3, "磁条卡二磁道数据显示不是标准的银行卡!"},
      {"swipe odd3", -3, "磁条卡三磁道数据显示不是标准的银行卡!"},
      {"swipe track2= track3=", -2, "磁条卡二三磁道都未读到数据，请确认卡是否正常!"},
  };
  for (const Case &c : cases) {
    ctl(c.swipe);
    char account[256];
    std::memset(account, '.', sizeof account);
    std::memset(err, 0, sizeof err);
    EXPECT_EQ(QMX_MagicBankCard_ReadNo(0, account, err), c.code) << c.swipe;
    EXPECT_STREQ(c.code == 0 ? account : err, c.result) << c.swipe;
    EXPECT_FALSE(sessionOpen()) << c.swipe;
  }
  Lines cmds = sent();
  EXPECT_EQ(cmds[3], "1A 0019201400");  // timeout 0 waits 20
  clearLog();
  ctl("swipe bank2");
  char account[256] = {};
  EXPECT_EQ(QMX_MagicBankCard_ReadNo(-1, account, err), 0);
  EXPECT_EQ(sent()[3], "1A 001920B400");  // a negative wait becomes 180
  clearLog();
  EXPECT_EQ(QMX_MagicBankCard_ReadNo(100, account, err), -1);  // 20, with no swipe
  EXPECT_STREQ(err, "读取磁条卡号失败！");
  EXPECT_EQ(sent()[3], "1A 0019201400");
  EXPECT_FALSE(sessionOpen());
}

TEST_F(Operations, KeypadKeysBetweenCountAndEnter) {
  ctl("keys 123");
  char out[8];
  std::memset(out, 'x', sizeof out);
  int len = 0;
  ASSERT_EQ(QMX_KeyBoard_InputKey(0, 4, out, &len, err), 0) << err;
  EXPECT_EQ(std::string(out, 8), std::string("123\0xxxx", 8));
  EXPECT_EQ(len, 3);
  EXPECT_EQ(sent(), (Lines{"00 00F9080603001B49"}));
  EXPECT_FALSE(sessionOpen());
  ctl("keys 123");
  clearLog();
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(QMX_KeyBoard_InputKey(255, 3, out, &len, err), -2);
  EXPECT_STREQ(err, "返回结果数据的BUF长度不够");
  EXPECT_EQ(out[0], 'x');
  EXPECT_EQ(sent(), (Lines{"00 00F908B403001B49"}));
  EXPECT_FALSE(sessionOpen());
}

TEST_F(Operations, KeypadTimeOutAndOtherOutcomesCancelTheEntry) {
  char out[8] = {};
  int len = -7;
  EXPECT_EQ(QMX_KeyBoard_InputKey(6, 8, out, &len, err), -3);
  EXPECT_STREQ(err, "输入超时");
  ctl("fault sw 6A80 nad=0");
  EXPECT_EQ(QMX_KeyBoard_InputKey(6, 8, out, &len, err), -4);
  EXPECT_STREQ(err, "未知错误");
  ctl("fault sw 9000 nad=0");  // success without the framing bytes
  EXPECT_EQ(QMX_KeyBoard_InputKey(6, 8, out, &len, err), -4);
  EXPECT_EQ(len, -7);
  Lines cmds = sent();
  EXPECT_EQ(cmds, (Lines{"00 00F9080603001B49", "00 B0F900000183", "00 00F9080603001B49", "00 B0F900000183",
                         "00 00F9080603001B49", "00 B0F900000183"}));
  EXPECT_FALSE(sessionOpen());
}

// Card X is read, then card Y fails: Y's outputs (fresh and zero-filled, as
// the header asks) and its message carry nothing of X, whatever the library,
// the hub or the driver kept from X's read.
TEST_F(Operations, NothingOfTheLastCardInTheNextCardsOutputs) {
  const char *const ofX[] = {"A10000001", "110100" /* region */, "110105199003072813",
                             "张三", "6217000012345678907", "440305199202284568", "李四",
                             "6222020012345671", "SIECARD:"};
  using Bufs = char[13][256];
  struct Case {
    const char *x, *y;  // control lines before each read, '|' between
    int yCode;
    std::function<int(Bufs &, char *)> read;
  } cases[] = {
      {"insert contact ss3", "insert contact ss2|fault sw 6A82 nad=0x12 cmd=00B207", -36,
       [](Bufs &b, char *e) { return QMX_ReadCarNo(b[0], e); }},
      {"insert contact ss3", "insert contact ss2|fault sw 6A82 nad=0x12 cmd=00B201", -4,
       [](Bufs &b, char *e) { return QMX_ReadCardCertID(b[0], b[1], e); }},
      {"insert contact ss3", "insert contact ss2|fault sw 6A82 nad=0x12 cmd=00B201", -1,
       [](Bufs &b, char *e) { return QMX_ReadCardCity(b[0], e); }},
      {"insert contact ss3", "insert contact ss2|fault sw 6A82 nad=0x12 cmd=00B209", -42,
       [](Bufs &b, char *e) {
         return QMX_ReadCardBas(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11],
                                b[12], e);
       }},
      {"insert contact bank", "insert contact bank15|fault sw 6A83 nad=0x12 cmd=00B2010C", -7,
       [](Bufs &b, char *e) { return QMX_ICBankCard_ReadNO(b[0], e); }},
      {"insert idcard id_li", "remove idcard", -2,
       [](Bufs &b, char *e) { return QMX_IDCard_Read(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], e); }},
      {"swipe bank2", "swipe track2=;6228480000000000018D3012 track3=", -3,
       [](Bufs &b, char *e) { return QMX_MagicBankCard_ReadNo(0, b[0], e); }},
      {"swipe bank2", "swipe track2=;6228480000000000018=3012 track3=|fault sw 6A80 nad=26 cmd=00B002", -5,
       [](Bufs &b, char *e) { return QMX_MagCardRead(5, b[0], b[1], b[2], b[3], e); }},
      {"present ecard", "fault sw 6A80 nad=0x1C", -3, [](Bufs &b, char *e) {
         int len = 0;
         return QMX_ECard_Read(&len, b[0], 0, e);
       }},
  };
  auto run = [&](const char *lines) {
    std::string s = lines;
    for (size_t at = 0, end; at < s.size(); at = end + 1) {
      end = s.find('|', at);
      if (end == std::string::npos) end = s.size();
      ctl(s.substr(at, end - at));
    }
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.y);
    static Bufs b;
    std::memset(b, 0, sizeof b);
    std::memset(err, 0, sizeof err);
    run(c.x);
    ASSERT_EQ(c.read(b, err), 0) << err;
    std::string seen(&b[0][0], sizeof b);
    ASSERT_TRUE(std::any_of(std::begin(ofX), std::end(ofX),
                            [&](const char *x) { return seen.find(x) != std::string::npos; }));
    std::memset(b, 0, sizeof b);
    std::memset(err, 0, sizeof err);
    run(c.y);
    EXPECT_EQ(c.read(b, err), c.yCode) << err;
    seen.assign(&b[0][0], sizeof b);
    seen.append(err, sizeof err);
    for (const char *x : ofX) EXPECT_EQ(seen.find(x), std::string::npos) << x;
    ctl("fault clear");
    QMX_CloseDev(err);
  }
}
