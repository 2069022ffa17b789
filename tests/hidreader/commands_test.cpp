// Reader-level, card, stripe, barcode and ID-card commands: exact bytes,
// node addresses, time limits and outputs, through the hidapi test double.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "idcard_reply.h"
#include "wire.h"

namespace {

class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehid::reset();
        HV_open("hid", 0, nullptr);
        fakehid::reset();
        HV_set_debug_level(HV_DEBUG_LVL_ERROR);
        fakehid::plug("1-2:1.1");
        h = HV_open("hid", 0, nullptr);
        ASSERT_EQ(h, &g_hid_devices[1]);
        HV_set_nad(h, NAD_ICCARD);
    }

    // The wait given to the first real read of exchange n (after the drain).
    int limit_of(size_t n) const
    {
        const auto &w = fakehid::read_waits();
        size_t seen = 0;
        for (size_t i = 0; i + 1 < w.size(); i++) {
            if (w[i] == 0 && w[i + 1] != 0 && seen++ == n)
                return w[i + 1];
        }
        return -1;
    }

    void *h = nullptr;
};

struct Case {
    const char *name;
    std::function<uint32_t(void *)> call;
    uint8_t nad;
    Bytes bytes;
    int limit;
};

TEST_F(Commands, EachCommandSendsItsBytesToItsUnit)
{
    static const uint8_t key[6] = {1, 2, 3, 4, 5, 6};
    static const uint8_t pin6[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    static const uint8_t block[16] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                                      0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};
    static uint8_t buf[HV_MAX_REPLY_DATA];
    static uint32_t len;
    static uint8_t byte;
    const Bytes block_bytes(block, block + 16);
    const std::vector<Case> cases = {
        {"ICC_present", [](void *x) { return ICC_present(x); }, 18, {0x80, 0x17, 0x00, 0x00, 0x01}, 15000},
        {"ICC_get_card_type", [](void *x) { return ICC_get_card_type(x, &byte); }, 18,
         {0x00, 0x59, 0x00, 0x00, 0x01}, 15000},
        {"ICC_logic_read", [](void *x) { return ICC_logic_read(x, 0x1234, 0x20, buf); }, 18,
         {0x00, 0xB0, 0x12, 0x34, 0x20}, 15000},
        {"ICC_logic_write", [](void *x) { return ICC_logic_write(x, 0x0102, 3, (const uint8_t *)"\x07\x08\x09"); },
         18, {0x00, 0xD0, 0x01, 0x02, 0x03, 0x07, 0x08, 0x09}, 15000},
        {"ICC_logic_verify", [](void *x) { return ICC_logic_verify(x, 3, (const uint8_t *)"\xFF\xFF\xFF"); }, 18,
         {0x00, 0x20, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0xFF}, 15000},
        {"ICC_logic_modify", [](void *x) { return ICC_logic_modify(x, 6, pin6); }, 18,
         Bytes{0x00, 0x24, 0x00, 0x00, 0x06} + Bytes(pin6, pin6 + 6), 15000},
        {"ICC_logic_get_try_time", [](void *x) { return ICC_logic_get_try_time(x, &byte); }, 18,
         {0xB0, 0x17, 0x20, 0x20, 0x01}, 15000},
        {"Mifare1_Reset", [](void *x) { return Mifare1_Reset(x, &len, buf); }, 21,
         {0x80, 0x11, 0x09, 0x00, 0x00}, 15000},
        {"Mifare1_Verify A", [](void *x) { return Mifare1_Verify(x, 4, true, key); }, 21,
         {0x80, 0x11, 0x02, 0x00, 0x08, 0x60, 0x04, 1, 2, 3, 4, 5, 6}, 15000},
        {"Mifare1_Verify B", [](void *x) { return Mifare1_Verify(x, 9, false, key); }, 21,
         {0x80, 0x11, 0x02, 0x00, 0x08, 0x61, 0x09, 1, 2, 3, 4, 5, 6}, 15000},
        {"Mifare1_Read", [](void *x) { return Mifare1_Read(x, 5, buf); }, 21,
         {0x80, 0x11, 0x03, 0x00, 0x01, 0x05}, 15000},
        {"Mifare1_Write", [](void *x) { return Mifare1_Write(x, 6, block); }, 21,
         Bytes{0x80, 0x11, 0x04, 0x00, 0x11, 0x06} + block_bytes, 15000},
        {"Mifare1_InitAmount", [](void *x) { return Mifare1_InitAmount(x, 8, 0x01020304); }, 21,
         {0x80, 0x11, 0x05, 0x00, 0x05, 0x08, 0x04, 0x03, 0x02, 0x01}, 15000},
        {"Mifare1_IncreaseAmount", [](void *x) { return Mifare1_IncreaseAmount(x, 8, 100); }, 21,
         {0x80, 0x11, 0x06, 0x00, 0x05, 0x08, 100, 0, 0, 0}, 15000},
        {"Mifare1_DecreaseAmount", [](void *x) { return Mifare1_DecreaseAmount(x, 8, 0xFFFFFFFF); }, 21,
         {0x80, 0x11, 0x07, 0x00, 0x05, 0x08, 0xFF, 0xFF, 0xFF, 0xFF}, 15000},
        {"Magcard_get_track_data", [](void *x) { return Magcard_get_track_data(x, 2, &len, buf); }, 26,
         {0x00, 0xB0, 0x02, 0x00, 0x00}, 15000},
        {"Magcard_clear_data", [](void *x) { return Magcard_clear_data(x); }, 26,
         {0x00, 0x19, 0x21, 0x00, 0x00}, 15000},
        {"Barcode_start_scan", [](void *x) { return Barcode_start_scan(x, &len, buf, 0x10A); }, 28,
         {0x00, 0xB0, 0x00, 0x0A, 0x00}, 266500},
        {"Barcode_set_interval 50", [](void *x) { return Barcode_set_interval(x, 50); }, 28,
         Bytes{0xB0, 0xD0, 0x00, 0x00, 0x00} + bytes_of("FP-3N010=0050;"), 1000},
        {"Barcode_set_interval 123456", [](void *x) { return Barcode_set_interval(x, 123456); }, 28,
         Bytes{0xB0, 0xD0, 0x00, 0x00, 0x00} + bytes_of("FP-3N010=9999;"), 1000},
        {"HV_get_application_version", [](void *x) { return HV_get_application_version(x, &len, buf); }, 0,
         {0x00, 0x19, 0x00, 0x00, 0x00}, 15000},
        {"HV_get_serial_number", [](void *x) { return HV_get_serial_number(x, &len, buf); }, 0,
         {0x00, 0x19, 0x01, 0x01, 0x14}, 15000},
        {"HV_beep", [](void *x) { HV_beep(x, 0x1234); return 0x9000u; }, 0, {0xB0, 0xF2, 0x12, 0x34, 0x00}, 15000},
        {"HV_led_control", [](void *x) { HV_led_control(x, 0x07); return 0x9000u; }, 0,
         {0xB0, 0x17, 0x00, 0x23, 0x00, 0x07}, 15000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fakehid::reset();
        fakehid::plug("1-2:1.1");
        HV_set_nad(h, 0x13);
        fakehid::reply(frames(c.nad, {0x90, 0x00}));
        EXPECT_EQ(c.call(h), 0x9000u);
        auto sent = sent_commands();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].nad, c.nad);
        EXPECT_EQ(sent[0].bytes, c.bytes);
        EXPECT_GT(limit_of(0), c.limit - 100);
        EXPECT_LE(limit_of(0), c.limit);
        // Every one of them leaves the current node address as it was.
        fakehid::reply(frames(0x13, {0x90, 0x00}));
        EXPECT_EQ(HV_command_exchange(h, 1, (const uint8_t *)"\x01", nullptr, nullptr), 0x9000u);
        EXPECT_EQ(fakehid::writes().back()[1], 0x13);
    }
}

