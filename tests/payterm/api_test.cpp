// The shared library as hosts see it: the names it exports (plain for the
// device operations, decorated for dc_ and IC_) and one exchange through
// the .so itself.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "payterm.h"
#include "pty_peer.h"

namespace {

TEST(Exports, DeviceOperationsCarryPlainNames) {
  const char* plain[] = {"SDANDC_Device_Reset",     "SDANDC_Device_CardConfig", "SDANDC_Device_SetCpu",
                         "SDANDC_Device_CpuReset",  "SDANDC_Device_Cpuapdu",    "SDANDC_Device_FindCard",
                         "SDANDC_Device_CardReset", "SDANDC_Device_CardApdu",   "Dc_T10N_IC_PowerUp",
                         "Dc_T10N_RF_PowerUp",      "Dc_T10N_IC_PowerDown",     "Dc_T10N_RF_PowerDown",
                         "Dc_T10N_APDU",            "Dc_T10N_PackAndWriteData", "Dc_T10N_ReadData",
                         "Dc_WriteDev",             "g_TIMEOUT_ALL_ComRead"};
  for (const char* name : plain) EXPECT_NE(nullptr, dlsym(RTLD_DEFAULT, name)) << name;
}

TEST(Exports, ReaderCommandSetsCarryDecoratedNamesOnly) {
  const char* not_plain[] = {"dc_init", "dc_cpuapdu", "IC_InitComm", "IC_CpuApdu", "send_cmd",
                             "asyn_open", "DC_command", "ComRead"};
  for (const char* name : not_plain) EXPECT_EQ(nullptr, dlsym(RTLD_DEFAULT, name)) << name;
  const char* decorated[] = {
      "_Z7dc_initil",                     // dc_init(int, long)
      "_Z10dc_cpuapduimPKhPmPh",          // dc_cpuapdu(int, unsigned long, ...)
      "_Z11IC_InitCommPKc",               // IC_InitComm(const char*)
      "_Z18IC_Pro_CommandlinkimPKhPmPhhh",
      "_Z8send_cmdihhPKh",
      "_Z10DC_commandihPKhiPhPi",
  };
  for (const char* name : decorated) EXPECT_NE(nullptr, dlsym(RTLD_DEFAULT, name)) << name;
}

TEST(Exports, InternalsStayHidden) {
  EXPECT_EQ(nullptr, dlsym(RTLD_DEFAULT, "_ZN7payterm7dc_sendEihhPKh"));
  EXPECT_EQ(nullptr, dlsym(RTLD_DEFAULT, "_ZN7payterm14g_link_timingE"));
}

TEST(Library, SdandcExchangeThroughTheSharedObject) {
  PtyPair pty;
  std::string req;
  {
    PeerThread peer([&] {
      Bytes r = pty.read_exactly(11);
      req.assign(r.begin(), r.end());
      const std::string reply = "D&C0006009090";  // status 00, data 90, check 90
      pty.write(Bytes(reply.begin(), reply.end()));
    });
    unsigned char out[2048];
    int n = 0;
    EXPECT_EQ(0, DC_command(pty.slave(), 0x40, nullptr, 0, out, &n));
    EXPECT_EQ(1, n);
    EXPECT_EQ(0x90, out[0]);
  }
  EXPECT_EQ("D&C00044040", req);
}

}  // namespace
