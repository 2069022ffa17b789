// The basic-information read: the card and PSAM authentication on the
// wire, the PSAM search and its configuration file, the record fields and
// every failure with the session state it leaves.
#include <algorithm>
#include <cstring>

#include "client_fixture.h"
#include "session.h"

namespace {

struct Out {
  char certId[33], cardType[2], specVer[5], initOrgNo[25], issueDate[9], validDate[9], cardNo[10],
      socialNo[19], name[66], sex[4], nation[13], birthPlace[7], birthDate[9];
};

struct BasicInfo : ClientTest {
  void SetUp() override {
    ClientTest::SetUp();
    std::memset(&o, 0, sizeof o);
    std::strcpy(o.sex, "xx");
  }
  int read() {
    return QMX_ReadCardBas(o.certId, o.cardType, o.specVer, o.initOrgNo, o.issueDate, o.validDate, o.cardNo,
                           o.socialNo, o.name, o.sex, o.nation, o.birthPlace, o.birthDate, err);
  }
  // The command that starts with prefix (hex after "NN "), or "".
  static std::string find(const Lines &cmds, const std::string &prefix, int nth = 0) {
    for (const std::string &c : cmds)
      if (c.compare(0, prefix.size(), prefix) == 0 && nth-- == 0) return c;
    return "";
  }
  static bool has(const Lines &cmds, const std::string &prefix) { return !find(cmds, prefix).empty(); }
  // Hex bytes [from, from + n) of a logged "NN CMD" line.
  static std::string bytes(const std::string &line, size_t from, size_t n) {
    return line.size() >= 3 + 2 * (from + n) ? line.substr(3 + 2 * from, 2 * n) : "";
  }
  static std::string xorFold(const std::string &hex16) {
    std::string out;
    char b[3];
    for (int i = 0; i < 8; ++i) {
      unsigned x = std::stoul(hex16.substr(2 * i, 2), nullptr, 16) ^ std::stoul(hex16.substr(16 + 2 * i, 2), nullptr, 16);
      std::snprintf(b, sizeof b, "%02X", x);
      out += b;
    }
    return out;
  }
  Out o;
};

const std::string kDiversifySs3 = "6F708192A3B4C5D6" "313130313030" "7378" "3131" "303030307368";
const std::string kZero8 = "0000000000000000";

}  // namespace

