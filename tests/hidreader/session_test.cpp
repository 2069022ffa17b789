// Reader table, open/close and the exchange, seen on the wire through the
// hidapi test double.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "wire.h"

namespace {

const std::string kPath1 = "1-1.4:1.1";
const std::string kPath2 = "1-1.5:1.1";
const std::string kPath3 = "1-1.6:1.1";

class Reader : public ::testing::Test {
protected:
    void SetUp() override
    {
        // An empty enumeration frees every slot left by an earlier test.
        fakehid::reset();
        HV_open("hid", 0, nullptr);
        fakehid::reset();
        HV_set_debug_level(HV_DEBUG_LVL_ERROR);
        fakehid::plug(kPath1);
        h = HV_open("hid1", 0, nullptr);
        ASSERT_EQ(h, &g_hid_devices[1]);
        HV_set_nad(h, NAD_ICCARD);
    }

    uint32_t exchange(const Bytes &cmd, Bytes *reply = nullptr)
    {
        uint8_t out[HV_MAX_REPLY_DATA];
        uint32_t len = 0xDEAD;
        uint32_t sw = ICC_apdu_exchange(h, static_cast<uint32_t>(cmd.size()), cmd.data(), &len, out);
        if (reply && sw != HV_SW_BAD_HANDLE && len != 0xDEAD)
            reply->assign(out, out + len);
        return sw;
    }

