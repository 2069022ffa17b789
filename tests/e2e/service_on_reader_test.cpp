// What only the real program on the real libraries shows: config.ini beside
// the executable, a second instance that leaves the reader alone, and a
// reader session that a killed instance held.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "vreader_service.h"

namespace e2e {
namespace {

const Fields kRegion = {{"Region", "440100"}};

class ServiceOnReader : public ServiceOnVreader {
 protected:
  std::string CardNoReply() {
    const Fields d = {{"CardNo", Card(profile_["slots"]["contact"].asString())["card_no"].asString()},
                      {"CardType", "2"}};
    return HttpOk(Reply("DKQ0001", 0, "", &d, kRegion));
  }
  bool WaitForScannerWait() {
    for (int i = 0; i < 150; i++) {
      if (ctl("state").find("\"waiting\":\"scan\"") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};

TEST_F(ServiceOnReader, PsamSlotFoundBySearchIsWrittenToTheConfigBesideTheProgram) {
  const std::string ini = ProgramDir() + "/config.ini";
  hwtest::WriteFile(ini, "[Set]\nPSAM=23\n");
  ASSERT_EQ(ctl("remove psam1"), "OK");
  ASSERT_EQ(ctl("insert psam4 psam"), "OK");
  const std::string reply = HttpCall(Request("DKQ0002", kRegion));
  EXPECT_NE(reply.find("\"ResultCode\":0,"), std::string::npos) << reply;
  // The tool unit writes the key back as "key= value".
  EXPECT_EQ(hwtest::ReadFile(ini), "[Set]\nPSAM= 25\n");
  EXPECT_NE(svc_->Stdout().find("路径为:" + ini + "  PSAM卡槽为:23\n"), std::string::npos) << svc_->Stdout();
  // The next read starts at the slot written back.
  ASSERT_EQ(ctl("clearlog"), "OK");
  EXPECT_NE(HttpCall(Request("DKQ0002", kRegion)).find("\"ResultCode\":0,"), std::string::npos);
  const std::vector<std::string> cmds = WireCommands(vr_);
  bool resetOtherPsam = false;
  for (const std::string &c : cmds)
    if (c == "16 0012000000" || c == "17 0012000000" || c == "18 0012000000") resetOtherPsam = true;
  EXPECT_FALSE(resetOtherPsam);
  EXPECT_NE(std::find(cmds.begin(), cmds.end(), "19 0012000000"), cmds.end());
}

TEST_F(ServiceOnReader, SecondInstanceExitsWithZeroAndLeavesTheReaderAlone) {
  ASSERT_EQ(ctl("clearlog"), "OK");
  auto second = Launch();
  int status = -1;
  ASSERT_TRUE(second->Wait(20000, &status));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << second->Stderr();
  EXPECT_EQ(second->Stdout(), std::string(kAlreadyRunning) + "\n");
  EXPECT_EQ(ctl("log"), "OK []");
  EXPECT_EQ(HttpCall(Request("DKQ0001", kRegion)), CardNoReply());
}

TEST_F(ServiceOnReader, InstanceAfterOneKilledInsideACardOperationReadsCards) {
  // The first instance is inside a QR wait, holding the reader, when it dies.
  auto c = hwtest::Conn::Open(kPort);
  ASSERT_TRUE(c);
  c->Send(hwtest::PostRequest("/http/hardware",
                              Request("DKQ0011", {{"Region", "440100"}, {"Timeout", "60"}})));
  ASSERT_TRUE(WaitForScannerWait());
  svc_->Signal(SIGKILL);
  ASSERT_TRUE(svc_->Wait(5000, nullptr));
  EXPECT_EQ(c->ReadQuiet(100, 1000), "");
  EXPECT_TRUE(hwtest::PortFree(kPort));
  // The reader dropped the dead session's wait.
  EXPECT_NE(ctl("state").find("\"waiting\":\"none\""), std::string::npos) << ctl("state");

  svc_ = LaunchServing();
  EXPECT_EQ(svc_->Stdout().find(kAlreadyRunning), std::string::npos);
  EXPECT_EQ(HttpCall(Request("DKQ0001", kRegion)), CardNoReply());
  // And the scanner answers the new instance.
  ASSERT_EQ(ctl("present text=AFTER-RESTART"), "OK");
  const Fields tran = {{"Region", "440100"}, {"Timeout", "10"}};
  const Fields d = {{"ECardInfo", "AFTER-RESTART"}};
  EXPECT_EQ(HttpCall(Request("DKQ0011", tran)), HttpOk(Reply("DKQ0011", 0, "", &d, tran)));
}

}  // namespace
}  // namespace e2e
