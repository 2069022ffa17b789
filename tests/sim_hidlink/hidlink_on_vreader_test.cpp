// libhidlink against a private vreader through the hidapi shim: the driver
// and the virtual reader were written apart, so these tests are where their
// bytes have to agree.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "bytes.h"
#include "hidlink.h"
#include "vreader_log.h"

using vr::Bytes;
using vr::hx;

namespace {

const char kAtrSs3[] = "3B6C00000A1A2B3C4D5E6F708192A3B4C5D6";

struct HidlinkOnVreader : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(vr.start()) << "vreader did not start";
    h = HV_open("hid1", 0, nullptr);
    ASSERT_NE(h, HV_INVALID_HANDLE) << "no reader: run through ctest, which preloads the hidapi shim";
    ASSERT_EQ(vr.ctl("clearlog"), "OK");
  }
  // The slot stays registered across tests (same path on every daemon), so
  // each test hands its device back.
  void TearDown() override {
    if (h != HV_INVALID_HANDLE) HV_close(h);
  }

  // One exchange at `nad`; "SW:data" in hex.
  std::string xchg(uint8_t nad, const char* hex) {
    Bytes c = hx(hex);
    uint8_t out[HV_MAX_REPLY_DATA];
    uint32_t len = 0;
    uint32_t sw = HV_command_exchange_with_nad(h, nad, uint32_t(c.size()), c.data(), &len, out);
    char s[8];
    snprintf(s, sizeof s, "%04X", sw);
    return std::string(s) + ":" + (sw == 0x9000 || len ? vr::toHex(out, len) : "");
  }

  VreaderProcess vr;
  void* h = HV_INVALID_HANDLE;
};

double secondsOf(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST_F(HidlinkOnVreader, OpenFindsTheReaderInSlotOneAndCloseKeepsItRegistered) {
  EXPECT_EQ(h, static_cast<void*>(&g_hid_devices[1]));
  EXPECT_EQ(HV_open("hid", 0, nullptr), h);  // a second open shares the handle
  uint8_t buf[256] = {0};
  uint32_t len = 0;
  ASSERT_EQ(HV_get_hid_path(h, &len, buf), 0x9000u);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "vreader:0001:1");  // interface 1, not the keyboard
  ASSERT_EQ(HV_get_hid_serial_number(h, &len, buf), 0x9000u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "VR2026000001");
  ASSERT_EQ(HV_get_application_version(h, &len, buf), 0x9000u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "VREADER-FW 1.4.0");
  EXPECT_EQ(HV_open("hid2", 0, nullptr), HV_INVALID_HANDLE);  // one reader only

  ASSERT_EQ(HV_close(h), 0x9000u);
  EXPECT_TRUE(g_hid_devices[1].is_exist);
  EXPECT_EQ(g_hid_devices[1].dev, nullptr);
  EXPECT_EQ(HV_close(h), 0x6FF2u);
  // Unplugged: the next open frees the slot.
  ASSERT_EQ(vr.ctl("unplug"), "OK");
  EXPECT_EQ(HV_open("hid1", 0, nullptr), HV_INVALID_HANDLE);
  EXPECT_FALSE(g_hid_devices[1].is_exist);
  ASSERT_EQ(vr.ctl("plug"), "OK");
  h = HV_open("hid1", 0, nullptr);
  ASSERT_NE(h, HV_INVALID_HANDLE);
  EXPECT_EQ(HV_get_application_version(h, &len, buf), 0x9000u);
}