    void *h = nullptr;
};

// --- outgoing reports ----------------------------------------------------

TEST_F(Reader, SixtyTwoByteCommandLeavesAsTwoReports)
{
    Bytes cmd = counting(62, 1);
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(exchange(cmd), 0x9000u);

    const auto &w = fakehid::writes();
    ASSERT_EQ(w.size(), 2u);
    Bytes first = Bytes{0x00, 0x12, 0x20, 0x3D} + Bytes(cmd.begin(), cmd.begin() + 61);
    Bytes second = Bytes{0x00, 0x12, 0x41, 0x01, 62} + Bytes(60, 0);
    EXPECT_EQ(w[0], first);
    EXPECT_EQ(w[1], second);
}

TEST_F(Reader, SixtyOneByteCommandIsOneFullReport)
{
    Bytes cmd = counting(61, 0x80);
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(exchange(cmd), 0x9000u);
    ASSERT_EQ(fakehid::writes().size(), 1u);
    EXPECT_EQ(fakehid::writes()[0], (Bytes{0x00, 0x12, 0x00, 0x3D} + cmd));
}

TEST_F(Reader, ShortCommandIsZeroPaddedTo65Bytes)
{
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(exchange({0x00, 0xA4, 0x04, 0x00}), 0x9000u);
    ASSERT_EQ(fakehid::writes().size(), 1u);
    EXPECT_EQ(fakehid::writes()[0], (Bytes{0x00, 0x12, 0x00, 0x04, 0x00, 0xA4, 0x04, 0x00} + Bytes(57, 0)));
}

TEST_F(Reader, SequenceNumberWrapsAfter32ReportsAndToggleAlternates)
{
    Bytes cmd = counting(61 * 33 + 1);
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(exchange(cmd), 0x9000u);
    const auto &w = fakehid::writes();
    ASSERT_EQ(w.size(), 34u);
    EXPECT_EQ(w[0][2], 0x20);
    EXPECT_EQ(w[1][2], 0x61);
    EXPECT_EQ(w[31][2], 0x20 | 0x40 | 31);
    EXPECT_EQ(w[32][2], 0x20);        // sequence 0 again, toggle clear
    EXPECT_EQ(w[33][2], 0x40 | 1);    // last: no more-follows
    EXPECT_EQ(w[33][3], 1);
    EXPECT_EQ(sent_command(), cmd);
}

TEST_F(Reader, NullOrEmptyCommandSendsNothing)
{
    uint8_t out[8];
    uint32_t len = 0;
    EXPECT_EQ(ICC_apdu_exchange(h, 4, nullptr, &len, out), 0xFFFFu);
    EXPECT_EQ(ICC_apdu_exchange(h, 0, out, &len, out), 0xFFFFu);
    EXPECT_TRUE(fakehid::writes().empty());
}

TEST_F(Reader, FailedWriteEndsTheCommandWith0xFFFFAndLogsIt)
{
    LogFile log("write");
    fakehid::fail_write(1);
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(exchange(counting(130)), 0xFFFFu);
    EXPECT_EQ(fakehid::writes().size(), 1u);  // the third report is never tried
    EXPECT_NE(log.text().find("E/hidlink         ["), std::string::npos);
    EXPECT_NE(log.text().find("] transmit fail!"), std::string::npos);
}

// --- incoming reports ----------------------------------------------------

TEST_F(Reader, MultiReportResponseIsReassembled)
{
    Bytes data = counting(200, 7);
    fakehid::reply(frames(0x12, data + Bytes{0x6A, 0x82}));
    Bytes reply;
    EXPECT_EQ(exchange({0x00, 0xB0, 0x00, 0x00, 0xC8}, &reply), 0x6A82u);
    EXPECT_EQ(reply, data);
}

TEST_F(Reader, ResponseWithSequenceWrapIsReassembled)
{
    Bytes data = counting(61 * 40 - 2, 3);
    fakehid::reply(frames(0x12, data + Bytes{0x90, 0x00}));
    Bytes reply;
    EXPECT_EQ(exchange({0x00, 0xB0, 0, 0, 0}, &reply), 0x9000u);
    EXPECT_EQ(reply, data);
}

TEST_F(Reader, ReportOutOfSequenceFailsTheExchange)
{
    auto reads = frames(0x12, counting(100) + Bytes{0x90, 0x00});
    reads[1].data[1] = 0x42;  // sequence 2 where 1 is due
    fakehid::reply(reads);
    uint8_t out[256];
    uint32_t len = 77;
    EXPECT_EQ(ICC_apdu_exchange(h, 2, out, &len, out), 0xFFFFu);
    EXPECT_EQ(len, 77u);  // outputs untouched
}

TEST_F(Reader, LengthByteAbove61FailsTheExchange)
{
    auto reads = frames(0x12, {0x90, 0x00});
    reads[0].data[2] = 62;
    fakehid::reply(reads);
    EXPECT_EQ(exchange({1, 2}), 0xFFFFu);
}

TEST_F(Reader, ResponseLongerThanWorkBufferFailsWithoutOverflow)
{
    fakehid::reply(frames(0x12, counting(4107)));
    EXPECT_EQ(exchange({1, 2}), 0xFFFFu);
    // The longest response that fits is still taken.
    fakehid::reply(frames(0x12, counting(4104) + Bytes{0x90, 0x00}));
    Bytes reply;
    EXPECT_EQ(exchange({1, 2}, &reply), 0x9000u);
    EXPECT_EQ(reply.size(), 4104u);
}

TEST_F(Reader, ReadErrorAndWrongSizeReportAreLogged)
{
    LogFile log("read");
    fakehid::reply({fakehid::result(-1)});
    EXPECT_EQ(exchange({1}), 0xFFFFu);
    EXPECT_NE(log.text().find("] ret is -1"), std::string::npos);
    EXPECT_NE(log.text().find("] receive error -1"), std::string::npos);

    fakehid::reply({fakehid::result(32)});
    EXPECT_EQ(exchange({1}), 0xFFFFu);
    EXPECT_NE(log.text().find("] ret is 32"), std::string::npos);
}

TEST_F(Reader, StatusWordOnlyIsAcceptedWithNullOutputs)
{
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(ICC_apdu_exchange(h, 1, (const uint8_t *)"\x01", nullptr, nullptr), 0x9000u);
}

TEST_F(Reader, DataWithNullOutputGives6FF1)
{
    uint32_t len = 0;
    fakehid::reply(frames(0x12, {0x01, 0x90, 0x00}));
    EXPECT_EQ(ICC_apdu_exchange(h, 1, (const uint8_t *)"\x01", &len, nullptr), 0x6FF1u);
    uint8_t out[4];
    fakehid::reply(frames(0x12, {0x01, 0x90, 0x00}));
    EXPECT_EQ(ICC_apdu_exchange(h, 1, (const uint8_t *)"\x01", nullptr, out), 0x6FF1u);
}

TEST_F(Reader, ResponseShorterThanStatusWordGives6FF1)
{
    fakehid::reply(frames(0x12, {0x90}));
    EXPECT_EQ(exchange({1}), 0x6FF1u);
    fakehid::reply(frames(0x12, {}));
    EXPECT_EQ(exchange({1}), 0x6FF1u);
}

TEST_F(Reader, SilentReaderTimesOutWithinTheLimit)
{
    uint32_t len = 0;
    uint8_t out[64];
    auto start = std::chrono::steady_clock::now();
    // Scan time 0 s: the limit is 500 ms.
    EXPECT_EQ(Barcode_start_scan(h, &len, out, 0), 0xFFFFu);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(ms, 450);
    EXPECT_LT(ms, 1500);
    for (int wait : fakehid::read_waits())
        EXPECT_LE(wait, 500);
}

TEST_F(Reader, ReaderThatNeverEndsItsResponseTimesOut)
{
    // Endless "more follows" reports with no data: the limit still ends it.
    std::vector<fakehid::Read> reads;
    for (int i = 0; i < 2000; i++) {
        Bytes r(64, 0);
        r[0] = 0x1C;
        r[1] = static_cast<uint8_t>((i & 0x1F) | 0x20);
        reads.push_back(fakehid::report(r));
    }
    fakehid::reply(reads);
    uint32_t len = 0;
    uint8_t out[64];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Barcode_start_scan(h, &len, out, 0), 0xFFFFu);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(Reader, DefaultLimitIs15Seconds)
{
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(exchange({1}), 0x9000u);
    const auto &waits = fakehid::read_waits();
    ASSERT_GE(waits.size(), 2u);
    EXPECT_EQ(waits[0], 0);  // the drain of stale reports does not wait
    EXPECT_GT(waits[1], 14900);
    EXPECT_LE(waits[1], 15000);
}

TEST_F(Reader, StaleReportsAreDiscardedBeforeACommand)
{
    fakehid::inject_now(frames(0x12, {0x55, 0x90, 0x00}));  // a late answer
    fakehid::reply(frames(0x12, {0x66, 0x90, 0x00}));
    Bytes reply;
    EXPECT_EQ(exchange({1}, &reply), 0x9000u);
    EXPECT_EQ(reply, Bytes{0x66});
}

// --- the driver's log ----------------------------------------------------

TEST_F(Reader, DebugLevelShowsExchangeLinesAndHexDumps)
{
    LogFile log("debug");
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(exchange(counting(20)), 0x9000u);
    EXPECT_EQ(log.text(), "");  // level 1: errors only

    HV_set_debug_level(HV_DEBUG_LVL_DEBUG);
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(exchange(counting(20)), 0x9000u);
    HV_set_debug_level(HV_DEBUG_LVL_ERROR);
    std::string t = log.text();
    EXPECT_NE(t.find("\x1b[32;22mD/hidlink         ["), std::string::npos) << t;
    EXPECT_NE(t.find("] apdu_exchange ==> HANDLE <0x"), std::string::npos);
    EXPECT_NE(t.find("> NAD <0x12>\x1b[0m\n"), std::string::npos);
    EXPECT_NE(t.find("\nD/HEX transmit: 0000-000F: 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F    "
                     "................\nD/HEX transmit: 0010-001F: 10 11 12 13 "),
              std::string::npos);
    EXPECT_NE(t.find("\nD/HEX receive : 0000-000F: 90 00 "), std::string::npos);
    EXPECT_NE(t.find("] receive valide package\x1b[0m\n"), std::string::npos);
    EXPECT_NE(t.find("\x1b[36;22mI/hidlink         ["), std::string::npos);
    EXPECT_NE(t.find("] ICC_apdu_exchange END SW = 0x9000\x1b[0m\n"), std::string::npos);
}

TEST_F(Reader, InfoLevelLogsTheResultOfEachCall)
{
    LogFile log("info");
    HV_set_debug_level(HV_DEBUG_LVL_INFO);
    HV_close(nullptr);
    fakehid::reply(frames(0x15, {0x6A, 0x82}));
    HV_command_exchange_with_nad(h, 0x15, 1, (const uint8_t *)"\x01", nullptr, nullptr);
    HV_set_debug_level(HV_DEBUG_LVL_ERROR);
    std::string t = log.text();
    EXPECT_NE(t.find("] HV_close END SW = 0x6FF2\x1b[0m\n"), std::string::npos) << t;
    EXPECT_NE(t.find("] HV_command_exchange_with_nad END SW = 0x6A82\x1b[0m\n"), std::string::npos);
    EXPECT_EQ(t.find("D/"), std::string::npos);
}

// --- node address --------------------------------------------------------

TEST_F(Reader, NadOneIsSentAsMagneticStripe)
{
    HV_set_nad(h, 1);
    fakehid::reply(frames(0x1A, {0x90, 0x00}));
    EXPECT_EQ(exchange({1}), 0x9000u);
    EXPECT_EQ(fakehid::writes()[0][1], 0x1A);
}

TEST_F(Reader, ExchangeWithNadLeavesTheCurrentNad)
{
    fakehid::reply(frames(0x15, {0x90, 0x00}));
    fakehid::reply(frames(0x12, {0x90, 0x00}));
    EXPECT_EQ(HV_command_exchange_with_nad(h, 0x15, 1, (const uint8_t *)"\x01", nullptr, nullptr),
              0x9000u);
    EXPECT_EQ(HV_command_exchange(h, 1, (const uint8_t *)"\x02", nullptr, nullptr), 0x9000u);
    auto sent = sent_commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].nad, 0x15);
    EXPECT_EQ(sent[1].nad, 0x12);
}

