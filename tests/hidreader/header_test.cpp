// The C view of the public header agrees with the documented values.
#include <gtest/gtest.h>

#include "hidlink.h"

extern "C" int hidlink_header_c_check(void);

TEST(PublicHeader, CompilesAsCWithTheDocumentedSizes)
{
    // path 128 + header 5 + verbose 5 + barcode 28 + max 29 + 10 slots
    EXPECT_EQ(hidlink_header_c_check(), 128 + 5 + 5 + 28 + 29 + 10);
    EXPECT_EQ(NAD_ICCARD, 0x12);
    EXPECT_EQ(NAD_RFID, 0x15);
    EXPECT_EQ(NAD_PSAM4, 25);
    EXPECT_EQ(NAD_MCARD, 0x1A);
    EXPECT_EQ(NAD_IDCARD, 0x1B);
}
