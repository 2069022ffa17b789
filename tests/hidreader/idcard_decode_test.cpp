// ID-card reply decoding, base64, hex text and the crypto entry points.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <cstring>

#include "hidlink_internal.h"
#include "idcard_reply.h"

namespace {

struct Decoded {
    int rc;
    std::string json;
};

Decoded decode(const Bytes &data, size_t cap = HV_IDCARD_JSON_SIZE)
{
    std::vector<uint8_t> out(cap + 16, 0xEE);
    uint32_t len = 0xDEAD;
    int rc = Idcard_decode(static_cast<uint32_t>(data.size()), data.data(), &len, out.data(), cap);
    if (rc != 0)
        return {rc, ""};
    EXPECT_EQ(out[len], 0);
    return {rc, std::string((char *)out.data(), len)};
}

std::string member(const std::string &json, const char *key)
{
    cJSON *root = cJSON_Parse(json.c_str());
    EXPECT_NE(root, nullptr) << json;
    if (!root)
        return "<no json>";
    cJSON *item = cJSON_GetObjectItemCaseSensitive(root, key);
    std::string v = cJSON_IsString(item) ? item->valuestring : "<missing>";
    cJSON_Delete(root);
    return v;
}

TEST(IdcardDecode, MembersInOrderWithoutBlanks)
{
    CardText t;
    t.name = u"  李四";  // leading blanks are trimmed too
    Decoded d = decode(read_data(text_block(t), Bytes{0xFF, 0x00, 0x7F}));
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.json,
              "{\"ImgBase64\":\"/wB/\",\"name\":\"李四\",\"sex\":\"男\",\"nations\":\"汉族\","
              "\"birthday\":\"19900101\",\"address\":\"北京市东城区景山前街4号\","
              "\"id_num\":\"11010119900101123X\",\"department\":\"北京市公安局东城分局\","
              "\"startDate\":\"20200101\",\"endDate\":\"20400101\"}");
}

TEST(IdcardDecode, SexCodes)
{
    const std::pair<std::u16string, std::string> cases[] = {
        {u"0", "未知"}, {u"1", "男"}, {u"2", "女"}, {u"9", "未说明"}, {u"3", ""}, {u" ", ""}};
    for (const auto &c : cases) {
        CardText t;
        t.sex = c.first;
        EXPECT_EQ(member(decode(read_data(text_block(t), {})).json, "sex"), c.second);
    }
}

TEST(IdcardDecode, NationCodes)
{
    const std::pair<std::u16string, std::string> cases[] = {
        {u"01", "汉族"},   {u"00", "  "},     {u"36", "毛难族"},  {u"46", "崩龙族"},
        {u"56", "基诺族"}, {u"97", "其他"},   {u"98", "外国血统中国人士"},
        {u"57", ""},       {u"96", ""},       {u"99", ""},        {u"ab", ""},
        {u"5", "维吾尔族"}};
    for (const auto &c : cases) {
        CardText t;
        t.nation = c.first;
        EXPECT_EQ(member(decode(read_data(text_block(t), {})).json, "nations"), c.second)
            << std::string(c.first.begin(), c.first.end());
    }
}

TEST(IdcardDecode, OnlyNameAddressAndDepartmentAreTrimmed)
{
    CardText t;
    t.name = u" 王 五 ";
    t.id_num = u" 1101";
    t.birthday = u"1990";
    t.department = u"  局";
    Decoded d = decode(read_data(text_block(t), {}));
    EXPECT_EQ(member(d.json, "name"), "王 五");
    EXPECT_EQ(member(d.json, "id_num"), " 1101             ");
    EXPECT_EQ(member(d.json, "birthday"), "1990    ");
    EXPECT_EQ(member(d.json, "department"), "局");
    EXPECT_EQ(member(d.json, "address"), "北京市东城区景山前街4号");
}

TEST(IdcardDecode, BlankFieldsGiveEmptyTexts)
{
    CardText t;
    t.name = u"";
    t.address = u"";
    Decoded d = decode(read_data(text_block(t), {}));
    EXPECT_EQ(member(d.json, "name"), "");
    EXPECT_EQ(member(d.json, "address"), "");
}

