// The reader session: explicit open and close, open on demand, reuse, and
// the configuration path rebuilt at every open.
#include <cstring>

#include "client_fixture.h"
#include "session.h"

namespace {

struct Session : ClientTest {};

}  // namespace

TEST_F(Session, SecondOpenReturnsMinus4AndTheFirstSessionStaysUsable) {
  start();
  char pass[20] = {};
  ASSERT_EQ(QMX_OpenDev(21, pass, err), 0);
  EXPECT_EQ(bIsOpen, 1);
  EXPECT_GT(g_hDev, 0);
  int64_t handle = g_hDev;
  EXPECT_EQ(QMX_OpenDev(21, pass, err), -4);
  EXPECT_STREQ(err, "设备已打开，无需重复打开!");
  EXPECT_EQ(g_hDev, handle);
  char cardNo[10] = {};
  EXPECT_EQ(QMX_ReadCarNo(cardNo, err), 0);
  EXPECT_STREQ(cardNo, "A10000001");
}

TEST_F(Session, CloseAlwaysSucceedsAndLeavesTheSessionClosed) {
  start();
  EXPECT_EQ(QMX_CloseDev(err), 0);  // nothing open yet
  EXPECT_EQ(bIsOpen, 0);
  char pass[20] = {};
  ASSERT_EQ(QMX_OpenDev(21, pass, err), 0);
  EXPECT_EQ(QMX_CloseDev(err), 0);
  EXPECT_EQ(bIsOpen, 0);
  EXPECT_EQ(g_hDev, 0);
  EXPECT_EQ(QMX_CloseDev(err), 0);
  ASSERT_EQ(QMX_OpenDev(21, pass, err), 0);  // and opens again
}

TEST_F(Session, EveryOpenNamesConfigIniBesideTheProgram) {
  start();
  char pass[20] = {};
  std::strcpy(szPath, "stale");
  ASSERT_EQ(QMX_OpenDev(21, pass, err), 0);
  EXPECT_EQ(std::string(szPath), configPath());
  QMX_CloseDev(err);
  // An operation that opens on demand rebuilds it the same way.
  std::strcpy(szPath, "stale");
  char cardNo[10] = {};
  ASSERT_EQ(QMX_ReadCarNo(cardNo, err), 0);
  EXPECT_EQ(std::string(szPath), configPath());
}

TEST_F(Session, ReadCarNoTwiceOpensOnceAndReusesTheSession) {
  start();
  char first[10] = {}, second[10] = {};
  ASSERT_EQ(QMX_ReadCarNo(first, err), 0);
  EXPECT_EQ(bIsOpen, 1);
  int64_t handle = g_hDev;
  // The path is rebuilt only by an open: a marker that survives proves
  // that the second read did not open again.
  std::strcpy(szPath, "marker");
  clearLog();
  ASSERT_EQ(QMX_ReadCarNo(second, err), 0);
  EXPECT_STREQ(szPath, "marker");
  EXPECT_EQ(g_hDev, handle);
  EXPECT_STREQ(second, "A10000001");
  EXPECT_EQ(sent().front(), "12 0012000000");
}

TEST_F(Session, WithoutAReaderEveryOperationGivesItsOpenFailureCode) {
  start();
  ctl("unplug");
  char b[16][1024] = {};
  int len = 0;
  struct Case {
    const char *name;
    int code;
    int rc;
  } cases[] = {
      {"ReadCarNo", -1, QMX_ReadCarNo(b[0], err)},
      {"ReadCardCertID", -1, QMX_ReadCardCertID(b[0], b[1], err)},
      {"ReadCardCity", -1, QMX_ReadCardCity(b[0], err)},
      {"ReadCardBas", -1, QMX_ReadCardBas(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10],
                                          b[11], b[12], err)},
      {"IDCard_Read", -1, QMX_IDCard_Read(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], err)},
      {"ECard_SetAutoRead", -1, QMX_ECard_SetAutoRead(1, err)},
      {"ECard_AutoReadTime", -100, QMX_ECard_AutoReadTime(5, err)},
      {"ECard_Read", -100, QMX_ECard_Read(&len, b[0], 3, err)},
      {"ICBankCard_ReadNO", -100, QMX_ICBankCard_ReadNO(b[0], err)},
      {"MagCardRead", -100, QMX_MagCardRead(3, b[0], b[1], b[2], b[3], err)},
      {"MagicBankCard_ReadNo", -100, QMX_MagicBankCard_ReadNo(3, b[0], err)},
      {"KeyBoard_InputKey", -100, QMX_KeyBoard_InputKey(3, 16, b[0], &len, err)},
  };
  for (const Case &c : cases) EXPECT_EQ(c.rc, c.code) << c.name;
  EXPECT_STREQ(err, "未找到设备!");
  EXPECT_EQ(bIsOpen, 0);
  for (int i = 0; i < 13; ++i) EXPECT_EQ(b[i][0], 0) << i;
  char pass[20] = {};
  std::memset(err, 0, sizeof err);
  EXPECT_EQ(QMX_OpenDev(21, pass, err), -1);
  EXPECT_STREQ(err, "未找到设备!");
  EXPECT_LE(g_hDev, 0);
}