TEST_F(Commands, IccResetOutsideCardSlotsSendsNothing)
{
    uint8_t atr[64];
    uint32_t len = 0;
    for (uint8_t nad : {0x00, 0x11, 0x1A, 0x1B, 0xFF}) {
        HV_set_nad(h, nad);
        EXPECT_EQ(ICC_reset(h, &len, atr), 0x6201u) << int(nad);
        EXPECT_EQ(ICC_power_off(h), 0x6201u) << int(nad);
    }
    EXPECT_TRUE(fakehid::writes().empty());
    EXPECT_TRUE(fakehid::read_waits().empty());
}

TEST_F(Commands, IccResetUsesTheCurrentCardSlot)
{
    Bytes atr{0x3B, 0x6C, 0x00, 0x02};
    uint8_t out[64];
    uint32_t len = 0;
    HV_set_nad(h, 0x12);
    fakehid::reply(frames(0x12, atr + Bytes{0x90, 0x00}));
    EXPECT_EQ(ICC_reset(h, &len, out), 0x9000u);
    EXPECT_EQ(Bytes(out, out + len), atr);
    HV_set_nad(h, 0x19);
    fakehid::reply(frames(0x19, {0x90, 0x00}));
    EXPECT_EQ(ICC_power_off(h), 0x9000u);
    // ESAM, TSAM, the contactless antenna and the PSAM slots take it too.
    for (uint8_t nad : {0x13, 0x14, 0x15, 0x16}) {
        HV_set_nad(h, nad);
        fakehid::reply(frames(nad, {0x90, 0x00}));
        EXPECT_EQ(ICC_reset(h, nullptr, nullptr), 0x9000u);
        EXPECT_EQ(fakehid::writes().back()[1], nad);
    }
    auto sent = sent_commands();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0].nad, 0x12);
    EXPECT_EQ(sent[0].bytes, (Bytes{0x00, 0x12, 0x00, 0x00, 0x00}));
    EXPECT_EQ(sent[1].nad, 0x19);
    EXPECT_EQ(sent[1].bytes, (Bytes{0x00, 0x15, 0x00, 0x00, 0x00}));
}

