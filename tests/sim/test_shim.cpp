// The hidapi shim in front of a private vreader: enumeration, reports,
// waits and injected faults as a driver sees them.
#include <gtest/gtest.h>
#include <hidapi/hidapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "vreader_fixture.h"

using vr::Bytes;
using vr::hx;

namespace {

// The host side of the report framing, kept minimal and written for the test.
bool sendCommand(hid_device* d, uint8_t nad, const Bytes& cmd) {
  size_t off = 0;
  unsigned seq = 0;
  do {
    size_t n = std::min<size_t>(61, cmd.size() - off);
    bool more = cmd.size() - off > 61;
    unsigned char rep[65] = {0};
    rep[1] = nad;
    rep[2] = uint8_t((seq & 0x1F) | (more ? 0x20 : 0) | ((seq & 1) ? 0x40 : 0));
    rep[3] = uint8_t(n);
    std::memcpy(rep + 4, cmd.data() + off, n);
    if (hid_write(d, rep, 65) != 65) return false;
    off += n;
    ++seq;
  } while (off < cmd.size());
  return true;
}

// Reads one reply; "timeout" or "error" when it does not come whole.
std::string readReply(hid_device* d, int ms = 2000) {
  Bytes all;
  for (unsigned seq = 0;; ++seq) {
    unsigned char rep[64];
    int n = hid_read_timeout(d, rep, 64, ms);
    if (n == 0) return "timeout";
    if (n != 64) return "short " + std::to_string(n);
    if ((rep[1] & 0x1F) != (seq & 0x1F)) return "sequence";
    all.insert(all.end(), rep + 3, rep + 3 + rep[2]);
    if (!(rep[1] & 0x20)) return vr::toHex(all);
  }
}

std::string exchange(hid_device* d, uint8_t nad, const char* hex) {
  if (!sendCommand(d, nad, hx(hex))) return "write failed";
  return readReply(d);
}

struct ShimTest : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(vr.start()); }
  hid_device* open() {
    hid_device_info* list = hid_enumerate(0x163C, 0x0A2B);
    std::string path;
    for (auto* i = list; i; i = i->next)
      if (i->interface_number == 1) path = i->path;
    hid_free_enumeration(list);
    return path.empty() ? nullptr : hid_open_path(path.c_str());
  }
  VreaderProcess vr;
};

}  // namespace

TEST_F(ShimTest, EnumerateListsTheReaderWithBothInterfaces) {
  hid_device_info* list = hid_enumerate(0, 0);
  ASSERT_NE(list, nullptr);
  ASSERT_NE(list->next, nullptr);
  EXPECT_EQ(list->next->next, nullptr);
  EXPECT_EQ(list->vendor_id, 0x163C);
  EXPECT_EQ(list->product_id, 0x0A2B);
  EXPECT_EQ(list->interface_number, 0);
  EXPECT_EQ(list->next->interface_number, 1);
  EXPECT_STREQ(list->next->serial_number, L"VR2026000001");
  EXPECT_EQ(hid_open_path(list->path), nullptr);  // interface 0 carries no reports
  hid_free_enumeration(list);
  EXPECT_EQ(hid_enumerate(0x1234, 0), nullptr);
  EXPECT_EQ(hid_open_path("/dev/hidraw0"), nullptr);
  EXPECT_EQ(hid_init(), 0);
  EXPECT_EQ(hid_exit(), 0);
}

TEST_F(ShimTest, ResetReturnsTheProfileAnswerToReset) {
  hid_device* d = open();
  ASSERT_NE(d, nullptr);
  wchar_t sn[32];
  ASSERT_EQ(hid_get_serial_number_string(d, sn, 32), 0);
  EXPECT_STREQ(sn, L"VR2026000001");
  EXPECT_EQ(exchange(d, 0x12, "0012000000"), "3B6C00000A1A2B3C4D5E6F708192A3B4C5D69000");
  EXPECT_EQ(exchange(d, 0x15, "0012000000"), "6FF0");
  EXPECT_EQ(exchange(d, 0x00, "0019000000"), vr::toHex(hx("56524541444552 2D 4657 20 312E342E30 9000")));
  // a long command crosses reports and still reaches the card whole
  std::string sel = "00A404000F" + vr::toHex(hx("7378312E73682EC9E7BBE1B1A3D5CF"));
  EXPECT_EQ(exchange(d, 0x12, sel.c_str()).substr(0, 2), "61");
  hid_close(d);
}

