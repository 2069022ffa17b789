// The Device table on its own: which device types each operation serves,
// and the operations the dialogues do not reach.
#include <gtest/gtest.h>

#include "device.h"
#include "globals.h"
#include "payterm.h"
#include "ptcard.h"

using payterm::Device;

namespace {

class DeviceTable : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_payterm_state();
    ptcard::reset();
  }
  void TearDown() override {
    d_.Device_FreeDrive();
    reset_payterm_state();
  }
  void load(int type, const char* path) {
    g_DEVTYPE = type;
    snprintf(g_DEVICE_DRV_PATH, sizeof g_DEVICE_DRV_PATH, "%s", path);
    ASSERT_EQ(0, d_.Device_LoadDrive());
  }
  Device d_;
};

TEST_F(DeviceTable, TypesOutsideAnOperationGetMinus100) {
  unsigned long n = 0;
  unsigned char buf[PAYTERM_APDU_RESP_MAX], b = 0;
  for (int type : {0, 5, 6, 7}) {
    g_DEVTYPE = type;
    EXPECT_EQ(-100, d_.Device_LoadDrive()) << type;
    EXPECT_EQ(-100, d_.Device_Open(1, 9600));
    EXPECT_EQ(-100, d_.Device_Close(7));
    EXPECT_EQ(-100, d_.Device_Beep(7, 10));
    EXPECT_EQ(-100, d_.Device_CheckIc(7));
    EXPECT_EQ(-100, d_.Device_SetCpuPara(7, 12, 0, 92));
    EXPECT_EQ(-100, d_.Device_CardConfig(7, 'A'));
  }
  // Operations that belong to one dc_ variant refuse the other.
  g_DEVTYPE = 1;
  EXPECT_EQ(-100, d_.Device_Reset(7, static_cast<unsigned short>(2)));
  EXPECT_EQ(-100, d_.Device_FindCard(7, static_cast<unsigned char>(0), &n));
  EXPECT_EQ(-100, d_.Device_CpuReset(7, &b, buf));
  EXPECT_EQ(-100, d_.Device_CardApdu(7, static_cast<unsigned char>(5), buf, &b, buf, 7, 56));
  g_DEVTYPE = 2;
  EXPECT_EQ(-100, d_.Device_Reset(7));
  EXPECT_EQ(-100, d_.Device_FindCard(7, &n, buf));
  EXPECT_EQ(-100, d_.Device_Cpuapdu(7, 12, 5, buf, &n, buf, 0));
  EXPECT_EQ(-100, d_.Device_CardApdu(7, 5ul, buf, &n, buf, 7, 56));
  EXPECT_EQ(-100, d_.Device_CpuReset(7, 3, 1, 2, &n, buf, &n));
}

TEST_F(DeviceTable, NoDriverLoadedFindsNoEntryPoint) {
  g_DEVTYPE = 2;
  EXPECT_EQ(-103, d_.Device_Open(1, 9600));
  EXPECT_EQ(-103, d_.Device_Beep(7, 10));
  EXPECT_EQ(0, d_.Device_CardConfig(7, 'A'));  // optional entry point
  EXPECT_TRUE(ptcard::calls().empty());
}

TEST_F(DeviceTable, BeepAndTheOperationsSomeTypesLeaveOut) {
  load(2, PTDRV_DC2);
  EXPECT_EQ(0, d_.Device_Beep(7, 300));
  ptcard::fail("dc_beep", 4);
  EXPECT_EQ(4, d_.Device_Beep(7, 300));  // the driver's result
  EXPECT_EQ(0, d_.Device_CheckIc(7));
  EXPECT_EQ((std::vector<std::string>{"dc_beep(7,300)", "dc_beep(7,300)"}), ptcard::calls());
  d_.Device_FreeDrive();
  EXPECT_FALSE(d_.loaded());
  load(3, PTDRV_IC);
  EXPECT_EQ(0, d_.Device_Beep(7, 300));
  EXPECT_EQ(0, d_.Device_SetCpuPara(7, 12, 0, 92));
  EXPECT_EQ(0, d_.Device_Reset(7));
  EXPECT_EQ(-100, d_.Device_CardConfig(7, 'A'));
  EXPECT_EQ(2u, ptcard::calls().size());  // nothing reached the IC_ driver
  load(1, PTDRV_DC1);
  EXPECT_EQ(0, d_.Device_SetCpuPara(7, 12, 0, 92));
  EXPECT_EQ(0, d_.Device_CheckIc(7));
  EXPECT_EQ(2u, ptcard::calls().size());
}

}  // namespace
