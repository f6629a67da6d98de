#include "io/UnverifiedSectors.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(UnverifiedSectorsText, NamesEveryRangeUpToALimit) {
  const std::string tail = " of the image failed their checksum; their bytes were used as stored.";
  EXPECT_EQ(unverifiedSectorsText({}), "");
  EXPECT_EQ(unverifiedSectorsText({{7, 1}}), "Sector 7" + tail);
  EXPECT_EQ(unverifiedSectorsText({{64, 64}}), "Sectors 64-127" + tail);
  EXPECT_EQ(unverifiedSectorsText({{0, 64}, {128, 64}}), "Sectors 0-63 and 128-191" + tail);
  EXPECT_EQ(unverifiedSectorsText({{0, 64}, {128, 64}, {512, 1}}), "Sectors 0-63, 128-191 and 512" + tail);
  std::vector<SectorRange> many;
  for (std::uint64_t i = 0; i < 10; ++i) many.push_back({i * 100, 2});
  EXPECT_EQ(unverifiedSectorsText(many),
            "Sectors 0-1, 100-101, 200-201, 300-301, 400-401, 500-501, 600-601, 700-701 and 2 more ranges" + tail);
}

}  // namespace
}  // namespace quorvel