TEST_F(BasicInfo, Generation3AuthenticatesBothWaysAndFillsEveryField) {
  start();
  writeConfig("[Set]\nPSAM=22\n");
  ASSERT_EQ(read(), 0) << err;
  EXPECT_STREQ(o.certId, "110100D15600000503A1B2C3D4E5F607");
  EXPECT_STREQ(o.cardType, "3");
  EXPECT_STREQ(o.specVer, "3.00");
  EXPECT_STREQ(o.initOrgNo, "D15600000500000000000001");
  EXPECT_STREQ(o.issueDate, "20210301");
  EXPECT_STREQ(o.validDate, "20310301");
  EXPECT_STREQ(o.cardNo, "A10000001");
  EXPECT_STREQ(o.socialNo, "110105199003072813");
  EXPECT_STREQ(o.name, "张三");  // no record 4E: nothing appended
  EXPECT_STREQ(o.sex, "男");
  EXPECT_STREQ(o.nation, "汉");
  EXPECT_STREQ(o.birthPlace, "110105");
  EXPECT_STREQ(o.birthDate, "19900307");
  EXPECT_TRUE(sessionOpen());

  Lines log = exchanges();
  Lines cmds = sent();
  // Card side: internal authentication with two fresh 8-byte halves, then
  // the challenge.
  std::string intAuth = find(cmds, "12 0088000010");
  ASSERT_EQ(intAuth.size(), 3u + 42);
  std::string rand1 = bytes(intAuth, 5, 8), rand2 = bytes(intAuth, 13, 8);
  std::string challenge = find(log, "12 0084000008 > ").substr(16, 16);
  // PSAM side: the generation digit 3 in the application name, Lc 0x28 and
  // 0x10 with the zero blocks.
  EXPECT_TRUE(has(cmds, "16 00A404000F7378332E73682EC9E7BBE1B1A3D5CF"));
  EXPECT_TRUE(has(cmds, "16 00A4000002DF01"));
  EXPECT_EQ(find(cmds, "16 BFDE6708"), "16 BFDE670828" + kDiversifySs3 + rand1 + kZero8);
  EXPECT_EQ(find(cmds, "16 80FA", 0), "16 80FA000010" + rand2 + kZero8);
  EXPECT_EQ(find(cmds, "16 BFDE670A"), "16 BFDE670A28" + kDiversifySs3 + challenge + kZero8);
  std::string extEncrypt = find(cmds, "16 80FA", 1);
  ASSERT_EQ(extEncrypt.size(), 3u + 42);
  std::string rand3 = bytes(extEncrypt, 5, 8);
  EXPECT_EQ(extEncrypt, "16 80FA000010" + rand3 + kZero8);
  // The PSAM's two encrypted blocks, folded, are the card's cryptogram.
  std::string psamAnswer = find(log, "16 00C0000010 > ", 1).substr(16);
  ASSERT_EQ(psamAnswer.size(), 36u);
  EXPECT_EQ(find(cmds, "12 0082000A10"), "12 0082000A10" + xorFold(psamAnswer) + rand3);
  EXPECT_EQ(find(log, "12 0082000A10").substr(45), " > 9000");
  // The records, in order, after the authentication.
  Lines tail(cmds.end() - 14, cmds.end());
  EXPECT_EQ(tail, (Lines{"12 00A4020002EF05", "12 00B207000B", "12 00B2020003", "12 00B204000E", "12 00B2050006",
                         "12 00B2060006", "12 00A4020002EF06", "12 00B2080014", "12 00B2090020", "12 00B24E0016",
                         "12 00B20A0003", "12 00B20B0003", "12 00B20C0005", "12 00B20D0006"}));
}

TEST_F(BasicInfo, ChallengesAreFreshOnEveryRead) {
  start();
  std::string seen[2][2];
  for (auto &run : seen) {
    clearLog();
    ASSERT_EQ(read(), 0) << err;
    Lines cmds = sent();
    run[0] = bytes(find(cmds, "12 0088000010"), 5, 16);
    run[1] = bytes(find(cmds, "16 80FA", 1), 5, 8);
    EXPECT_NE(run[0].substr(0, 16), run[0].substr(16));
    EXPECT_NE(run[0].substr(0, 16), kZero8);
  }
  EXPECT_NE(seen[0][0], seen[1][0]);
  EXPECT_NE(seen[0][1], seen[1][1]);
}

TEST_F(BasicInfo, Generation2FromTheIdentificationCodeWithoutExternalAuthentication) {
  start();
  ctl("insert contact ss2");
  ASSERT_EQ(read(), 0) << err;
  EXPECT_STREQ(o.specVer, "2.00");
  EXPECT_STREQ(o.nation, "朝鲜");
  Lines cmds = sent();
  EXPECT_TRUE(has(cmds, "16 00A404000F7378322E"));
  EXPECT_TRUE(has(cmds, "16 BFDE670828"));
  EXPECT_TRUE(has(cmds, "16 80FA000010"));
  for (const char *absent : {"12 0084", "16 BFDE670A", "12 0082"}) EXPECT_FALSE(has(cmds, absent)) << absent;
}

TEST_F(BasicInfo, Generation1WithVersion10UsesShortCommandsAndNoChallenge) {
  start();
  ctl("insert contact ss1");
  ASSERT_EQ(read(), 0) << err;
  EXPECT_STREQ(o.specVer, "1.0");
  EXPECT_STREQ(o.certId, "350203D15600000501A1B2C3D4E5F610");
  EXPECT_STREQ(o.sex, "女");
  EXPECT_STREQ(o.nation, "基诺");
  Lines cmds = sent();
  std::string intAuth = find(cmds, "12 0088000010");
  EXPECT_TRUE(has(cmds, "16 00A404000F7378312E"));
  EXPECT_EQ(find(cmds, "16 BFDE6708"), "16 BFDE670820" "6F708192A3B4C5D9" "333530323033" "7378" "3335"
                                       "303030307368" + bytes(intAuth, 5, 8));
  EXPECT_EQ(find(cmds, "16 80FA"), "16 80FA000008" + bytes(intAuth, 13, 8));
  for (const char *absent : {"12 0084", "16 BFDE670A", "12 0082"}) EXPECT_FALSE(has(cmds, absent)) << absent;
}

