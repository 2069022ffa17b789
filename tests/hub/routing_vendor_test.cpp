// Vendor family: slots by node address, 61 xx completed by the hub, and
// the hub's own failure codes.
#include "hub_fixture.h"

namespace {

// PSAM commands up to an answer of 16 bytes announced by 61 10: select the
// application and DF01, load a session key, encrypt 16 bytes.
const char* const kPsamSession[] = {"00A404000F7378332E73682EC9E7BBE1B1A3D5CF", "00A4000002DF01",
                                    "BFDE670808A1A2A3A4A5A6A7A8"};
const char kPsamEncrypt[] = "80FA00001000112233445566778899AABBCCDDEEFF";

}  // namespace

TEST_F(HubTest, VendorCompletes6110WithGetResponseAndReturnsItsData) {
  open("dc");
  Set_Nad(h, 22);  // PSAM 1 -> SDK slot 0x0D
  EXPECT_EQ(reset().substr(0, 9), "9000:3B6A");
  EXPECT_EQ(apdu(kPsamSession[0]).substr(0, 7), "9000:6F");  // 61 xx completed as well
  EXPECT_EQ(apdu(kPsamSession[1]).substr(0, 7), "9000:6F");
  EXPECT_EQ(apdu(kPsamSession[2]), "9000:");
  ASSERT_EQ(vr.ctl("clearlog"), "OK");
  std::string r = apdu(kPsamEncrypt);
  auto log = exchangeLog(vr);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].cmd, std::string("04") + kPsamEncrypt);  // 04: the SDK's contact APDU call
  EXPECT_EQ(log[0].reply, "6110");
  EXPECT_EQ(log[1].cmd, "0400C0000010");
  EXPECT_EQ(log[1].nad, 22);
  ASSERT_EQ(log[1].reply.size(), 36u);
  EXPECT_EQ(r, "9000:" + log[1].reply.substr(0, 32));
}

TEST_F(HubTest, StatusOtherThan9000And61GivesMinus4OnVendorAnd6A82OnHid) {
  const char select[] = "00A404000FA0A0A0A0A0A0A0A0A0A0A0A0A0A0A0";
  open("both");
  Set_Nad(h, 18);
  ASSERT_EQ(reset().substr(0, 4), "9000");
  EXPECT_EQ(apdu(select), "6A82:");
  ASSERT_EQ(CloseDev(h, msg), 0);
  ASSERT_EQ(vr.ctl("family dc"), "OK");
  h = OpenDev(nullptr, nullptr, msg);
  ASSERT_EQ(DevType, PORTICO_DEV_VENDOR);
  Set_Nad(h, 18);
  ASSERT_EQ(reset().substr(0, 4), "9000");
  vr::Bytes c = vr::hx(select);
  Guarded out(PORTICO_RESPONSE_SIZE, 'z');
  int len = -1;
  EXPECT_EQ(CPU_Protocol(h, int(c.size()), c.data(), &len, reinterpret_cast<unsigned char*>(out.data())),
            PORTICO_ERR_STATUS);
  EXPECT_EQ(len, 2);  // the whole answer, status word included
  EXPECT_EQ(std::string(out.data(), out.size), std::string(out.size, 'z'));
}

TEST_F(HubTest, VendorTransportFailuresGiveMinus1ToMinus3) {
  setenv("VREADER_DC_TIMEOUT_MS", "300", 1);
  open("dc");
  Set_Nad(h, 18);
  ASSERT_EQ(reset().substr(0, 4), "9000");
  ASSERT_EQ(vr.ctl("fault noanswer nad=0x12"), "OK");
  EXPECT_EQ(apdu("0084000008"), "-1:");  // the first exchange failed
  Set_Nad(h, 18);                        // the SDK reconnects at its default slot
  ASSERT_EQ(vr.ctl("fault sw 6110 nad=0x12"), "OK");
  ASSERT_EQ(vr.ctl("fault noanswer nad=0x12"), "OK");
  EXPECT_EQ(apdu("0084000008"), "-2:");  // the GET RESPONSE exchange failed
  Set_Nad(h, 18);
  ASSERT_EQ(vr.ctl("fault sw 6110 nad=0x12"), "OK");
  ASSERT_EQ(vr.ctl("clearlog"), "OK");
  vr::Bytes c = vr::hx("0084000008");
  unsigned char out[PORTICO_RESPONSE_SIZE];
  int len = -1;
  EXPECT_EQ(CPU_Protocol(h, 5, c.data(), &len, out), PORTICO_ERR_GR_STATUS);  // nothing pending: 6985
  EXPECT_EQ(len, 2);
  EXPECT_EQ(commandsSent(vr), (std::vector<std::string>{"18:040084000008", "18:0400C0000010"}));
  EXPECT_EQ(exchangeLog(vr).back().reply, "6985");
  // Lengths the SDK cannot carry in its one-byte count are refused unsent.
  long before = exchangeCount(vr, "dc");
  std::vector<unsigned char> big(256, 0);
  EXPECT_EQ(CPU_Protocol(h, 256, big.data(), &len, out), PORTICO_ERR_SEND);
  EXPECT_EQ(CPU_Protocol(h, 0, big.data(), &len, out), PORTICO_ERR_SEND);
  EXPECT_EQ(exchangeCount(vr, "dc"), before);
}

TEST_F(HubTest, SetNad21Then18LeavesContactlessModeForSlot0C) {
  open("dc");
  ASSERT_EQ(vr.ctl("insert contactless bank"), "OK");
  Set_Nad(h, 22);
  Set_Nad(h, 21);
  EXPECT_EQ(IsDcFeiJie, 1);
  EXPECT_EQ(reset().substr(0, 9), "9000:3B69");  // the bank card on the antenna
  std::string fci = apdu("00A4040008A000000333010101");
  EXPECT_EQ(fci.substr(0, 7), "9000:6F");
  auto log = exchangeLog(vr);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].cmd, "03");  // contactless reset
  EXPECT_EQ(log[1].reply.substr(0, 2), "61");
  // The announced answer is fetched over the contactless interface too.
  EXPECT_EQ(log[2].cmd, "0500C00000" + log[1].reply.substr(2));
  EXPECT_EQ(log[2].nad, 21);

  Set_Nad(h, 18);
  EXPECT_EQ(IsDcFeiJie, 0);
  ASSERT_EQ(vr.ctl("clearlog"), "OK");
  EXPECT_EQ(reset(), std::string("9000:") + kAtrSs3);
  EXPECT_EQ(commandsSent(vr), std::vector<std::string>{"18:02"});  // contact reset of slot 0x0C
}

TEST_F(HubTest, VendorNadsWithoutSlotLeaveTheSdkAsItWas) {
  open("dc");
  Set_Nad(h, 22);
  for (unsigned char nad : {0, 1, 19, 20, 26, 27, 28}) Set_Nad(h, nad);
  EXPECT_EQ(reset().substr(0, 9), "9000:3B6A");
  EXPECT_EQ(exchangeLog(vr).back().nad, 22);
  Set_Nad(h, 21);
  Set_Nad(h, 27);
  EXPECT_EQ(IsDcFeiJie, 1);
  Set_Nad(h, 23);  // an empty PSAM slot: the SDK's status comes back as is
  EXPECT_EQ(IsDcFeiJie, 0);
  EXPECT_EQ(reset(), "6FF0:");
}
