// The photo record of an ID card read: where the USB-HID read reply carries
// it, and the vendor SDK's photo length, against a scripted SDK.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fake_dcrf32.h"
#include "id_text.h"
#include "portico.h"

namespace {

// A read reply with text length t and photo length p in its header and
// `size` bytes in all; byte i holds i.
std::vector<uint8_t> reply(unsigned t, unsigned p, size_t size) {
  std::vector<uint8_t> r(std::max<size_t>(size, 14));
  for (size_t i = 0; i < r.size(); ++i) r[i] = uint8_t(i);
  r[10] = uint8_t(t >> 8), r[11] = uint8_t(t), r[12] = uint8_t(p >> 8), r[13] = uint8_t(p);
  r.resize(size);  // a reply cut inside its header
  return r;
}

TEST(HidPhoto, TheRecordFollowsTheTextBlockAndMustLieInsideTheReply) {
  struct Case {
    unsigned text, photo;
    size_t size;
    bool ok;
  };
  const Case cases[] = {
      {256, 1024, 14 + 256 + 1024 + 1, true},   // as cards answer, with the checksum
      {256, 1024, 14 + 256 + 1024, true},       // ends exactly at the reply's end
      {256, 1024, 14 + 256 + 1023, false},      // one byte past it
      {256, 1025, 14 + 256 + 1025, false},      // larger than the caller's buffer
      {0xFFFF, 1024, 2000, false},              // text length past the reply
      {100, 200, 14 + 100 + 200, true},         // the lengths the header gives, whatever they are
      {256, 0, 14 + 256, true},                 // no photo at all
      {256, 1024, 13, false},                   // not even a header
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << "/" << c.photo << "/" << c.size);
    const std::vector<uint8_t> r = reply(c.text, c.photo, c.size);
    portico::IdPhoto p;
    std::memset(&p, 0x5A, sizeof p);
    ASSERT_EQ(portico::takeIdPhoto(r.data(), r.size(), p), c.ok);
    if (!c.ok) {
      EXPECT_EQ(p.bytes[0], 0x5A);
      continue;
    }
    ASSERT_EQ(p.len, c.photo);
    EXPECT_TRUE(std::equal(p.bytes, p.bytes + c.photo, r.begin() + 14 + c.text));
  }
}

TEST(VendorPhoto, SdkPhotoLengthAboveTheBufferFailsAndWritesNothing) {
  DevType = PORTICO_DEV_VENDOR;
  for (unsigned len : {1024u, 1025u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(len);
    fake_dc::reset();
    fake_dc::photoLen = len;
    fake_dc::parsed[0] = "张三";
    char name[PORTICO_ID_NAME_SIZE];
    std::memset(name, 'x', sizeof name);
    unsigned char photo[PORTICO_ID_PHOTO_SIZE + 8];
    std::memset(photo, 0xEE, sizeof photo);
    int photoLen = -7;
    char msg[PORTICO_MSG_SIZE] = "";
    const int rc = IDCard_ReadPhoto(3, name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    photo, &photoLen, msg);
    EXPECT_EQ(photo[PORTICO_ID_PHOTO_SIZE], 0xEE);  // never past the documented size
    if (len == 1024) {
      ASSERT_EQ(rc, 0) << msg;
      EXPECT_STREQ(name, "张三");
      EXPECT_EQ(photoLen, 1024);
      EXPECT_EQ(photo[1023], uint8_t(1023));
      continue;
    }
    EXPECT_EQ(rc, -1);
    EXPECT_STREQ(msg, "身份证读取失败!");
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(photo[0], 0xEE);
    EXPECT_EQ(photoLen, -7);
  }
}

}  // namespace
