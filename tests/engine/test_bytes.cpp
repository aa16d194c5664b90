#include <gtest/gtest.h>

#include <cstdint>

#include "common/bytes.hpp"

namespace bytes = tamlor::bytes;

// Every width reads back what was written, in both byte orders, with the
// top bit set so that a sign or a shift of a narrow type would show.
TEST(Bytes, FieldsRoundTripInBothOrders) {
    unsigned char b[8] = {};
    bytes::put_le16(b, 0xBEEF);
    EXPECT_EQ(b[0], 0xEF);
    EXPECT_EQ(b[1], 0xBE);
    EXPECT_EQ(bytes::get_le16(b), 0xBEEF);
    bytes::put_le24(b, 0x00F1E2D3u);
    EXPECT_EQ(bytes::get_le24(b), 0xF1E2D3u);
    bytes::put_le32(b, 0xF1E2D3C4u);
    EXPECT_EQ(bytes::get_le32(b), 0xF1E2D3C4u);
    bytes::put_le(b, 0xF102030405060708ull, 8);
    EXPECT_EQ(bytes::get_le64(b), 0xF102030405060708ull);
    bytes::put_be(b, 0x80C0E0u, 3);
    EXPECT_EQ(b[0], 0x80);
    EXPECT_EQ(b[2], 0xE0);
    EXPECT_EQ(bytes::get_be(b, 3), 0x80C0E0u);
    EXPECT_EQ(bytes::get_be(b, 0), 0u);
}
