// USB-HID family: every driver result reaches the caller unchanged.
#include "hub_fixture.h"

TEST_F(HubTest, HidResetAndApdusPassStatusWordsThrough) {
  open("hid");
  Set_Nad(h, 18);
  EXPECT_EQ(reset(), std::string("9000:") + kAtrSs3);
  EXPECT_EQ(apdu(kSelectSs3), "611C:");  // T=0 answers are the caller's to complete
  std::string fci = apdu("00C000001C");
  EXPECT_EQ(fci.substr(0, 13), "9000:6F1A840F");
  EXPECT_EQ(fci.size(), 5u + 2 * 0x1C);
  EXPECT_EQ(apdu("00A404000FA0A0A0A0A0A0A0A0A0A0A0A0A0A0A0"), "6A82:");
  EXPECT_EQ(apdu("00B2070008"), "6986:");  // no file selected
  EXPECT_EQ(commandsSent(vr), (std::vector<std::string>{"18:0012000000", std::string("18:") + kSelectSs3,
                                                        "18:00C000001C", "18:00A404000FA0A0A0A0A0A0A0A0A0A0A0A0A0A0A0",
                                                        "18:00B2070008"}));
}

TEST_F(HubTest, HidResetOutsideTheCardSlotsIsRefusedWithoutTraffic) {
  open("hid");
  for (unsigned char nad : {17, 26, 28}) {
    Set_Nad(h, nad);
    EXPECT_EQ(reset(), "6201:") << int(nad);
  }
  EXPECT_EQ(exchangeCount(vr, "hid"), 0);
}

TEST_F(HubTest, HidDriverFailuresPassThrough) {
  open("hid");
  Set_Nad(h, 18);
  ASSERT_EQ(reset().substr(0, 4), "9000");
  ASSERT_EQ(vr.ctl("fault garble nad=0x12"), "OK");
  EXPECT_EQ(apdu("0084000008"), "FFFF:");
  ASSERT_EQ(vr.ctl("fault sw 6FF0 nad=0x12"), "OK");
  EXPECT_EQ(reset(), "6FF0:");
  EXPECT_EQ(Cpu_Reset(int64_t(12345), nullptr, nullptr), 0x6FF1);  // nothing to write into
  unsigned char out[4];
  int len = 0;
  EXPECT_EQ(CPU_Protocol(int64_t(12345), 5, out, &len, out), 0x6FF2);  // not a driver handle
  long before = exchangeCount(vr, "hid");
  EXPECT_EQ(CPU_Protocol(h, 0, out, &len, out), 0xFFFF);
  EXPECT_EQ(CPU_Protocol(h, -3, out, &len, out), 0xFFFF);
  EXPECT_EQ(exchangeCount(vr, "hid"), before);
}

TEST_F(HubTest, HidAnswersLongerThanTheCallerBuffersAreRefused) {
  open("hid");
  ASSERT_EQ(vr.ctl("insert contact memory_long_atr"), "OK");  // an answer to reset of 65 bytes
  Set_Nad(h, 18);
  Guarded atr(PORTICO_ATR_SIZE, 'a');
  int alen = -7;
  EXPECT_EQ(Cpu_Reset(h, &alen, reinterpret_cast<unsigned char*>(atr.data())), 0x6FF1);
  EXPECT_EQ(alen, -7);
  EXPECT_EQ(std::string(atr.data(), atr.size), std::string(atr.size, 'a'));
  EXPECT_TRUE(atr.guardIntact());

  Set_Nad(h, 28);
  std::string code(PORTICO_RESPONSE_SIZE + 1, 'Q');
  ASSERT_EQ(vr.ctl("present text=" + code), "OK");
  vr::Bytes scan = vr::hx("B0B0000300");
  Guarded out(PORTICO_RESPONSE_SIZE, 'z');
  int len = -7;
  EXPECT_EQ(CPU_Protocol(h, 5, scan.data(), &len, reinterpret_cast<unsigned char*>(out.data())), 0x6FF1);
  EXPECT_EQ(len, -7);
  EXPECT_EQ(std::string(out.data(), out.size), std::string(out.size, 'z'));
  EXPECT_TRUE(out.guardIntact());
  // exactly the buffer: delivered
  code.pop_back();
  ASSERT_EQ(vr.ctl("present text=" + code), "OK");
  EXPECT_EQ(CPU_Protocol(h, 5, scan.data(), &len, reinterpret_cast<unsigned char*>(out.data())), 0x9000);
  EXPECT_EQ(len, PORTICO_RESPONSE_SIZE);
  EXPECT_EQ(std::string(out.data(), out.size), code);
  EXPECT_TRUE(out.guardIntact());
}
