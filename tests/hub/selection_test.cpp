// Choosing the reader family at open time, closing, and DevType.
#include "hub_fixture.h"

TEST_F(HubTest, OpenDevPicksTheHidReaderWhenBothFamiliesAreAttached) {
  open("both");
  EXPECT_EQ(h, reinterpret_cast<int64_t>(&g_hid_devices[1]));
  EXPECT_EQ(DevType, PORTICO_DEV_HID);
  EXPECT_EQ(clients(vr, "hid"), 1);
  EXPECT_EQ(clients(vr, "dc"), 0);  // the vendor SDK was not even asked
  EXPECT_EQ(exchangeCount(vr, "hid"), 0);  // no slot is selected at open time

  // CloseDev closes the device; the family stays chosen.
  EXPECT_EQ(CloseDev(h, msg), 0);
  EXPECT_EQ(g_hid_devices[1].dev, nullptr);
  EXPECT_EQ(clients(vr, "hid"), 0);
  EXPECT_EQ(DevType, PORTICO_DEV_HID);
  EXPECT_STREQ(msg, "");
  EXPECT_EQ(OpenDev(nullptr, nullptr, msg), h);
}

TEST_F(HubTest, OpenDevFallsBackToTheVendorFamily) {
  open("dc");
  EXPECT_GE(h, 1);
  EXPECT_LE(h, 8);
  EXPECT_EQ(DevType, PORTICO_DEV_VENDOR);
  EXPECT_EQ(clients(vr, "dc"), 1);
  EXPECT_EQ(CloseDev(h, msg), 0);
  EXPECT_EQ(clients(vr, "dc"), 0);
  EXPECT_EQ(DevType, PORTICO_DEV_VENDOR);
  h = -1;
}

TEST_F(HubTest, NoReaderGivesMinus1WithItsMessageAndKeepsTheFamily) {
  open("dc");
  ASSERT_EQ(CloseDev(h, msg), 0);
  h = -1;
  ASSERT_EQ(vr.ctl("unplug"), "OK");
  EXPECT_EQ(OpenDev(nullptr, nullptr, msg), -1);
  EXPECT_STREQ(msg, "未找到设备!");
  EXPECT_EQ(DevType, PORTICO_DEV_VENDOR);
  EXPECT_EQ(OpenDev(nullptr, nullptr, nullptr), -1);  // no message buffer: nothing written
}

TEST_F(HubTest, HidReaderHeldByAnotherProgramIsPassedOver) {
  ASSERT_TRUE(vr.start(hubProfile(), "both"));
  int other = vr::connectTo(vr.socket);
  std::string hello = "HELLO hid\n", reply;
  ASSERT_TRUE(vr::writeAll(other, hello.data(), hello.size()));
  ASSERT_TRUE(vr::readLine(other, reply, 100, 2000));
  ASSERT_EQ(reply.substr(0, 6), "OK hid");
  h = OpenDev(nullptr, nullptr, msg);
  EXPECT_EQ(DevType, PORTICO_DEV_VENDOR);
  EXPECT_GE(h, 1);
  EXPECT_LE(h, 8);
  // Once the other program lets go, the next open takes the HID reader:
  // the driver's failed slot is opened again, no restart needed.
  close(other);
  ASSERT_EQ(CloseDev(h, msg), 0);
  h = OpenDev(nullptr, nullptr, msg);
  EXPECT_EQ(h, reinterpret_cast<int64_t>(&g_hid_devices[1]));
  EXPECT_EQ(DevType, PORTICO_DEV_HID);
  EXPECT_EQ(clients(vr, "hid"), 1);
}

TEST_F(HubTest, SetNadReachesTheDriverWithItsMappingOfOne) {
  open("hid");
  Set_Nad(h, 1);
  EXPECT_EQ(apdu("0019210000"), "9000:");
  Set_Nad(h, 28);
  EXPECT_EQ(apdu("8017030000"), "9000:");
  auto log = exchangeLog(vr);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].nad, 0x1A);
  EXPECT_EQ(log[1].nad, 0x1C);
}
