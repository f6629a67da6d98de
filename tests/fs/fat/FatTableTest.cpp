// FAT entries as each width stores them, and where chains end.
#include <gtest/gtest.h>

#include "fs/fat/FatBuilders.h"
#include "fs/fatfamily/FatTable.h"

namespace quorvel::test {
namespace {

using fatfmt::FatEntryKind;
using fatfmt::FatTable;
using fatfmt::FatWidth;

FatEntryKind kindOf(FatWidth width) {
  return width == FatWidth::Fat12 ? FatEntryKind::Fat12 : width == FatWidth::Fat16 ? FatEntryKind::Fat16 : FatEntryKind::Fat32;
}

// A FAT alone in an image file, read back through FatTable.
struct TableImage {
  TableImage(FatWidth width, std::uint32_t clusters, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries,
             std::uint64_t tableBytes = 0) {
    std::vector<std::uint32_t> values(clusters + 2ull, 0);
    for (const auto& [cluster, value] : entries) values.at(cluster) = value;
    const std::size_t bits = width == FatWidth::Fat12 ? 12 : width == FatWidth::Fat16 ? 16 : 32;
    const ByteVector bytes = encodeFat(width, values, (values.size() * bits + 7) / 8);
    image = std::make_unique<TempImage>(bytes);
    source.open(image->path());
    table = FatTable(VolumeView(source, {}), 0, tableBytes ? tableBytes : bytes.size(), kindOf(width), clusters);
  }
  std::unique_ptr<TempImage> image;
  FileReadSeek source;
  FatTable table;
};

TEST(FatEntries, ChainsEndAtTheEndMarksTheBadMarkFreeEntriesAndNonClusters) {
  struct Case {
    FatWidth width;
    std::uint32_t stored;
    std::optional<std::uint32_t> next;
  };
  // 3000 clusters (FAT12), 5000 (FAT16), 70000 (FAT32): the last cluster is count + 1.
  const Case cases[] = {
      {FatWidth::Fat12, 3, 3},           {FatWidth::Fat12, 3001, 3001},
      {FatWidth::Fat12, 3002, {}},       {FatWidth::Fat12, 0, {}},
      {FatWidth::Fat12, 1, {}},          {FatWidth::Fat12, 0xFF7, {}},
      {FatWidth::Fat12, 0xFF8, {}},      {FatWidth::Fat12, 0xFFB, {}},
      {FatWidth::Fat12, 0xFFF, {}},      {FatWidth::Fat16, 3, 3},
      {FatWidth::Fat16, 5001, 5001},     {FatWidth::Fat16, 5002, {}},
      {FatWidth::Fat16, 0, {}},          {FatWidth::Fat16, 1, {}},
      {FatWidth::Fat16, 0xFFF7, {}},     {FatWidth::Fat16, 0xFFF8, {}},
      {FatWidth::Fat16, 0xFFFC, {}},     {FatWidth::Fat16, 0xFFFF, {}},
      {FatWidth::Fat16, 0x0FF8, 0x0FF8}, {FatWidth::Fat32, 3, 3},
      {FatWidth::Fat32, 70001, 70001},   {FatWidth::Fat32, 70002, {}},
      {FatWidth::Fat32, 0, {}},          {FatWidth::Fat32, 1, {}},
      {FatWidth::Fat32, 0x0FFFFFF7, {}}, {FatWidth::Fat32, 0x0FFFFFF8, {}},
      {FatWidth::Fat32, 0x0FFFFFFF, {}}, {FatWidth::Fat32, 0xFFFFFFFF, {}},
      {FatWidth::Fat32, 0xFFF8, 0xFFF8}, {FatWidth::Fat32, 0xF0000003, 3},  // the top four bits are reserved
      {FatWidth::Fat32, 0x10000003, 3},  {FatWidth::Fat32, 0xF0000000, {}},
  };
  for (const Case& c : cases) {
    const std::uint32_t clusters = c.width == FatWidth::Fat12 ? 3000 : c.width == FatWidth::Fat16 ? 5000 : 70000;
    SCOPED_TRACE(testing::Message() << "width " << static_cast<int>(c.width) << " stored 0x" << std::hex << c.stored);
    const TableImage fat(c.width, clusters, {{2, c.stored}, {7, c.stored}});
    EXPECT_EQ(fat.table.nextCluster(2), c.next);
    EXPECT_EQ(fat.table.nextCluster(7), c.next);  // odd entries too
  }
}

TEST(FatEntries, Fat12PacksTwoEntriesInThreeBytes) {
  // A floppy's FAT as formatters write it: media entries, then 2 -> 3 -> 4 -> end.
  const ByteVector bytes = {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0xFF, 0x0F, 0x00, 0x21, 0x43, 0x65};
  TempImage image(bytes);
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  const FatTable table(VolumeView(source, {}), 0, bytes.size(), FatEntryKind::Fat12, 6);
  const std::uint32_t expected[] = {0xFF8, 0xFFF, 0x003, 0x004, 0xFFF, 0x000, 0x321, 0x654};
  for (std::uint32_t n = 0; n < 8; ++n) EXPECT_EQ(table.entry(n), expected[n]) << "entry " << n;
  EXPECT_EQ(table.nextCluster(2), 3u);
  EXPECT_EQ(table.nextCluster(3), 4u);
  EXPECT_EQ(table.nextCluster(4), std::nullopt);
  EXPECT_EQ(table.nextCluster(5), std::nullopt);
  EXPECT_EQ(table.nextCluster(6), std::nullopt);  // 0x321 names no cluster of six
  // Entries past the table's bytes read as free.
  EXPECT_EQ(table.entry(8), 0u);
  EXPECT_EQ(table.entry(1000), 0u);
}

TEST(FatEntries, NumbersThatAreNoClustersHaveNoNext) {
  const TableImage fat(FatWidth::Fat16, 100, {{0, 5}, {1, 5}, {101, 5}});
  for (const std::uint32_t cluster : {0u, 1u, 102u, 0xFFFFu, 0xFFFFFFFFu}) EXPECT_EQ(fat.table.nextCluster(cluster), std::nullopt);
  EXPECT_EQ(fat.table.nextCluster(101), 5u);
}

TEST(FatEntries, EntriesOnLaterPagesOfTheTable) {
  // 64 KiB pages: FAT16 entry 32768 and FAT32 entry 16384 open the second one.
  const TableImage fat16(FatWidth::Fat16, 65000, {{32767, 9}, {32768, 10}, {65001, 11}});
  EXPECT_EQ(fat16.table.nextCluster(32767), 9u);
  EXPECT_EQ(fat16.table.nextCluster(32768), 10u);
  EXPECT_EQ(fat16.table.nextCluster(65001), 11u);
  const TableImage fat32(FatWidth::Fat32, 40000, {{16383, 9}, {16384, 10}, {40001, 11}});
  EXPECT_EQ(fat32.table.nextCluster(16383), 9u);
  EXPECT_EQ(fat32.table.nextCluster(16384), 10u);
  EXPECT_EQ(fat32.table.nextCluster(40001), 11u);
}

TEST(FatEntries, AnUnreadableTableReadsAsFree) {
  // The table's place lies past the image's end.
  const TableImage fat(FatWidth::Fat32, 100, {{2, 3}});
  const FatTable beyond(VolumeView(fat.source, {}), 1 << 20, 4 * 102, FatEntryKind::Fat32, 100);
  EXPECT_EQ(beyond.entry(2), 0u);
  EXPECT_EQ(beyond.nextCluster(2), std::nullopt);
}

TEST(FatEntries, AnAbsurdTableSizeCostsNoMoreThanItsClusters) {
  // Whatever size the table is given, 100 clusters need 408 bytes of it.
  const TableImage fat(FatWidth::Fat32, 100, {{2, 3}, {3, 0x0FFFFFFF}, {101, 4}}, std::uint64_t{1} << 62);
  EXPECT_EQ(fat.table.nextCluster(2), 3u);
  EXPECT_EQ(fat.table.nextCluster(3), std::nullopt);
  EXPECT_EQ(fat.table.nextCluster(101), 4u);
}

}  // namespace
}  // namespace quorvel::test
