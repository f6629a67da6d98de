#include "io/Endian.h"

#include <gtest/gtest.h>

#include <array>

namespace quorvel {
namespace {

TEST(Endian, ReadsBothOrdersAndNeverPastTheBuffer) {
  const std::array<std::uint8_t, 8> raw{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  const Bytes b(raw);
  EXPECT_EQ(le16(b, 0), 0x0201);
  EXPECT_EQ(be16(b, 0), 0x0102);
  EXPECT_EQ(le32(b, 4), 0x08070605u);
  EXPECT_EQ(be32(b, 4), 0x05060708u);
  EXPECT_EQ(le64(b, 0), 0x0807060504030201ull);
  EXPECT_EQ(be64(b, 0), 0x0102030405060708ull);
  // A field that does not fit reads as 0.
  EXPECT_EQ(le32(b, 5), 0u);
  EXPECT_EQ(le16(b, ~std::size_t{0}), 0u);
  EXPECT_EQ(u8(b, 8), 0u);
  EXPECT_TRUE(hasText(b, 1, "\x02\x03"));
  EXPECT_FALSE(hasText(b, 7, "\x08\x09"));
}

}  // namespace
}  // namespace quorvel