TEST_F(HidlinkOnVreader, ResetReturnsTheProfileAnswerToResetOfTheSelectedSlot) {
  uint8_t atr[HV_MAX_REPLY_DATA];
  uint32_t len = 0;
  HV_set_nad(h, NAD_ICCARD);
  ASSERT_EQ(ICC_reset(h, &len, atr), 0x9000u);
  EXPECT_EQ(vr::toHex(atr, len), kAtrSs3);
  HV_set_nad(h, NAD_PSAM1);
  ASSERT_EQ(ICC_reset(h, &len, atr), 0x9000u);
  EXPECT_EQ(vr::toHex(atr, 2), "3B6A");
  HV_set_nad(h, NAD_PSAM2);  // empty slot: the reader's own word
  EXPECT_EQ(ICC_reset(h, &len, atr), 0x6FF0u);
  auto log = exchangeLog(vr);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].nad, 0x12);
  EXPECT_EQ(log[0].cmd, "0012000000");
  EXPECT_EQ(log[1].nad, 0x16);
  EXPECT_EQ(log[2].nad, 0x17);

  // The contactless antenna takes the same reset: empty, then with a card.
  HV_set_nad(h, NAD_RFID);
  EXPECT_EQ(ICC_reset(h, &len, atr), 0x6FF0u);
  ASSERT_EQ(vr.ctl("insert contactless ss3"), "OK");
  ASSERT_EQ(ICC_reset(h, &len, atr), 0x9000u);
  EXPECT_EQ(vr::toHex(atr, len), kAtrSs3);
  EXPECT_EQ(ICC_power_off(h), 0x9000u);
  log = exchangeLog(vr);
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[3].nad, 0x15);
  EXPECT_EQ(log[3].cmd, "0012000000");
  EXPECT_EQ(log[5].nad, 0x15);
  EXPECT_EQ(log[5].cmd, "0015000000");
  // Off the card slots: refused by the driver without any traffic.
  long before = exchangeCount(vr, "hid");
  HV_set_nad(h, NAD_MCARD);
  EXPECT_EQ(ICC_reset(h, &len, atr), 0x6201u);
  EXPECT_EQ(ICC_power_off(h), 0x6201u);
  EXPECT_EQ(exchangeCount(vr, "hid"), before);
}

TEST_F(HidlinkOnVreader, CardDialogueCarriesT0StatusWordsAndLongReplies) {
  HV_set_nad(h, NAD_ICCARD);
  uint8_t out[HV_MAX_REPLY_DATA];
  uint32_t len = 0;
  ASSERT_EQ(ICC_reset(h, &len, out), 0x9000u);
  Bytes sel = hx("00A404000F7378332E73682EC9E7BBE1B1A3D5CF");  // sx3.sh.社会保障
  EXPECT_EQ(ICC_apdu_exchange(h, uint32_t(sel.size()), sel.data(), &len, out), 0x611Cu);
  EXPECT_EQ(len, 0u);
  Bytes gr = hx("00C000001C");
  ASSERT_EQ(ICC_apdu_exchange(h, uint32_t(gr.size()), gr.data(), &len, out), 0x9000u);
  ASSERT_EQ(len, 0x1Cu);
  EXPECT_EQ(vr::toHex(out, 4), "6F1A840F");
  // A 300-byte QR code comes back over five reports and is reassembled whole.
  std::string code(300, 'Q');
  ASSERT_EQ(vr.ctl("present text=" + code), "OK");
  EXPECT_EQ(xchg(NAD_BARCODE, "B0B0000300"), "9000:" + vr::toHex(Bytes(code.begin(), code.end())));
  // A 62-byte command crosses into a second report and still arrives whole.
  Bytes big = hx("00A404003900");
  big.resize(62, 0xAB);
  big[4] = 57;
  ICC_apdu_exchange(h, uint32_t(big.size()), big.data(), &len, out);
  EXPECT_EQ(exchangeLog(vr, 1).at(0).cmd, vr::toHex(big));
  // 2000 bytes take 33 reports: the sequence number wraps from 31 to 0 and
  // the reader still assembles the command (the card refuses its contents).
  Bytes huge(2000, 0x5A);
  huge[0] = 0x00;
  EXPECT_EQ(ICC_apdu_exchange(h, uint32_t(huge.size()), huge.data(), &len, out), 0x6D00u);
  EXPECT_EQ(exchangeLog(vr, 1).at(0).cmd.substr(0, 12), "005A5A5A5A5A");
}