TEST_F(BasicInfo, NameExtensionIsAppendedAndUnknownCodesAreHandled) {
  start();
  ctl("insert contact ss3_ext");
  ASSERT_EQ(read(), 0) << err;
  EXPECT_STREQ(o.name, "欧阳娜娜ABC");
  EXPECT_STREQ(o.sex, "xx");  // sex byte '9': the buffer keeps what it held
  EXPECT_STREQ(o.nation, "其他");  // nation 0x60
}

TEST_F(BasicInfo, RefusedExternalAuthenticationGivesMinus32AndClosesTheSession) {
  start();
  ctl("insert contact ss3_foreign_ext_key");
  EXPECT_EQ(read(), -32);
  EXPECT_STREQ(err, "外部认证错误:6300");
  EXPECT_FALSE(sessionOpen());
  EXPECT_STREQ(o.certId, "");
  EXPECT_STREQ(o.sex, "xx");
  // A chosen status word is reported the same way.
  ctl("insert contact ss3");
  ctl("fault sw 6988 nad=0x12 cmd=0082");
  EXPECT_EQ(read(), -32);
  EXPECT_STREQ(err, "外部认证错误:6988");
}

TEST_F(BasicInfo, PsamWithOtherKeysGivesMinus31) {
  start();
  ctl("insert psam1 psam_other");
  EXPECT_EQ(read(), -31);
  EXPECT_STREQ(err, "内部认证错误");
  EXPECT_FALSE(sessionOpen());
  EXPECT_FALSE(has(sent(), "12 0082"));
}

TEST_F(BasicInfo, PsamFoundInAnotherSlotIsWrittenBackAndTriedFirstNextTime) {
  start();
  ctl("remove psam1");
  ctl("insert psam4 psam");
  writeConfig("[Set]\nPSAM=23\nOther=1\n");
  testing::internal::CaptureStdout();
  ASSERT_EQ(read(), 0) << err;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "路径为:" + configPath() + "  PSAM卡槽为:23\n");
  Lines resets;
  for (const std::string &c : sent())
    if (c.substr(2) == " 0012000000" && c.compare(0, 2, "12") != 0) resets.push_back(c.substr(0, 2));
  EXPECT_EQ(resets, (Lines{"17", "16", "17", "18", "19"}));
  EXPECT_EQ(readConfig(), "[Set]\nPSAM= 25\nOther=1\n");
  clearLog();
  ASSERT_EQ(read(), 0) << err;
  Lines cmds = sent();
  EXPECT_EQ(find(cmds, "1"), "12 0012000000");
  EXPECT_FALSE(has(cmds, "16 ") || has(cmds, "17 ") || has(cmds, "18 "));
  EXPECT_EQ(find(cmds, "19 "), "19 0012000000");
}

TEST_F(BasicInfo, WithoutConfigFileThePsamIsSearchedAndNoFileIsCreated) {
  start();
  ASSERT_EQ(read(), 0) << err;
  EXPECT_EQ(find(sent(), "16 "), "16 0012000000");
  EXPECT_EQ(readConfig(), "");
  // A configured slot that is no PSAM slot is not reset: the user card in
  // slot 0x12 must not be taken for the PSAM.
  writeConfig("[Set]\nPSAM=18\n");
  clearLog();
  ASSERT_EQ(read(), 0) << err;
  Lines cmds = sent();
  EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "12 0012000000"), 1);
  EXPECT_EQ(readConfig(), "[Set]\nPSAM= 22\n");
  ctl("remove psam1");
  EXPECT_EQ(read(), -13);
  EXPECT_STREQ(err, "PSAM卡复位失败,请插入PSAM卡！");
  EXPECT_FALSE(sessionOpen());
}

