// The service on both reader families with a social-security card only on
// the contactless antenna, and on a reader another program holds for a
// while: the exact replies, no restart of the service.
#include <sys/socket.h>
#include <unistd.h>

#include "vreader_service.h"

namespace e2e {
namespace {

const Fields kRegion = {{"Region", "440100"}};

std::string Upper(std::string s) {
  for (char &c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

class ReaderAccess : public ServiceOnVreader {
 protected:
  void Expect(const std::string &funId, int code, const std::string &text, const Fields *data) {
    EXPECT_EQ(HttpCall(Request(funId, kRegion)), HttpOk(Reply(funId, code, text, data, kRegion))) << funId;
  }
  Fields CardNo() {
    const Json::Value &ss = Card("ss3");
    return {{"CardNo", ss["card_no"].asString()}, {"CardType", "2"}};
  }

  // Another program takes the reader's USB-HID session; -1 when refused.
  int Hold() {
    int fd = vr::connectTo(vr_.socket);
    std::string hello = "HELLO hid\n", reply;
    if (fd < 0 || !vr::writeAll(fd, hello.data(), hello.size()) || !vr::readLine(fd, reply, 100, 2000) ||
        reply.compare(0, 6, "OK hid") != 0) {
      if (fd >= 0) close(fd);
      return -1;
    }
    return fd;
  }
};

TEST_F(ReaderAccess, CardOnlyOnTheAntennaIsReadOnBothFamilies) {
  const Json::Value &ss = Card("ss3");
  const std::string certId = Upper(ss["cert_id"].asString());
  const std::string sex = ss["sex"].asString();
  const Fields basic = {{"Address", ss["birth_place"].asString()},
                        {"Birthday", ss["birth_date"].asString()},
                        {"CardNo", ss["card_no"].asString()},
                        {"CardType", ss["card_type"].asString()},
                        {"Company", ""},
                        {"ID", ss["social_no"].asString()},
                        {"IDType", "01"},
                        {"IssueDate", ss["issue_date"].asString()},
                        {"IssueDeptID", Upper(ss["init_org"].asString())},
                        {"Name", ss["name"].asString()},
                        {"Sex", sex == "1" ? "男" : "女"},
                        {"Telephone", ""}};
  const Fields certNo = {{"CardCertID", certId}, {"CardNo", ss["card_no"].asString()}, {"CardType", "2"}};
  const Fields city = {{"City", certId.substr(0, 6)}};
  ASSERT_EQ(ctl("remove contact"), "OK");
  ASSERT_EQ(ctl("insert contactless ss3"), "OK");
  for (const char *family : {"hid", "dc"}) {
    SCOPED_TRACE(family);
    // The service keeps a reader it read a card on open: a fresh one per family.
    Quit(*svc_);
    ASSERT_EQ(ctl(std::string("family ") + family), "OK");
    svc_ = LaunchServing();
    ASSERT_EQ(ctl("clearlog"), "OK");
    const Fields no = CardNo();
    Expect("DKQ0001", 0, "", &no);
    Expect("DKQ0002", 0, "", &basic);
    Expect("DKQ0003", 0, "", &certNo);
    Expect("DKQ0004", 0, "", &city);
    if (std::string(family) == "hid") {
      // The contact slot is tried first, then the antenna is reset.
      const std::vector<std::string> cmds = WireCommands(vr_);
      ASSERT_GE(cmds.size(), 2u);
      EXPECT_EQ(cmds[0], "12 0012000000");
      EXPECT_EQ(cmds[1], "15 0012000000");
    }
  }
}

TEST_F(ReaderAccess, ReaderHeldByAnotherProgramIsUsedOnceItIsLetGo) {
  const std::string none = "未找到设备!";
  const Fields no = CardNo();
  for (bool replug : {false, true}) {
    SCOPED_TRACE(replug ? "let go by an unplug and plug" : "let go");
    // Held from before the service starts.
    Quit(*svc_);
    int other = Hold();
    ASSERT_GE(other, 0);
    svc_ = LaunchServing();
    Expect("DKQ0001", -1, none, nullptr);
    Expect("DKQ0001", -1, none, nullptr);
    if (replug) {
      // Unplugging drops the other program's session; no request in between.
      ASSERT_EQ(ctl("unplug"), "OK");
      ASSERT_EQ(ctl("plug"), "OK");
    }
    close(other);
    Expect("DKQ0001", 0, "", &no);
    Expect("DKQ0001", 0, "", &no);
  }
  EXPECT_TRUE(svc_->Running());
}

}  // namespace
}  // namespace e2e