TEST_F(HidlinkOnVreader, KeypadReturnsTheTypedKeysFramedByCountAndEnter) {
  ASSERT_EQ(vr.ctl("keys 1234"), "OK");
  EXPECT_EQ(xchg(NAD_SYSTEM, "00F9080A03001B49"), "9000:04313233340D");
  // Nobody types: the reader's own time-out word after the (scaled) wait.
  EXPECT_EQ(xchg(NAD_SYSTEM, "00F9080A03001B49"), "6902:");
  EXPECT_EQ(xchg(NAD_SYSTEM, "B0F90000 0183"), "9000:");
}

TEST_F(HidlinkOnVreader, InjectedFaultsShowAsTheDriverStatusWords) {
  HV_set_nad(h, NAD_ICCARD);
  uint8_t out[HV_MAX_REPLY_DATA];
  uint32_t len = 0;
  ASSERT_EQ(ICC_reset(h, &len, out), 0x9000u);

  // A chosen status word comes through unchanged.
  ASSERT_EQ(vr.ctl("fault sw 6A82 nad=0x12"), "OK");
  Bytes ch = hx("0084000008");
  EXPECT_EQ(ICC_apdu_exchange(h, uint32_t(ch.size()), ch.data(), &len, out), 0x6A82u);
  EXPECT_EQ(len, 0u);

  // A broken sequence number and a short report are failed receives.
  ASSERT_EQ(vr.ctl("fault garble nad=0x12"), "OK");
  EXPECT_EQ(ICC_apdu_exchange(h, uint32_t(ch.size()), ch.data(), &len, out), 0xFFFFu);
  ASSERT_EQ(vr.ctl("fault short nad=0x12"), "OK");
  EXPECT_EQ(ICC_apdu_exchange(h, uint32_t(ch.size()), ch.data(), &len, out), 0xFFFFu);
  // The next command is answered normally.
  EXPECT_EQ(ICC_apdu_exchange(h, uint32_t(ch.size()), ch.data(), &len, out), 0x9000u);
  EXPECT_EQ(len, 8u);

  // No answer at all: 0xFFFF once the command's limit (1 s here) has run out.
  ASSERT_EQ(vr.ctl("fault noanswer nad=28"), "OK");
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Barcode_set_interval(h, 50), 0xFFFFu);
  double took = secondsOf(t0);
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 3.0);
  // An answer that comes after the limit is not taken for the reply of the
  // next command (which has data, unlike the late one).
  ASSERT_EQ(vr.ctl("fault delay 1500 nad=28"), "OK");
  EXPECT_EQ(Barcode_set_interval(h, 60), 0xFFFFu);
  usleep(1000 * 1000);
  uint8_t version[HV_MAX_REPLY_DATA];
  ASSERT_EQ(HV_get_application_version(h, &len, version), 0x9000u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(version), len), "VREADER-FW 1.4.0");
}

TEST_F(HidlinkOnVreader, StripeSwipeAndTrackData) {
  ASSERT_EQ(vr.ctl("swipe bank"), "OK");
  ASSERT_EQ(Magcard_start_swip(h, 20), 0x9000u);
  uint8_t out[HV_MAX_REPLY_DATA];
  uint32_t len = 0;
  ASSERT_EQ(Magcard_get_track_data(h, 2, &len, out), 0x9000u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), len), ";6222020012345671=30122201234567890");
  ASSERT_EQ(Magcard_get_track_data(h, 3, &len, out), 0x9000u);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(Magcard_clear_data(h), 0x9000u);
  EXPECT_EQ(commandsSent(vr), (std::vector<std::string>{"26:0019060100", "26:0019201400", "26:00B0020000",
                                                        "26:00B0030000", "26:0019210000"}));
  // No swipe within the (scaled) wait: the reader's time-out word.
  EXPECT_EQ(Magcard_start_swip(h, 5), 0x6902u);
}