TEST_F(Commands, CardStatusWordsPassThrough)
{
    fakehid::reply(frames(0x12, {0x6F, 0xF0}));
    EXPECT_EQ(ICC_present(h), 0x6FF0u);
    fakehid::reply(frames(0x12, {0x01, 0x90, 0x00}));
    EXPECT_EQ(ICC_present(h), 0x6FF1u);  // data where only a status word is expected
}

TEST_F(Commands, OneByteAnswersTakeTheFirstByte)
{
    uint8_t type = 0xEE;
    fakehid::reply(frames(0x12, {0x21, 0x22, 0x90, 0x00}));
    EXPECT_EQ(ICC_get_card_type(h, &type), 0x9000u);
    EXPECT_EQ(type, 0x21);
    fakehid::reply(frames(0x12, {0x6A, 0x82}));
    EXPECT_EQ(ICC_logic_get_try_time(h, &type), 0x6A82u);
    EXPECT_EQ(type, 0);
    type = 0xEE;
    fakehid::reply(frames(0x12, counting(65) + Bytes{0x90, 0x00}));
    EXPECT_EQ(ICC_get_card_type(h, &type), 0x6FF1u);
    EXPECT_EQ(type, 0);
    fakehid::reply(frames(0x12, {0x03, 0x90, 0x00}));
    EXPECT_EQ(ICC_get_card_type(h, nullptr), 0x9000u);
}

TEST_F(Commands, ReplyLongerThanTheCallersBufferIsRefused)
{
    uint8_t out[40];
    memset(out, 0xEE, sizeof(out));
    fakehid::reply(frames(0x12, counting(33) + Bytes{0x90, 0x00}));
    EXPECT_EQ(ICC_logic_read(h, 0, 32, out), 0x6FF1u);
    EXPECT_EQ(out[0], 0xEE);
    fakehid::reply(frames(0x12, counting(32) + Bytes{0x90, 0x00}));
    EXPECT_EQ(ICC_logic_read(h, 0, 32, out), 0x9000u);
    EXPECT_EQ(Bytes(out, out + 32), counting(32));
    EXPECT_EQ(out[32], 0xEE);

    fakehid::reply(frames(0x15, counting(17) + Bytes{0x90, 0x00}));
    EXPECT_EQ(Mifare1_Read(h, 1, out), 0x6FF1u);
    fakehid::reply(frames(0x15, counting(16, 9) + Bytes{0x90, 0x00}));
    EXPECT_EQ(Mifare1_Read(h, 1, out), 0x9000u);
    EXPECT_EQ(Bytes(out, out + 16), counting(16, 9));
}