TEST_F(Reader, NadAppliesToEveryHandle)
{
    fakehid::plug(kPath2);
    void *h2 = HV_open("hid2", 0, nullptr);
    ASSERT_EQ(h2, &g_hid_devices[2]);
    HV_set_nad(h, 0x16);
    fakehid::reply(frames(0x16, {0x90, 0x00}));
    EXPECT_EQ(HV_command_exchange(h2, 1, (const uint8_t *)"\x01", nullptr, nullptr), 0x9000u);
    EXPECT_EQ(fakehid::writes()[0][1], 0x16);
}

// --- handles -------------------------------------------------------------

TEST_F(Reader, InvalidHandlesGive6FF2WithoutTraffic)
{
    uint8_t out[300];
    uint32_t len = 0;
    int stray = 0;
    for (void *bad : {(void *)nullptr, HV_INVALID_HANDLE, (void *)&stray, (void *)&g_hid_devices[0],
                      (void *)((char *)&g_hid_devices[1] + 1)}) {
        EXPECT_EQ(ICC_apdu_exchange(bad, 1, out, &len, out), 0x6FF2u);
        EXPECT_EQ(HV_command_exchange_with_nad(bad, 0x15, 1, out, &len, out), 0x6FF2u);
        EXPECT_EQ(HV_close(bad), 0x6FF2u);
        EXPECT_EQ(HV_get_hid_path(bad, &len, out), 0x6FF2u);
        EXPECT_EQ(HV_get_hid_serial_number(bad, &len, out), 0x6FF2u);
        EXPECT_EQ(ICC_present(bad), 0x6FF2u);
        EXPECT_EQ(Idcard_read_information(bad, &len, out), 0x6200u);
    }
    EXPECT_TRUE(fakehid::writes().empty());
}