TEST_F(BasicInfo, ShortAnswerToResetIsRefusedBeforeThePsamIsUsed) {
  start();
  ctl("insert contact ss3_short_atr");
  EXPECT_EQ(read(), -19);
  EXPECT_STREQ(err, "社保卡复位信息长度无效,无法认证");
  EXPECT_FALSE(has(sent(), "16 "));
  EXPECT_FALSE(sessionOpen());
  AUTHENINFO_S info = {};
  info.nAtrLen = 85;  // more than the record holds
  EXPECT_EQ(ReadCardBas_Step2(&info, err), -19);
}

TEST_F(BasicInfo, NameThatIsNoGbkGivesMinus88AndKeepsTheSession) {
  start();
  ctl("insert contact ss3_bad_name");
  EXPECT_EQ(read(), -88);
  EXPECT_STREQ(err, "姓名转换失败");
  EXPECT_TRUE(sessionOpen());
  EXPECT_STREQ(o.certId, "");
}

TEST_F(BasicInfo, ContactlessCardAuthenticatesThroughSlot15) {
  start("dc");
  ctl("remove contact");
  ctl("insert contactless ss3_cl");
  ASSERT_EQ(read(), 0) << err;
  EXPECT_STREQ(o.cardNo, "A10000001");
  Lines cmds = sent();
  ASSERT_EQ(cmds[0], "12 02");
  for (size_t i = 1; i < cmds.size(); ++i)
    EXPECT_TRUE(cmds[i].compare(0, 5, "15 05") == 0 || cmds[i].compare(0, 2, "16") == 0 || cmds[i] == "15 03")
        << cmds[i];
  EXPECT_TRUE(has(cmds, "15 050082000A10"));
  EXPECT_EQ(cmds.back(), "15 0500B20D0006");
  // The PSAM search starts at slot 22: the user card is reset once only.
  EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "15 03"), 1);
  EXPECT_EQ(find(cmds, "16 "), "16 02");
}

TEST_F(BasicInfo, EveryStepFailureHasItsCodeAndMessageAndClosesTheSession) {
  start();
  struct Case {
    const char *fault;  // "" for the card removed
    int code;
    const char *msg;
  } cases[] = {
      {"", -1, "复位失败"},
      {"nad=0x12 cmd=00C0", -2, "选择社保应用失败"},
      {"nad=0x12 cmd=00A4020002EF05", -3, "选择EF05失败"},
      {"nad=0x12 cmd=00B201", -4, "读取卡识别码失败"},
      {"nad=0x12 cmd=00B203", -5, "读社保卡规范版本失败"},
      {"nad=0x12 cmd=00C0 skip=1", -6, "内部认证码产生失败"},
      {"nad=0x12 cmd=0084", -7, "产生随机数失败"},
      {"nad=22 cmd=0012", -13, "PSAM卡复位失败,请插入PSAM卡！"},
      {"nad=22 cmd=00A40400", -14, "PSAM卡版本过低，请更换新版PSAM卡"},
      {"nad=22 cmd=00A4000002DF01", -15, "选择社保应用专用文件失败！"},
      {"nad=22 cmd=BFDE6708", -16, "PSAM内部认证码分散错误"},
      {"nad=22 cmd=80FA", -17, "PSAM内部认证码加密错误"},
      {"nad=22 cmd=00C0", -17, "PSAM内部认证码加密错误"},
      {"nad=22 cmd=BFDE670A", -18, "PSAM外部认证码分散错误"},
      {"nad=22 cmd=80FA skip=1", -18, "PSAM外部认证码加密错误"},
      {"nad=22 cmd=00C0 skip=1", -18, "PSAM外部认证码加密错误"},
      {"nad=0x12 cmd=00A4020002EF05 skip=1", -33, "选择EF05失败"},
      {"nad=0x12 cmd=00B207", -36, "读社保卡号错误"},
      {"nad=0x12 cmd=00B202", -34, "读社保卡类别错误"},
      {"nad=0x12 cmd=00B204", -37, "读初始化机构编号错误"},
      {"nad=0x12 cmd=00B205", -38, "读社保卡发卡日期错误"},
      {"nad=0x12 cmd=00B206", -39, "读社保卡有效期错误"},
      {"nad=0x12 cmd=00A4020002EF06", -40, "选择EF06失败"},
      {"nad=0x12 cmd=00B208", -41, "读社会保障号码错误"},
      {"nad=0x12 cmd=00B209", -42, "读姓名错误"},
      {"nad=0x12 cmd=00B20A", -43, "读性别错误"},
      {"nad=0x12 cmd=00B20B", -44, "读民族错误"},
      {"nad=0x12 cmd=00B20C", -45, "读出生地错误"},
      {"nad=0x12 cmd=00B20D", -46, "读出生日期错误"},
  };
  for (const Case &c : cases) {
    writeConfig("[Set]\nPSAM=22\n");
    if (*c.fault)
      ctl(std::string("fault sw 6A82 count=5 ") + c.fault);
    else
      ctl("remove contact");
    std::memset(err, 0, sizeof err);
    EXPECT_EQ(read(), c.code) << c.fault;
    EXPECT_STREQ(err, c.msg) << c.fault;
    EXPECT_FALSE(sessionOpen()) << c.fault;
    EXPECT_STREQ(o.certId, "") << c.fault;
    ctl("fault clear");
    ctl("insert contact ss3");
  }
}