TEST(IdcardDecode, LengthsPastTheReplyGiveEmptyMembers)
{
    Bytes text = text_block(CardText());
    Bytes photo = counting(30);
    // Photo length one byte too long: text kept, photo empty.
    Bytes data = read_data(text, photo);
    data[3] = 31;
    Decoded d = decode(data);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(member(d.json, "ImgBase64"), "");
    EXPECT_EQ(member(d.json, "name"), "张三");
    // Text length past the reply: every member empty.
    data = read_data(text, photo);
    data[0] = 0x10;
    d = decode(data);
    ASSERT_EQ(d.rc, 0);
    for (const char *k : {"ImgBase64", "name", "sex", "nations", "birthday", "address", "id_num",
                          "department", "startDate", "endDate"})
        EXPECT_EQ(member(d.json, k), "") << k;
    // Fewer than four bytes.
    d = decode({0x00, 0x01});
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(member(d.json, "name"), "");
}

TEST(IdcardDecode, ShortTextBlockKeepsTheFieldsItHolds)
{
    Bytes text = text_block(CardText());
    text.resize(60);  // name, sex, nation, birthday; address cut
    Decoded d = decode(read_data(text, {}));
    EXPECT_EQ(member(d.json, "birthday"), "19900101");
    EXPECT_EQ(member(d.json, "address"), "");
    EXPECT_EQ(member(d.json, "endDate"), "");
}

TEST(IdcardDecode, UnconvertibleFieldDoesNotShowThePreviousField)
{
    CardText t;
    t.birthday = std::u16string(1, char16_t(0xD800)) + u"1990";  // lone surrogate
    testing::internal::CaptureStdout();
    Decoded d = decode(read_data(text_block(t), {}));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("iconv WCHAR_T->UTF8 error ", 0), 0u) << out;
    EXPECT_EQ(member(d.json, "birthday"), "");
    EXPECT_EQ(member(d.json, "address"), "北京市东城区景山前街4号");
}

TEST(IdcardDecode, TextThatDoesNotFitIsRefused)
{
    Decoded d = decode(read_data(text_block(CardText()), counting(900)), 1000);
    EXPECT_EQ(d.rc, -1);
}

TEST(Wstring2string, ConvertsUcs2LittleEndian)
{
    const char src[] = "\x2D\x4E\x87\x65" "A\0\0";  // 中文A
    char out[16];
    memset(out, 0x7F, sizeof(out));
    EXPECT_EQ(wstring2string(src, 8, out, sizeof(out)), 0);
    EXPECT_STREQ(out, "中文A");
    char tiny[4];
    memset(tiny, 0x7F, sizeof(tiny));
    testing::internal::CaptureStdout();
    EXPECT_EQ(wstring2string(src, 8, tiny, sizeof(tiny)), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "iconv WCHAR_T->UTF8 error Argument list too long 7\n");
    EXPECT_EQ(tiny[3], '\0');
}

TEST(Base64, EncodesStandardVectors)
{
    const std::pair<std::string, std::string> v[] = {{"", ""},         {"f", "Zg=="},
                                                     {"fo", "Zm8="},   {"foo", "Zm9v"},
                                                     {"foob", "Zm9vYg=="}, {"foobar", "Zm9vYmFy"}};
    for (const auto &c : v) {
        char *t = base64_encode((const uint8_t *)c.first.data(), c.first.size());
        EXPECT_STREQ(t, c.second.c_str());
        free(t);
        uint8_t out[8];
        EXPECT_EQ(base64_decode(c.second.c_str(), c.second.size(), out, sizeof(out)),
                  (int)c.first.size());
        EXPECT_EQ(std::string((char *)out, c.first.size()), c.first);
    }
}

