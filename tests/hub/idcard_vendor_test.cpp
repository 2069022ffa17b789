// IDCard_Read on the vendor family: the SDK reads and parses; the hub picks
// the card type at byte 248 and bounds every field to the caller's buffer.
#include "hub_fixture.h"

namespace {

struct VendorIdCard : HubTest {
  void SetUp() override { open("dc"); }
};

}  // namespace

TEST_F(VendorIdCard, ResidentCardFillsAllNineFieldsWithTranslatedSexAndNation) {
  IdOutputs o;
  ASSERT_EQ(o.read(h, msg), 0) << msg;
  EXPECT_EQ(o.texts(), (std::vector<std::string>{"热依拉·买买提𠮷䶮", "女", "维吾尔族", "19950715",
                                                 "新疆乌鲁木齐市天山区解放南路１２号（集体户）", "650102199507150025",
                                                 "乌鲁木齐市公安局天山分局", "20190301", "20390301"}));
  EXPECT_TRUE(o.guardsIntact());
  EXPECT_EQ(commandsSent(vr), std::vector<std::string>{"27:06"});  // one whole read by the SDK
  EXPECT_EQ(clients(vr, "dc"), 1);  // the reader stays open
  EXPECT_EQ(o.read(h, msg), 0);
}

TEST_F(VendorIdCard, LongFieldsAreCutAtUtf8CharacterBoundaries) {
  ASSERT_EQ(vr.ctl("insert idcard id_full"), "OK");
  IdOutputs o('x');
  ASSERT_EQ(o.read(h, msg), 0) << msg;
  auto t = o.texts();
  EXPECT_EQ(t[0], "欧阳诸葛司马上官东方西门南宫北");
  EXPECT_EQ(t[1], "未知");
  EXPECT_EQ(t[2], "其他");
  EXPECT_EQ(t[5], "中华人民共和国居民身");  // 10 ideographs: 30 of 31 bytes
  EXPECT_EQ(t[8], "长期");
  EXPECT_TRUE(o.guardsIntact());
}

TEST_F(VendorIdCard, ForeignerCardFillsTheCorrespondingFields) {
  ASSERT_EQ(vr.ctl("insert idcard id_foreign"), "OK");
  IdOutputs o;
  ASSERT_EQ(o.read(h, msg), 0) << msg;
  EXPECT_EQ(o.texts(), (std::vector<std::string>{"约翰", "男", "美国", "19900101", "", "USA110019900101", "1500",
                                                 "20200101", "20300101"}));
  // Without a Chinese name the English one is used, cut to the buffer.
  ASSERT_EQ(vr.ctl("insert idcard id_foreign_long"), "OK");
  IdOutputs l;
  ASSERT_EQ(l.read(h, msg), 0) << msg;
  EXPECT_EQ(l.texts()[0], std::string("ABDULLAH MUHAMMAD IBN RASHID AL MAKTOUM OF THE SEVEN EMIRATE")
                              .substr(0, PORTICO_ID_NAME_SIZE - 1));
  EXPECT_EQ(l.texts()[1], "女");
  EXPECT_EQ(l.texts()[2], "英国");
  EXPECT_TRUE(l.guardsIntact());
}

TEST_F(VendorIdCard, HongKongMacaoTaiwanCardHasNoNation) {
  ASSERT_EQ(vr.ctl("insert idcard id_hk"), "OK");
  IdOutputs o('x');
  ASSERT_EQ(o.read(h, msg), 0) << msg;
  EXPECT_EQ(o.texts(), (std::vector<std::string>{"陈大文", "男", "", "19851010", "", "810000198510100012",
                                                 "公安部出入境管理局", "20200101", "20250101"}));
}

TEST_F(VendorIdCard, NoCardGivesMinus1WithItsMessageAndWritesNothing) {
  ASSERT_EQ(vr.ctl("remove idcard"), "OK");
  IdOutputs o('x');
  EXPECT_EQ(o.read(h, msg), -1);
  EXPECT_STREQ(msg, "身份证读取失败!");
  for (const std::string& s : o.texts()) EXPECT_EQ(s, std::string(s.size(), 'x'));
}