TEST_F(Commands, MemoryCardLimits)
{
    std::vector<uint8_t> data(4092, 0x5A);
    EXPECT_EQ(ICC_logic_write(h, 0x10000, 1, data.data()), 0xFFFFu);
    EXPECT_EQ(ICC_logic_read(h, 0x10000, 1, data.data()), 0xFFFFu);
    EXPECT_EQ(ICC_logic_write(h, 0, 4092, data.data()), 0xFFFFu);
    EXPECT_EQ(ICC_logic_write(h, 0, 4, nullptr), 0xFFFFu);
    EXPECT_EQ(ICC_logic_verify(h, 3, nullptr), 0xFFFFu);
    EXPECT_EQ(Mifare1_Verify(h, 1, true, nullptr), 0xFFFFu);
    EXPECT_EQ(Mifare1_Write(h, 1, nullptr), 0xFFFFu);
    EXPECT_EQ(HV_set_serial_number(h, 60, data.data()), 0xFFFFu);
    EXPECT_TRUE(fakehid::writes().empty());

    // 4091 data bytes travel; Lc carries the low byte of the count.
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(ICC_logic_write(h, 0xFFFF, 4091, data.data()), 0x9000u);
    Bytes sent = sent_command();
    ASSERT_EQ(sent.size(), 4096u);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 5), (Bytes{0x00, 0xD0, 0xFF, 0xFF, 0xFB}));
}

TEST_F(Commands, MagcardSwipeWaitsTheGivenSeconds)
{
    fakehid::reply(frames(0x1A, {0x90, 0x00}));
    fakehid::reply(frames(0x1A, {0x90, 0x00}));
    EXPECT_EQ(Magcard_start_swip(h, 20), 0x9000u);
    auto sent = sent_commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].nad, 0x1A);
    EXPECT_EQ(sent[0].bytes, (Bytes{0x00, 0x19, 0x06, 0x01, 0x00}));
    EXPECT_EQ(sent[1].nad, 0x1A);
    EXPECT_EQ(sent[1].bytes, (Bytes{0x00, 0x19, 0x20, 0x14, 0x00}));
    EXPECT_GT(limit_of(0), 14900);
    EXPECT_GT(limit_of(1), 20400);
    EXPECT_LE(limit_of(1), 20500);
}

// A command that makes the reader wait T seconds is given T s + 500 ms when
// that outlasts the 15 s default, on every exchange entry point; other
// commands, and the same bytes on another unit, keep the default.
TEST_F(Commands, ExchangeOfAReaderWaitOutlastsTheWait)
{
    const uint8_t scan[5] = {0xB0, 0xB0, 0x00, 30, 0x00};
    const uint8_t keypad[8] = {0x00, 0xF9, 0x08, 60, 0x03, 0x00, 0x1B, 0x49};
    const uint8_t swipe[5] = {0x00, 0x19, 0x20, 180, 0x00};
    const uint8_t short_scan[5] = {0xB0, 0xB0, 0x00, 3, 0x00};

    HV_set_nad(h, NAD_BARCODE);
    fakehid::reply(frames(28, {0x90, 0x00}));
    EXPECT_EQ(ICC_apdu_exchange(h, 5, scan, nullptr, nullptr), 0x9000u);
    fakehid::reply(frames(28, {0x90, 0x00}));
    EXPECT_EQ(ICC_apdu_exchange(h, 5, short_scan, nullptr, nullptr), 0x9000u);
    fakehid::reply(frames(0, {0x90, 0x00}));
    EXPECT_EQ(HV_command_exchange_with_nad(h, 0, 8, keypad, nullptr, nullptr), 0x9000u);
    fakehid::reply(frames(0x1A, {0x90, 0x00}));
    EXPECT_EQ(HV_command_exchange_with_nad(h, 1, 5, swipe, nullptr, nullptr), 0x9000u);
    HV_set_nad(h, NAD_ICCARD);
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(HV_command_exchange(h, 5, scan, nullptr, nullptr), 0x9000u);

    const int expected[] = {30500, 15000, 60500, 180500, 15000};
    for (size_t i = 0; i < 5; i++) {
        EXPECT_LE(limit_of(i), expected[i]) << "exchange " << i;
        EXPECT_GT(limit_of(i), expected[i] - 100) << "exchange " << i;
    }
}

TEST_F(Commands, MagcardSwipeStopsWhenModeIsRefused)
{
    fakehid::reply(frames(0x1A, {0x6D, 0x00}));
    EXPECT_EQ(Magcard_start_swip(h, 20), 0x6D00u);
    EXPECT_EQ(sent_commands().size(), 1u);
}

