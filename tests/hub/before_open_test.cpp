// A process whose hub has never opened a reader: every call fails with -1
// and touches nothing. Kept in a program of its own so that no earlier test
// has chosen a family.
#include "hub_fixture.h"

TEST(BeforeFirstOpen, EveryCallReturnsMinus1AndTouchesNothing) {
  VreaderProcess vr;
  ASSERT_TRUE(vr.start(hubProfile(), "both"));
  ASSERT_EQ(DevType, PORTICO_DEV_NONE);
  char msg[64];
  std::memset(msg, 'm', sizeof msg);
  msg[63] = 0;
  const std::string untouched = msg;

  Set_Nad(1, 21);  // no family: not even IsDcFeiJie changes
  EXPECT_EQ(IsDcFeiJie, 0);
  unsigned char atr[PORTICO_ATR_SIZE] = {0}, out[PORTICO_RESPONSE_SIZE] = {0};
  int len = -9;
  EXPECT_EQ(Cpu_Reset(1, &len, atr), -1);
  const unsigned char cmd[] = {0x00, 0x84, 0x00, 0x00, 0x08};
  EXPECT_EQ(CPU_Protocol(1, 5, cmd, &len, out), -1);
  EXPECT_EQ(len, -9);
  IdOutputs o('x');
  EXPECT_EQ(o.read(1, msg), -1);
  EXPECT_EQ(msg, untouched);
  for (const std::string& s : o.texts()) EXPECT_EQ(s, std::string(s.size(), 'x'));
  EXPECT_EQ(CloseDev(1, msg), -1);
  EXPECT_STREQ(msg, "暂未发现该设备类型！");
  EXPECT_EQ(exchangeCount(vr, "hid"), 0);
  EXPECT_EQ(exchangeCount(vr, "dc"), 0);

  // A failed open leaves it so.
  ASSERT_EQ(vr.ctl("unplug"), "OK");
  EXPECT_EQ(OpenDev(nullptr, nullptr, msg), -1);
  EXPECT_STREQ(msg, "未找到设备!");
  EXPECT_EQ(DevType, PORTICO_DEV_NONE);
  EXPECT_EQ(Cpu_Reset(1, &len, atr), -1);

  // The first successful open chooses the family, and closing keeps it.
  ASSERT_EQ(vr.ctl("plug"), "OK");
  int64_t h = OpenDev(nullptr, nullptr, msg);
  ASSERT_GT(h, 0);
  EXPECT_EQ(DevType, PORTICO_DEV_HID);
  EXPECT_EQ(CloseDev(h, msg), 0);
  EXPECT_EQ(DevType, PORTICO_DEV_HID);
}