TEST_F(ShimTest, SecondOpenIsRefusedUntilTheFirstCloses) {
  hid_device* a = open();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(open(), nullptr);
  hid_close(a);
  hid_device* b = open();
  ASSERT_NE(b, nullptr);
  hid_close(b);
}

TEST_F(ShimTest, KeypadReturnsTypedKeysAndTimesOut) {
  hid_device* d = open();
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(sendCommand(d, 0x00, hx("00F9081E03001B49")));
  EXPECT_EQ(readReply(d, 50), "timeout");  // 30 s at time scale 0.01 is 300 ms
  EXPECT_EQ(vr.ctl("keys 1234"), "OK");
  EXPECT_EQ(readReply(d), "04313233340D9000");
  ASSERT_TRUE(sendCommand(d, 0x00, hx("00F9080103001B49")));
  EXPECT_EQ(readReply(d), "6902");
  EXPECT_EQ(exchange(d, 0x00, "B0F900000183"), "9000");
  hid_close(d);
}

TEST_F(ShimTest, SwipeAndQrCodeCompleteTheirWaits) {
  hid_device* d = open();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(exchange(d, 0x1A, "8017030600"), "9000");
  EXPECT_EQ(exchange(d, 0x1A, "0019060100"), "9000");
  ASSERT_TRUE(sendCommand(d, 0x1A, hx("0019201400")));
  EXPECT_EQ(readReply(d, 30), "timeout");
  EXPECT_EQ(vr.ctl("swipe track2=;1234567890123456=2912 track3=99123"), "OK");
  EXPECT_EQ(readReply(d), "9000");
  EXPECT_EQ(exchange(d, 0x1A, "00B0020000"), vr::toHex(Bytes{';', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3', '4', '5', '6', '=', '2', '9', '1', '2', 0x90, 0x00}));
  EXPECT_EQ(exchange(d, 0x1A, "00B0030000"), "39393132339000");
  ASSERT_TRUE(sendCommand(d, 0x1C, hx("B0B0001E00")));
  EXPECT_EQ(vr.ctl("present ecard"), "OK");
  std::string code = readReply(d);
  EXPECT_EQ(code.substr(0, 14), vr::toHex(Bytes{'S', 'I', 'E', 'C', 'A', 'R', 'D'}));
  EXPECT_EQ(code.substr(code.size() - 4), "9000");
  hid_close(d);
}

TEST_F(ShimTest, InjectedFaultsShowAsReportBehaviour) {
  hid_device* d = open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(vr.ctl("fault sw 6A82 nad=0x12"), "OK");
  EXPECT_EQ(exchange(d, 0x16, "0012000000").substr(0, 4), "3B6A");  // other unit untouched
  EXPECT_EQ(exchange(d, 0x12, "0012000000"), "6A82");
  ASSERT_EQ(vr.ctl("fault noanswer"), "OK");
  ASSERT_TRUE(sendCommand(d, 0x12, hx("0012000000")));
  EXPECT_EQ(readReply(d, 100), "timeout");
  ASSERT_EQ(vr.ctl("fault garble"), "OK");
  EXPECT_EQ(exchange(d, 0x12, "0012000000"), "sequence");
  hid_close(d);  // the garbled train may leave reports behind: start afresh
  d = open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(vr.ctl("fault short"), "OK");
  EXPECT_EQ(exchange(d, 0x12, "0012000000"), "short 32");
  ASSERT_EQ(vr.ctl("fault delay 150"), "OK");
  ASSERT_TRUE(sendCommand(d, 0x00, hx("0019000000")));
  EXPECT_EQ(readReply(d, 50), "timeout");
  EXPECT_EQ(readReply(d, 2000).substr(0, 4), "5652");
  EXPECT_EQ(exchange(d, 0x12, "0012000000").substr(0, 4), "3B6C");  // faults are used up
  // cut: the command runs, its reply keeps the first data bytes and the status word
  ASSERT_EQ(vr.ctl("fault cut 3 nad=0x12"), "OK");
  EXPECT_EQ(exchange(d, 0x12, "0012000000"), "3B6C009000");
  ASSERT_EQ(vr.ctl("fault cut 40 nad=0x12"), "OK");
  EXPECT_EQ(exchange(d, 0x12, "0012000000"), "3B6C00000A1A2B3C4D5E6F708192A3B4C5D69000");  // shorter: whole
  hid_close(d);
}

TEST_F(ShimTest, UnplugDisconnectsAndHidesTheReader) {
  hid_device* d = open();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(vr.ctl("unplug"), "OK");
  unsigned char rep[64];
  EXPECT_EQ(hid_read_timeout(d, rep, 64, 1000), -1);
  EXPECT_NE(std::wstring(hid_error(d)), L"Success");
  hid_close(d);
  EXPECT_EQ(hid_enumerate(0x163C, 0x0A2B), nullptr);
  EXPECT_EQ(hid_open(0x163C, 0x0A2B, nullptr), nullptr);
  EXPECT_EQ(vr.ctl("plug"), "OK");
  d = hid_open(0x163C, 0x0A2B, nullptr);
  ASSERT_NE(d, nullptr);
  hid_close(d);
}

TEST_F(ShimTest, NoDaemonEnumeratesNothing) {
  vr.stop();
  EXPECT_EQ(hid_enumerate(0x163C, 0x0A2B), nullptr);
  EXPECT_EQ(hid_open(0x163C, 0x0A2B, nullptr), nullptr);
}

TEST_F(ShimTest, AVanishedClientLeavesTheReaderUsable) {
  hid_device* d = open();
  ASSERT_NE(d, nullptr);
  Bytes big(70, 0x00);
  unsigned char rep[65] = {0, 0x12, 0x20, 61};  // first report of two, then gone
  ASSERT_EQ(hid_write(d, rep, 65), 65);
  hid_close(d);
  d = open();
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(sendCommand(d, 0x00, hx("00F9081E03001B49")));  // a wait, then gone
  hid_close(d);
  d = open();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(exchange(d, 0x12, "0012000000").substr(0, 4), "3B6C");
  EXPECT_NE(vr.ctl("state").find("\"waiting\":\"none\""), std::string::npos);
  hid_close(d);
}

TEST_F(ShimTest, WriteRefusesOverlongReports) {
  hid_device* d = open();
  ASSERT_NE(d, nullptr);
  unsigned char rep[80] = {0};
  EXPECT_EQ(hid_write(d, rep, 80), -1);
  EXPECT_EQ(hid_write(d, rep, 0), -1);
  hid_close(d);
}

TEST_F(ShimTest, IdModuleFramesAsTheHubSendsThem) {
  hid_device* d = open();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(exchange(d, 0x1B, "0012000000"), "9000");
  EXPECT_EQ(exchange(d, 0x1B, "AAAAAA9669000312FFEE").substr(0, 20), "AAAAAA96690014000090");
  EXPECT_EQ(exchange(d, 0x1B, "AAAAAA9669000461FF78E2"), "AAAAAA9669000400009094" "9000");
  EXPECT_EQ(exchange(d, 0x1B, "AAAAAA96690003200122"), "AAAAAA9669000800009F0000000097" "9000");
  EXPECT_EQ(exchange(d, 0x1B, "AAAAAA96690003200221"), "AAAAAA9669000C0000900000000000000000" "9C" "9000");
  std::string rd = exchange(d, 0x1B, "AAAAAA96690003300132");
  ASSERT_EQ(rd.size(), 1297u * 2);
  EXPECT_EQ(rd.substr(10, 18), "050800009001000400");
  ASSERT_EQ(vr.ctl("remove idcard"), "OK");
  EXPECT_EQ(exchange(d, 0x1B, "AAAAAA96690003200122"), "AAAAAA9669000400008084" "6F80");
  hid_close(d);
}