TEST_F(Reader, CloseKeepsTheSlotRegistered)
{
    EXPECT_EQ(HV_close(h), 0x9000u);
    EXPECT_TRUE(g_hid_devices[1].is_exist);
    EXPECT_FALSE(g_hid_devices[1].is_open);
    EXPECT_EQ(g_hid_devices[1].dev, nullptr);
    EXPECT_STREQ(g_hid_devices[1].path, kPath1.c_str());
    EXPECT_EQ(fakehid::closed_paths(), std::vector<std::string>{kPath1});
    EXPECT_EQ(HV_close(h), 0x6FF2u);
    // Opening again opens the device again.
    EXPECT_EQ(HV_open("hid1", 0, nullptr), h);
    EXPECT_NE(g_hid_devices[1].dev, nullptr);
    EXPECT_EQ(fakehid::open_calls(), 2);
}

TEST_F(Reader, ExchangeOnClosedReaderFails)
{
    EXPECT_EQ(HV_close(h), 0x9000u);
    EXPECT_EQ(exchange({1}), 0xFFFFu);
}

// --- HV_open naming and the enumeration sweep ----------------------------

TEST_F(Reader, RepeatedOpensShareOneHandleAndOneDevice)
{
    EXPECT_EQ(HV_open("HID1", 0, nullptr), h);
    EXPECT_EQ(HV_open("hid", 7, "x"), h);
    EXPECT_EQ(fakehid::open_calls(), 1);
    EXPECT_EQ(fakehid::last_vendor_id(), 0x163C);
    EXPECT_EQ(fakehid::last_product_id(), 0x0A2B);
}

