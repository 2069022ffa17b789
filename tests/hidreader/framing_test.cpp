// The pure framing functions, on in-memory byte strings.
#include <gtest/gtest.h>

#include "hidlink_internal.h"
#include "wire.h"

namespace {

Bytes build(uint8_t nad, const Bytes &cmd, size_t index, size_t *n = nullptr)
{
    Bytes r(64, 0xEE);
    size_t got = hl_build_report(r.data(), nad, cmd.data(), cmd.size(), index);
    if (n)
        *n = got;
    return r;
}

TEST(BuildReport, SplitsAt61BytesWithControlBits)
{
    Bytes cmd = counting(62, 0x30);
    size_t n = 0;
    EXPECT_EQ(build(0x12, cmd, 0, &n), (Bytes{0x12, 0x20, 0x3D} + Bytes(cmd.begin(), cmd.begin() + 61)));
    EXPECT_EQ(n, 61u);
    EXPECT_EQ(build(0x12, cmd, 1, &n), (Bytes{0x12, 0x41, 0x01, 0x30 + 61} + Bytes(60, 0)));
    EXPECT_EQ(n, 1u);
    build(0x12, cmd, 2, &n);
    EXPECT_EQ(n, 0u);
}

TEST(BuildReport, ExactlyOneFullReport)
{
    Bytes cmd = counting(61);
    size_t n = 0;
    EXPECT_EQ(build(0x1B, cmd, 0, &n), (Bytes{0x1B, 0x00, 0x3D} + cmd));
    EXPECT_EQ(n, 61u);
    build(0x1B, cmd, 1, &n);
    EXPECT_EQ(n, 0u);
}

TEST(BuildReport, SequenceCountsModulo32)
{
    Bytes cmd = counting(61 * 70);
    EXPECT_EQ(build(0, cmd, 31)[1], 0x20 | 0x40 | 31);
    EXPECT_EQ(build(0, cmd, 32)[1], 0x20);
    EXPECT_EQ(build(0, cmd, 33)[1], 0x20 | 0x40 | 1);
    EXPECT_EQ(build(0, cmd, 69)[1], 0x40 | 5);
}

TEST(BuildReport, EmptyOrNullCommandBuildsNothing)
{
    uint8_t r[64];
    EXPECT_EQ(hl_build_report(r, 0, nullptr, 10, 0), 0u);
    EXPECT_EQ(hl_build_report(r, 0, r, 0, 0), 0u);
}

class Reassembly : public ::testing::Test {
protected:
    void SetUp() override { hl_rx_start(&rx, buf, sizeof(buf)); }
    int feed(const fakehid::Read &r) { return hl_rx_feed(&rx, r.data.data()); }
    uint8_t buf[HV_MAX_RESPONSE];
    hl_rx_t rx;
};

TEST_F(Reassembly, JoinsReportsUntilTheLast)
{
    Bytes resp = counting(150);
    auto reads = frames(0x12, resp);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(feed(reads[0]), HL_RX_MORE);
    EXPECT_EQ(feed(reads[1]), HL_RX_MORE);
    EXPECT_EQ(feed(reads[2]), HL_RX_DONE);
    EXPECT_EQ(Bytes(buf, buf + rx.len), resp);
}

TEST_F(Reassembly, IgnoresNadAndToggle)
{
    auto reads = frames(0x12, counting(70));
    reads[0].data[0] = 0x99;
    reads[1].data[1] ^= 0x40;
    EXPECT_EQ(feed(reads[0]), HL_RX_MORE);
    EXPECT_EQ(feed(reads[1]), HL_RX_DONE);
    EXPECT_EQ(rx.len, 70u);
}

TEST_F(Reassembly, WrongSequenceIsRejected)
{
    auto reads = frames(0x12, counting(130));
    EXPECT_EQ(feed(reads[0]), HL_RX_MORE);
    EXPECT_EQ(feed(reads[2]), HL_RX_BAD_SEQ);
    Reassembly::SetUp();
    EXPECT_EQ(feed(reads[1]), HL_RX_BAD_SEQ);  // a response must start at 0
}

TEST_F(Reassembly, SequenceComparesLowFiveBits)
{
    auto reads = frames(0, counting(61 * 34));
    for (size_t i = 0; i + 1 < reads.size(); i++)
        ASSERT_EQ(feed(reads[i]), HL_RX_MORE) << i;
    EXPECT_EQ(feed(reads.back()), HL_RX_DONE);
    EXPECT_EQ(Bytes(buf, buf + rx.len), counting(61 * 34));
}

TEST_F(Reassembly, LengthByteAbove61IsRejected)
{
    auto reads = frames(0, counting(10));
    reads[0].data[2] = 62;
    EXPECT_EQ(feed(reads[0]), HL_RX_BAD_LEN);
    EXPECT_EQ(rx.len, 0u);
}

TEST_F(Reassembly, StopsAtCapacity)
{
    uint8_t small[100];
    hl_rx_start(&rx, small, sizeof(small));
    auto reads = frames(0, counting(101));
    EXPECT_EQ(feed(reads[0]), HL_RX_MORE);
    EXPECT_EQ(feed(reads[1]), HL_RX_OVERFLOW);
    EXPECT_EQ(rx.len, 61u);
}

TEST(SamChecksum, XorOfLengthToParameter)
{
    uint8_t sn[11] = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x12, 0xFF, 0xEE, 0x55};
    idcard_cal_checksum(sn, 11);
    EXPECT_EQ(sn[10], 0x00);
    uint8_t seek[10] = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x00};
    idcard_cal_checksum(seek, 10);
    EXPECT_EQ(seek[9], 0x22);
}

TEST(WaitLimit, SecondsTimesThousandPlusHalf)
{
    EXPECT_EQ(hl_wait_limit(0), 500);
    EXPECT_EQ(hl_wait_limit(20), 20500);
    EXPECT_EQ(hl_wait_limit(0xFFFFFFFFu), 0x7FFFFFFF);
}

TEST(NodeAddress, SetNadMapsOneToMagneticStripe)
{
    HV_set_nad(nullptr, 1);
    EXPECT_EQ(g_NAD, 0x1A);
    HV_set_nad(nullptr, 0);
    EXPECT_EQ(g_NAD, 0);
    HV_set_nad(nullptr, 0x12);
    EXPECT_EQ(g_NAD, 0x12);
}

TEST(LoadTime, UnloadStopsTheLogAndLoadConfiguresItAgain)
{
    LogFile log("load");
    hidlink_fini();
    EXPECT_FALSE(elog_get_output_enabled());
    elog_output(ELOG_LVL_ASSERT, "hidlink", "f", "fn", 1, "while stopped");
    hidlink_elog_init();
    EXPECT_TRUE(elog_get_output_enabled());
    EXPECT_TRUE(elog_get_text_color_enabled());
    hidlink_elog_init();  // once per load: no second banner
    elog_output(ELOG_LVL_WARN, "hidlink", "f", "fn", 1, "filtered");
    EXPECT_EQ(log.text(), "\n" + std::string(LIB_INFO) + "\n\n");
}

}  // namespace