TEST_F(HidlinkOnVreader, QrScannerIntervalAndScan) {
  ASSERT_EQ(Barcode_set_interval(h, 50), 0x9000u);
  EXPECT_EQ(exchangeLog(vr, 1).at(0).cmd,
            "B0D0000000" + vr::toHex(reinterpret_cast<const uint8_t*>("FP-3N010=0050;"), 14));
  ASSERT_EQ(Barcode_set_interval(h, 123456), 0x9000u);
  EXPECT_NE(vr.ctl("state").find("\"interval\":9999"), std::string::npos);

  ASSERT_EQ(vr.ctl("present ecard"), "OK");
  uint8_t out[HV_MAX_REPLY_DATA];
  uint32_t len = 0;
  ASSERT_EQ(Barcode_start_scan(h, &len, out, 5), 0x9000u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), len), "SIECARD:110105199003072813:20261207:0123456789ABCDEF");
  EXPECT_EQ(exchangeLog(vr, 1).at(0).cmd, "00B0000500");
  EXPECT_EQ(Barcode_start_scan(h, &len, out, 3), 0x6902u);
}

namespace {
std::string member(cJSON* o, const char* k) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, k);
  return cJSON_IsString(v) ? v->valuestring : "<missing>";
}
}  // namespace

TEST_F(HidlinkOnVreader, IdCardReadSendsTheSamFramesAndDecodesTheText) {
  static uint8_t json[HV_IDCARD_JSON_SIZE];
  uint32_t len = 0;
  ASSERT_EQ(Idcard_read_information(h, &len, json), 0x9000u);
  EXPECT_EQ(commandsSent(vr), (std::vector<std::string>{"27:0012000000", "27:AAAAAA9669000312FFEE00",
                                                        "27:AAAAAA9669000320012200", "27:AAAAAA9669000320022100",
                                                        "27:AAAAAA9669000330013200"}));
  ASSERT_EQ(len, strlen(reinterpret_cast<char*>(json)));
  cJSON* o = cJSON_Parse(reinterpret_cast<char*>(json));
  ASSERT_NE(o, nullptr) << json;
  EXPECT_EQ(member(o, "name"), "李四");
  EXPECT_EQ(member(o, "sex"), "男");
  EXPECT_EQ(member(o, "nations"), "汉族");
  EXPECT_EQ(member(o, "birthday"), "19920228");
  EXPECT_EQ(member(o, "address"), "广东省深圳市南山区科技园路1号");
  EXPECT_EQ(member(o, "id_num"), "440305199202284568");
  EXPECT_EQ(member(o, "department"), "深圳市公安局南山分局");
  EXPECT_EQ(member(o, "startDate"), "20200101");
  EXPECT_EQ(member(o, "endDate"), "20300101");
  std::string img = member(o, "ImgBase64");
  uint8_t photo[1100];
  EXPECT_EQ(base64_decode(img.c_str(), uint32_t(img.size()), photo, sizeof photo), 1024);
  cJSON_Delete(o);
}