// A record the card confirms with 90 00 but cuts short (tag and length
// only) fails with that record's code instead of passing zeros off as data;
// the optional name extension is skipped as when it is missing.
TEST_F(BasicInfo, RecordCutShortFailsWithItsCode) {
  start();
  const struct {
    const char *cmd;
    int code;
    const char *msg;
  } cases[] = {
      {"00B201", -4, "读取卡识别码失败"},
      {"00B203", -5, "读社保卡规范版本失败"},  // not taken for version "1.0"
      {"00B207", -36, "读社保卡号错误"},
      {"00B204", -37, "读初始化机构编号错误"},
      {"00B208", -41, "读社会保障号码错误"},
      {"00B20D", -46, "读出生日期错误"},
  };
  for (const auto &c : cases) {
    writeConfig("[Set]\nPSAM=22\n");
    ctl(std::string("fault cut 2 nad=0x12 cmd=") + c.cmd);
    std::memset(err, 0, sizeof err);
    EXPECT_EQ(read(), c.code) << c.cmd;
    EXPECT_STREQ(err, c.msg) << c.cmd;
    EXPECT_FALSE(sessionOpen()) << c.cmd;
    ctl("fault clear");
  }
  writeConfig("[Set]\nPSAM=22\n");
  ctl("fault cut 2 nad=0x12 cmd=00B24E");
  EXPECT_EQ(read(), 0);
  ctl("fault clear");
}

TEST_F(BasicInfo, PsamSerialNumberAfterAReset) {
  start();
  char pass[20] = {};
  ASSERT_EQ(QMX_OpenDev(21, pass, err), 0);
  clearLog();
  char serial[21] = {}, shortId[13] = {};
  ASSERT_EQ(ReadPSAMID(22, serial, shortId, err), 0) << err;
  EXPECT_STREQ(serial, "0405060708090A0B0000");
  EXPECT_STREQ(shortId, "0405060B0000");
  EXPECT_EQ(sent(), (Lines{"16 0012000000", "16 00B095010A"}));
  EXPECT_EQ(ReadPSAMID(23, serial, shortId, err), 0x6FF0);
  EXPECT_STREQ(err, "PSAM卡复位失败");
  ctl("fault sw 6A82 nad=22 cmd=00B0");
  EXPECT_EQ(ReadPSAMID(22, serial, shortId, err), 0x6A82);
  EXPECT_STREQ(err, "读取PSAM卡序列号失败!");
  EXPECT_STREQ(serial, "0405060708090A0B0000");
}