TEST(Base64, RoundTripsEveryByte)
{
    Bytes all = counting(256);
    char *t = base64_encode(all.data(), all.size());
    uint8_t out[256];
    EXPECT_EQ(base64_decode(t, strlen(t), out, sizeof(out)), 256);
    EXPECT_EQ(Bytes(out, out + 256), all);
    EXPECT_EQ(base64_decode(t, strlen(t), out, 255), -1);  // does not fit
    free(t);
}

TEST(Base64, RejectsMalformedText)
{
    uint8_t out[16];
    for (const char *bad : {"Zg=", "Z===", "Zg=a", "Z=g=", "Zm9v!A==", "Zg==Zg==", "Zm 9"})
        EXPECT_EQ(base64_decode(bad, strlen(bad), out, sizeof(out)), -1) << bad;
    EXPECT_EQ(base64_decode(nullptr, 0, out, 1), -1);
}

TEST(Killblank, TrimsOnlyBlanks)
{
    char a[] = "  ab c  ";
    EXPECT_STREQ(killblank(a), "ab c");
    char b[] = "   ";
    char *r = killblank(b);
    EXPECT_EQ(*r, '\0');
    EXPECT_EQ(r, b + 3);
    char c[] = "\tx\t";
    EXPECT_STREQ(killblank(c), "\tx\t");
    EXPECT_EQ(killblank(nullptr), nullptr);
}

TEST(HexText, ParsesEitherCaseAndStopsAtNonHex)
{
    uint8_t bin[8];
    memset(bin, 0xEE, sizeof(bin));
    EXPECT_EQ(CHexToBin(bin, "1a2B", 4), bin);
    EXPECT_EQ(Bytes(bin, bin + 3), (Bytes{0x1A, 0x2B, 0x00}));

    memset(bin, 0xEE, sizeof(bin));
    CHexToBin(bin, "12G4", 4);
    EXPECT_EQ(Bytes(bin, bin + 3), (Bytes{0x12, 0xEE, 0x00}));

    memset(bin, 0xEE, sizeof(bin));
    CHexToBin(bin, "abc", 3);  // the odd digit is dropped by the terminator
    EXPECT_EQ(Bytes(bin, bin + 3), (Bytes{0xAB, 0x00, 0xEE}));
    EXPECT_EQ(CHexToBin(bin, nullptr, 2), nullptr);
}

TEST(HexText, FormatsUpperCase)
{
    char asc[8];
    memset(asc, 'x', sizeof(asc));
    const uint8_t b[] = {0x00, 0xAF, 0x5C};
    EXPECT_EQ(BinToCHex(asc, b, 3), asc);
    EXPECT_STREQ(asc, "00AF5C");
    EXPECT_EQ(BinToCHex(asc, b, 0), asc);
    EXPECT_STREQ(asc, "");
}

std::string hex(const uint8_t *d, size_t n)
{
    char buf[64];
    BinToCHex(buf, d, n);
    return buf;
}

TEST(Sha1, KnownDigests)
{
    uint8_t d[20];
    EXPECT_EQ(SHA1((const uint8_t *)"abc", 3, d), d);
    EXPECT_EQ(hex(d, 20), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    SHA1((const uint8_t *)"", 0, d);
    EXPECT_EQ(hex(d, 20), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
    const char *two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    SHA1((const uint8_t *)two, strlen(two), d);
    EXPECT_EQ(hex(d, 20), "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
    std::string million(1000000, 'a');
    SHA1((const uint8_t *)million.data(), million.size(), d);
    EXPECT_EQ(hex(d, 20), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
}

TEST(DesAndMac, ComputeNothingAndLeaveOutputs)
{
    uint8_t key[24] = {1}, in[16] = {2}, init[8] = {3}, out[16];
    memset(out, 0xEE, sizeof(out));
    EXPECT_EQ(SingleDES(1, key, 16, in, out), 0);
    EXPECT_EQ(TripleDES(0, key, 16, in, out), 0);
    EXPECT_EQ(SingleMAC(key, init, 16, in, out), 0);
    EXPECT_EQ(TripleMAC(key, init, 16, in, out), 0);
    EXPECT_EQ(Bytes(out, out + 16), Bytes(16, 0xEE));
}

}  // namespace