TEST_F(Commands, MifareHaltAlwaysSucceeds)
{
    fakehid::reply(frames(0x15, {0x6A, 0x82}));
    EXPECT_EQ(Mifare1_Halt(h), 0x9000u);
    auto sent = sent_commands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].nad, 0x15);
    EXPECT_EQ(sent[0].bytes, (Bytes{0x00, 0x15, 0x00, 0x00, 0x00}));
    EXPECT_LE(limit_of(0), 1000);
    EXPECT_GT(limit_of(0), 900);
}

TEST_F(Commands, SerialNumberIsErasedThenWritten)
{
    fakehid::reply(frames(0, {0x90, 0x00}));
    fakehid::reply(frames(0, {0x90, 0x00}));
    EXPECT_EQ(HV_set_serial_number(h, 4, (const uint8_t *)"AB12"), 0x9000u);
    auto sent = sent_commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].nad, 0);
    EXPECT_EQ(sent[0].bytes, (Bytes{0x00, 0x19, 0x01, 0xEE, 0x02}));
    EXPECT_EQ(sent[1].bytes, (Bytes{0x00, 0x19, 0x01, 0x02, 0x04, 'A', 'B', '1', '2'}));
}

TEST_F(Commands, SerialNumberIsNotWrittenWhenEraseFails)
{
    fakehid::reply(frames(0, {0x69, 0x85}));
    EXPECT_EQ(HV_set_serial_number(h, 4, (const uint8_t *)"AB12"), 0x6985u);
    EXPECT_EQ(sent_commands().size(), 1u);
    // The write step expects the status word alone.
    fakehid::reply(frames(0, {0x90, 0x00}));
    fakehid::reply(frames(0, {0x01, 0x90, 0x00}));
    EXPECT_EQ(HV_set_serial_number(h, 59, counting(59).data()), 0x6FF1u);
    EXPECT_EQ(sent_commands().back().bytes.size(), 64u);
}

TEST_F(Commands, VersionReplyGoesToTheCaller)
{
    uint8_t out[HV_MAX_REPLY_DATA];
    uint32_t len = 0;
    fakehid::reply(frames(0, bytes_of("V2.1.7") + Bytes{0x90, 0x00}));
    EXPECT_EQ(HV_get_application_version(h, &len, out), 0x9000u);
    EXPECT_EQ(std::string((char *)out, len), "V2.1.7");
}

// --- ID card ---------------------------------------------------------------

class IdCard : public Commands {
protected:
    // Scripts the five answers of a good read with the given read reply.
    void script_good_read(const Bytes &read_reply_data)
    {
        fakehid::reply(frames(27, {0x90, 0x00}));
        fakehid::reply(frames(27, sam_frame(0x90, counting(16)) + Bytes{0x90, 0x00}));
        fakehid::reply(frames(27, sam_frame(0x9F, {0, 0, 0, 0}) + Bytes{0x90, 0x00}));
        fakehid::reply(frames(27, sam_frame(0x90, Bytes(8, 0)) + Bytes{0x90, 0x00}));
        fakehid::reply(frames(27, sam_frame(0x90, read_reply_data) + Bytes{0x90, 0x00}));
    }

    uint8_t json[HV_IDCARD_JSON_SIZE];
    uint32_t len = 0;
};