TEST_F(Reader, NumberedNameOpensThatSlot)
{
    fakehid::plug(kPath2);
    fakehid::plug(kPath3);
    void *h3 = HV_open("HID3", 0, nullptr);
    EXPECT_EQ(h3, &g_hid_devices[3]);
    EXPECT_STREQ(g_hid_devices[3].path, kPath3.c_str());
    EXPECT_TRUE(g_hid_devices[3].is_open);
    EXPECT_TRUE(g_hid_devices[2].is_exist);
    EXPECT_FALSE(g_hid_devices[2].is_open);
    // Mixed case and text after the number are read as hidN.
    EXPECT_EQ(HV_open("HID2-reader", 0, nullptr), &g_hid_devices[2]);
    // No number: slot 1.
    EXPECT_EQ(HV_open("hidx", 0, nullptr), h);
}

TEST_F(Reader, NameOutsideOneToNineIsRefusedAndLogged)
{
    LogFile log("names");
    EXPECT_EQ(HV_open("hid10", 0, nullptr), HV_INVALID_HANDLE);
    EXPECT_NE(log.text().find("E/hidlink         ["), std::string::npos);
    EXPECT_NE(log.text().find("] END HANDLE = -1\x1b[0m\n"), std::string::npos);
    EXPECT_EQ(HV_open("hid0", 0, nullptr), HV_INVALID_HANDLE);
    EXPECT_EQ(HV_open("hid-3", 0, nullptr), HV_INVALID_HANDLE);
    EXPECT_EQ(HV_open("hid99999999999999999999", 0, nullptr), HV_INVALID_HANDLE);
}

TEST_F(Reader, OtherNamesAreRefusedWithoutEnumerating)
{
    int before = fakehid::enumerate_calls();
    for (const char *name : {"COM1", "com1", "Hid1", "usb", "hi", ""})
        EXPECT_EQ(HV_open(name, 0, nullptr), HV_INVALID_HANDLE) << name;
    EXPECT_EQ(HV_open(nullptr, 0, nullptr), HV_INVALID_HANDLE);
    EXPECT_EQ(fakehid::enumerate_calls(), before);
}

TEST_F(Reader, NameLongerThan63IsRefused)
{
    std::string name63 = "hid1" + std::string(59, 'a');
    std::string name64 = name63 + "a";
    EXPECT_EQ(HV_open(name63.c_str(), 0, nullptr), h);
    EXPECT_EQ(HV_open(name64.c_str(), 0, nullptr), HV_INVALID_HANDLE);
}

TEST_F(Reader, SlotWithoutReaderIsRefused)
{
    EXPECT_EQ(HV_open("hid4", 0, nullptr), HV_INVALID_HANDLE);
    EXPECT_FALSE(g_hid_devices[4].is_open);
}

