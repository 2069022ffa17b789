// One ID card read, then another whose read fails at each step in turn:
// the failed read writes nothing, so nothing of the first card can show.
#include "hub_fixture.h"

namespace {

struct Failure {
  const char* fault;  // vreaderctl line
  int rc;
  const char* msg;
};

// The USB-HID family closes the reader after each read; the vendor one keeps it.
void reopen(HubTest& t) {
  if (DevType == PORTICO_DEV_HID) ASSERT_EQ(OpenDev(nullptr, nullptr, t.msg), t.h);
}

void readThenFail(HubTest& t, const Failure& f) {
  SCOPED_TRACE(f.fault);
  IdOutputs first;
  ASSERT_EQ(t.vr.ctl("insert idcard id_rare"), "OK");
  reopen(t);
  ASSERT_EQ(first.read(t.h, t.msg), 0) << t.msg;
  ASSERT_EQ(first.texts()[5], "650102199507150025");

  ASSERT_EQ(t.vr.ctl("insert idcard id_full"), "OK");
  ASSERT_EQ(t.vr.ctl(f.fault), "OK");
  reopen(t);
  IdOutputs second('x');
  EXPECT_EQ(second.read(t.h, t.msg), f.rc);
  EXPECT_STREQ(t.msg, f.msg);
  for (const std::string& s : second.texts()) EXPECT_EQ(s, std::string(s.size(), 'x'));
  EXPECT_TRUE(second.guardsIntact());
  ASSERT_EQ(t.vr.ctl("fault clear"), "OK");
}

}  // namespace

TEST_F(HubTest, HidSecondIdCardFailingAtEachStepShowsNothingOfTheFirst) {
  open("hid");
  const char* step = "读取身份证失败!";
  const Failure table[] = {
      {"fault sw 6A82 nad=27 cmd=0012", -3, step},
      {"fault sw 6A82 nad=27 cmd=AAAAAA9669000312", -4, step},
      {"fault sw 6A82 nad=27 cmd=AAAAAA9669000461", -5, step},
      {"fault sw 6A82 nad=27 cmd=AAAAAA966900032001", -6, step},
      {"fault sw 6A82 nad=27 cmd=AAAAAA966900032002", -7, step},
      {"fault sw 6A82 nad=27 cmd=AAAAAA966900033001", -1, "读取身份证信息失败!"},
      {"fault cut 400 nad=27 cmd=AAAAAA966900033001", -1, "读取身份证信息失败!"},
      {"fault garble nad=27 cmd=AAAAAA966900033001", -1, "读取身份证信息失败!"},
  };
  for (const Failure& f : table) readThenFail(*this, f);
}

TEST_F(HubTest, VendorSecondIdCardFailingShowsNothingOfTheFirst) {
  open("dc");
  const Failure table[] = {
      {"fault sw 6F80 nad=27", -1, "身份证读取失败!"},
      {"fault short nad=27", -1, "身份证读取失败!"},
  };
  for (const Failure& f : table) readThenFail(*this, f);
}
