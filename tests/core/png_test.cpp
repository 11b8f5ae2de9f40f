#include <gtest/gtest.h>

#include "tests/core/fixture.h"

TEST(Png, Smoke) {
    Bytes sig = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes iend = be32(0) + text_bytes("IEND") + be32(0xAE426082);
    Bytes phys = be32(9) + text_bytes("pHYs") + filled(9, 1) + be32(0x12345678);
    Reduced r = reduce(sig + phys + iend);
    ASSERT_EQ(r.result, complete_copy);
    EXPECT_EQ(r.copy, sig + iend);
}