TEST_F(Reader, PlainHidTakesTheLowestPresentSlot)
{
    fakehid::plug(kPath2);
    EXPECT_EQ(HV_open("hid2", 0, nullptr), &g_hid_devices[2]);
    fakehid::unplug(kPath1);
    EXPECT_EQ(HV_open("hid", 0, nullptr), &g_hid_devices[2]);
}

TEST_F(Reader, UnpluggedReadersAreSweptAndClosed)
{
    fakehid::plug(kPath2);
    void *h2 = HV_open("hid2", 0, nullptr);
    ASSERT_EQ(h2, &g_hid_devices[2]);
    fakehid::unplug(kPath1);
    fakehid::unplug(kPath2);
    fakehid::plug(kPath3);
    EXPECT_EQ(HV_open("hid", 0, nullptr), &g_hid_devices[1]);  // the new reader takes slot 1
    EXPECT_STREQ(g_hid_devices[1].path, kPath3.c_str());
    EXPECT_FALSE(g_hid_devices[2].is_exist);
    EXPECT_FALSE(g_hid_devices[2].is_open);
    EXPECT_EQ(g_hid_devices[2].dev, nullptr);
    EXPECT_EQ(g_hid_devices[2].path[0], '\0');
    auto closed = fakehid::closed_paths();
    std::sort(closed.begin(), closed.end());
    EXPECT_EQ(closed, (std::vector<std::string>{kPath1, kPath2}));
    EXPECT_EQ(HV_close(h2), 0x6FF2u);
}

TEST_F(Reader, OnlyInterfaceOneIsRegistered)
{
    fakehid::plug("1-1.4:1.0", 0);
    fakehid::plug("1-1.4:1.2", 2);
    HV_open("hid", 0, nullptr);
    for (int i = 2; i < HV_MAX_DEVICES; i++)
        EXPECT_FALSE(g_hid_devices[i].is_exist) << i;
}

TEST_F(Reader, TenthReaderIsIgnored)
{
    for (int i = 2; i <= 10; i++)
        fakehid::plug("r" + std::to_string(i));
    HV_open("hid", 0, nullptr);
    for (int i = 1; i < HV_MAX_DEVICES; i++)
        EXPECT_TRUE(g_hid_devices[i].is_exist) << i;
    EXPECT_STREQ(g_hid_devices[9].path, "r9");
    fakehid::unplug("r5");
    HV_open("hid", 0, nullptr);
    EXPECT_STREQ(g_hid_devices[5].path, "r10");
}

TEST_F(Reader, PathLongerThan127IsIgnored)
{
    std::string p127(127, 'p'), p128(128, 'q');
    fakehid::plug(p128);
    fakehid::plug(p127);
    HV_open("hid", 0, nullptr);
    EXPECT_STREQ(g_hid_devices[2].path, p127.c_str());
    EXPECT_FALSE(g_hid_devices[3].is_exist);
}

TEST_F(Reader, FailedOpenIsRetriedOnTheNextOpen)
{
    fakehid::plug(kPath2);
    fakehid::set_open_fails(kPath2, true);
    void *h2 = HV_open("hid2", 0, nullptr);
    EXPECT_EQ(h2, &g_hid_devices[2]);
    EXPECT_TRUE(g_hid_devices[2].is_open);
    EXPECT_EQ(g_hid_devices[2].dev, nullptr);
    EXPECT_EQ(HV_command_exchange(h2, 1, (const uint8_t *)"\x01", nullptr, nullptr), 0xFFFFu);
    EXPECT_EQ(HV_close(h2), 0x6FF2u);
    // Opened again once the other program lets the reader go; slot 1, open
    // and working, is not opened a second time.
    fakehid::set_open_fails(kPath2, false);
    void *dev1 = g_hid_devices[1].dev;
    int opens = fakehid::open_calls();
    EXPECT_EQ(HV_open("hid2", 0, nullptr), h2);
    EXPECT_NE(g_hid_devices[2].dev, nullptr);
    EXPECT_EQ(HV_open("hid1", 0, nullptr), &g_hid_devices[1]);
    EXPECT_EQ(HV_open("hid2", 0, nullptr), h2);
    EXPECT_EQ(fakehid::open_calls(), opens + 1);
    EXPECT_EQ(g_hid_devices[1].dev, dev1);
}