TEST_F(IdCard, ReadSendsTheFiveStepsAndReturnsJson)
{
    Bytes photo = counting(1024, 0x10);
    script_good_read(read_data(text_block(CardText()), photo));
    EXPECT_EQ(Idcard_read_information(h, &len, json), 0x9000u);

    auto sent = sent_commands();
    ASSERT_EQ(sent.size(), 5u);
    for (const auto &s : sent)
        EXPECT_EQ(s.nad, 27);
    EXPECT_EQ(sent[0].bytes, (Bytes{0x00, 0x12, 0x00, 0x00, 0x00}));
    EXPECT_EQ(sent[1].bytes, (Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x12, 0xFF, 0xEE, 0x00}));
    EXPECT_EQ(sent[2].bytes, (Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x22, 0x00}));
    EXPECT_EQ(sent[3].bytes, (Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x02, 0x21, 0x00}));
    EXPECT_EQ(sent[4].bytes, (Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x01, 0x32, 0x00}));
    EXPECT_LE(limit_of(0), 1000);
    EXPECT_LE(limit_of(1), 1000);
    EXPECT_GT(limit_of(2), 14900);
    EXPECT_GT(limit_of(3), 14900);
    EXPECT_LE(limit_of(4), 5000);
    EXPECT_GT(limit_of(4), 4900);

    std::string text((char *)json, len);
    EXPECT_EQ(json[len], 0);
    EXPECT_EQ(text.rfind("{\"ImgBase64\":\"EBESExQVFhcY", 0), 0u);
    size_t tail = text.find("\",\"name\":");
    ASSERT_NE(tail, std::string::npos);
    EXPECT_EQ(tail, 14u + 1368u);  // base64 of 1024 bytes
    EXPECT_EQ(text.substr(tail),
              "\",\"name\":\"张三\",\"sex\":\"男\",\"nations\":\"汉族\",\"birthday\":\"19900101\","
              "\"address\":\"北京市东城区景山前街4号\",\"id_num\":\"11010119900101123X\","
              "\"department\":\"北京市公安局东城分局\",\"startDate\":\"20200101\","
              "\"endDate\":\"20400101\"}");

    // The node address stays at the ID-card module.
    fakehid::reply(frames(27, {0x90, 0x00}));
    EXPECT_EQ(ICC_apdu_exchange(h, 1, (const uint8_t *)"\x01", nullptr, nullptr), 0x9000u);
    EXPECT_EQ(fakehid::writes().back()[1], 27);
}

TEST_F(IdCard, ModuleThatDoesNotPowerUpGives6200)
{
    fakehid::reply(frames(27, {0x6A, 0x82}));
    EXPECT_EQ(Idcard_read_information(h, &len, json), 0x6200u);
    EXPECT_EQ(sent_commands().size(), 1u);
}

TEST_F(IdCard, WrongSw3StopsTheRead)
{
    fakehid::reply(frames(27, {0x90, 0x00}));
    fakehid::reply(frames(27, sam_frame(0x90) + Bytes{0x90, 0x00}));
    fakehid::reply(frames(27, sam_frame(0x80) + Bytes{0x90, 0x00}));  // no card found
    EXPECT_EQ(Idcard_read_information(h, &len, json), 0xFFFFu);
    EXPECT_EQ(sent_commands().size(), 3u);
}

TEST_F(IdCard, ExchangeFailureInASamStepGivesFFFF)
{
    fakehid::reply(frames(27, {0x90, 0x00}));
    fakehid::reply(frames(27, sam_frame(0x90) + Bytes{0x6F, 0x00}));
    EXPECT_EQ(Idcard_read_information(h, &len, json), 0xFFFFu);
    EXPECT_EQ(sent_commands().size(), 2u);
}

TEST_F(IdCard, FrameTooShortForSw3FailsInsteadOfReadingStaleBytes)
{
    fakehid::reply(frames(27, {0x90, 0x00}));
    fakehid::reply(frames(27, sam_frame(0x90) + Bytes{0x90, 0x00}));
    // Shorter than the previous frame: offset 9 would still hold its 0x90.
    fakehid::reply(frames(27, Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x90, 0x00}));
    EXPECT_EQ(Idcard_read_information(h, &len, json), 0xFFFFu);
    EXPECT_EQ(sent_commands().size(), 3u);
}

TEST_F(IdCard, ReadReplyWithoutChecksumByteFails)
{
    fakehid::reply(frames(27, {0x90, 0x00}));
    fakehid::reply(frames(27, sam_frame(0x90) + Bytes{0x90, 0x00}));
    fakehid::reply(frames(27, sam_frame(0x9F) + Bytes{0x90, 0x00}));
    fakehid::reply(frames(27, sam_frame(0x90) + Bytes{0x90, 0x00}));
    Bytes ten{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x00, 0x00, 0x90};
    fakehid::reply(frames(27, ten + Bytes{0x90, 0x00}));
    EXPECT_EQ(Idcard_read_information(h, &len, json), 0xFFFFu);
}

TEST_F(IdCard, NullOutputsAreRefusedBeforeAnyTraffic)
{
    EXPECT_EQ(Idcard_read_information(h, nullptr, json), 0x6FF1u);
    EXPECT_EQ(Idcard_read_information(h, &len, nullptr), 0x6FF1u);
    EXPECT_TRUE(fakehid::writes().empty());
}

}  // namespace