TEST(HidlinkIdCard, PhotoBytesSexNationAndUntrimmedDatesAsTheCardHoldsThem) {
  VreaderProcess vr;
  ASSERT_TRUE(vr.start(std::string(getenv("HW_SOURCE_DIR")) + "/tests/sim_hidlink/idcard_photo.json", "hid"));
  void* h = HV_open("hid1", 0, nullptr);
  ASSERT_NE(h, HV_INVALID_HANDLE);
  static uint8_t json[HV_IDCARD_JSON_SIZE];
  uint32_t len = 0;
  uint32_t sw = Idcard_read_information(h, &len, json);
  // After the read the node address stays at the ID-card module.
  Bytes probe = hx("0012000000");
  uint8_t out[HV_MAX_REPLY_DATA];
  uint32_t plen = 0;
  EXPECT_EQ(ICC_apdu_exchange(h, 5, probe.data(), &plen, out), 0x9000u);
  EXPECT_EQ(exchangeLog(vr, 1).at(0).nad, 27);
  HV_close(h);
  ASSERT_EQ(sw, 0x9000u);
  cJSON* o = cJSON_Parse(reinterpret_cast<char*>(json));
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(member(o, "name"), "周九");
  EXPECT_EQ(member(o, "sex"), "未说明");
  EXPECT_EQ(member(o, "nations"), "其他");
  EXPECT_EQ(member(o, "endDate"), "长期      ");  // dates are not trimmed
  std::string img = member(o, "ImgBase64");
  uint8_t photo[1100];
  ASSERT_EQ(base64_decode(img.c_str(), uint32_t(img.size()), photo, sizeof photo), 1024);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(photo[i], uint8_t(i * 7 + 3)) << "photo byte " << i;
  cJSON_Delete(o);
}

TEST_F(HidlinkOnVreader, IdCardFailuresGiveTheDriverWords) {
  static uint8_t json[HV_IDCARD_JSON_SIZE];
  uint32_t len = 0;
  ASSERT_EQ(vr.ctl("fault sw 6A82 nad=27"), "OK");
  EXPECT_EQ(Idcard_read_information(h, &len, json), 0x6200u);  // module does not power up
  EXPECT_EQ(commandsSent(vr).size(), 1u);
  ASSERT_EQ(vr.ctl("remove idcard"), "OK");
  ASSERT_EQ(vr.ctl("clearlog"), "OK");
  EXPECT_EQ(Idcard_read_information(h, &len, json), 0xFFFFu);  // no card: the find step fails
  auto log = exchangeLog(vr);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2].reply.substr(log[2].reply.size() - 4), "6F80");
}

// Card X read, then card Y failing at each step in turn: the failed read
// writes nothing, so no byte of X can reach its output.
TEST_F(HidlinkOnVreader, SecondIdCardFailingAtEachStepShowsNothingOfTheFirst) {
  const struct {
    const char* fault;
    uint32_t sw;
  } table[] = {
      {"fault sw 6A82 nad=27 cmd=0012", 0x6200u},
      {"fault sw 6A82 nad=27 cmd=AAAAAA9669000312", 0xFFFFu},
      {"fault sw 6A82 nad=27 cmd=AAAAAA966900032001", 0xFFFFu},
      {"fault sw 6A82 nad=27 cmd=AAAAAA966900032002", 0xFFFFu},
      {"fault sw 6A82 nad=27 cmd=AAAAAA966900033001", 0xFFFFu},
      {"fault sw 6F41 nad=27 cmd=AAAAAA966900033001", 0xFFFFu},
      {"fault garble nad=27 cmd=AAAAAA966900033001", 0xFFFFu},
      {"fault cut 9 nad=27 cmd=AAAAAA966900033001", 0xFFFFu},
  };
  static uint8_t first[HV_IDCARD_JSON_SIZE], second[HV_IDCARD_JSON_SIZE];
  for (const auto& c : table) {
    SCOPED_TRACE(c.fault);
    uint32_t len = 0;
    ASSERT_EQ(vr.ctl("insert idcard id_li"), "OK");
    ASSERT_EQ(Idcard_read_information(h, &len, first), 0x9000u);
    ASSERT_NE(strstr(reinterpret_cast<char*>(first), "440305199202284568"), nullptr);
    ASSERT_EQ(vr.ctl("insert idcard id_long"), "OK");
    ASSERT_EQ(vr.ctl(c.fault), "OK");
    memset(second, 0xEE, sizeof second);
    len = 0xDEAD;
    EXPECT_EQ(Idcard_read_information(h, &len, second), c.sw);
    EXPECT_EQ(len, 0xDEADu);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(second), sizeof second), std::string(sizeof second, '\xEE'));
    ASSERT_EQ(vr.ctl("fault clear"), "OK");
  }
}