// --- path, serial number, messages --------------------------------------

TEST_F(Reader, PathIsCopiedWithItsLength)
{
    uint8_t out[128];
    uint32_t len = 0;
    memset(out, 0xEE, sizeof(out));
    EXPECT_EQ(HV_get_hid_path(h, &len, out), 0x9000u);
    EXPECT_EQ(len, kPath1.size());
    EXPECT_EQ(std::string((char *)out, len + 1), kPath1 + std::string(1, '\0'));
    EXPECT_EQ(HV_get_hid_path(h, nullptr, out), 0x6FF1u);
    EXPECT_EQ(HV_get_hid_path(h, &len, nullptr), 0x6FF1u);
}

TEST_F(Reader, SerialNumberIsTheUsbStringInUtf8)
{
    fakehid::plug(kPath2, 1, L"SN-\u8BFB\u5361-\U0001F600");
    void *h2 = HV_open("hid2", 0, nullptr);
    uint8_t out[256];
    uint32_t len = 0;
    EXPECT_EQ(HV_get_hid_serial_number(h2, &len, out), 0x9000u);
    EXPECT_EQ(std::string((char *)out, len), "SN-\xE8\xAF\xBB\xE5\x8D\xA1-\xF0\x9F\x98\x80");
    EXPECT_EQ(out[len], 0);

    EXPECT_EQ(HV_get_hid_serial_number(h, &len, out), 0x9000u);
    EXPECT_EQ(std::string((char *)out, len), "SN0001");
    fakehid::set_serial_fails(true);
    EXPECT_EQ(HV_get_hid_serial_number(h, &len, out), 0xFFFFu);
    EXPECT_EQ(HV_get_hid_serial_number(h, nullptr, out), 0x6FF1u);
    HV_close(h);
    EXPECT_EQ(HV_get_hid_serial_number(h, &len, out), 0x6FF2u);
}

TEST_F(Reader, LongSerialNumberIsCutAtACharacterBoundary)
{
    fakehid::plug(kPath2, 1, std::wstring(127, L'\u4E2D'));
    void *h2 = HV_open("hid2", 0, nullptr);
    uint8_t out[256];
    uint32_t len = 0;
    EXPECT_EQ(HV_get_hid_serial_number(h2, &len, out), 0x9000u);
    EXPECT_EQ(len, 255u);  // 85 characters of 3 bytes
    EXPECT_EQ(out[255], 0);
}

TEST(ErrorMessage, KnownAndUnknownWords)
{
    uint8_t out[32];
    uint32_t len = 0;
    HV_format_error_message(0x6FF0, &len, out);
    EXPECT_EQ(std::string((char *)out, len), "没有卡片插入");
    EXPECT_EQ(len, 18u);
    HV_format_error_message(0x9000, &len, out);
    EXPECT_EQ(std::string((char *)out), "未知错误");
    EXPECT_EQ(len, 12u);
    len = 5;
    HV_format_error_message(0x6FF0, &len, nullptr);
    EXPECT_EQ(len, 5u);
}

TEST(Transport, NullDevicesAndBuffers)
{
    uint8_t r[64] = {0};
    uint32_t len = 9;
    EXPECT_EQ(usb_device_write(nullptr, r, 64), -1);
    EXPECT_EQ(usb_device_read(nullptr, r, 10), -1);
    EXPECT_EQ(usb_device_cancel_read(nullptr), -1);
    EXPECT_EQ(usb_device_cancel_read(r), 0);
    EXPECT_EQ(transmit(nullptr, 0x12, nullptr, 4), -1);
    EXPECT_EQ(transmit(nullptr, 0x12, r, 4), -4);
    EXPECT_EQ(receive(nullptr, 0x12, r, &len, 10), -1);
    EXPECT_EQ(len, 0u);
    usb_device_close(nullptr);
}

}  // namespace
