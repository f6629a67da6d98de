// The parameter block and the layout it implies; damaged blocks are turned
// away with the parser's message, whatever the field.
#include <gtest/gtest.h>

#include <functional>

#include "fs/fat/FatBuilders.h"
#include "fs/fat/FatLayout.h"

namespace quorvel::test {
namespace {

using fatfmt::FatGeometry;
using fatfmt::FatWidth;

struct BpbFields {
  std::uint16_t bytesPerSector = 512;
  std::uint8_t sectorsPerCluster = 1;
  std::uint16_t reserved = 1;
  std::uint8_t fats = 2;
  std::uint16_t rootEntries = 512;
  std::uint16_t total16 = 0;
  std::uint32_t total32 = 0;
  std::uint16_t sectorsPerFat16 = 0;
  std::uint32_t sectorsPerFat32 = 0;
  std::uint32_t rootCluster = 0;

  static BpbFields readFrom(const ByteVector& s) {
    BpbFields f;
    f.bytesPerSector = le16(s, 0x0B);
    f.sectorsPerCluster = s[0x0D];
    f.reserved = le16(s, 0x0E);
    f.fats = s[0x10];
    f.rootEntries = le16(s, 0x11);
    f.total16 = le16(s, 0x13);
    f.sectorsPerFat16 = le16(s, 0x16);
    f.total32 = le32(s, 0x20);
    f.sectorsPerFat32 = le32(s, 0x24);
    f.rootCluster = le32(s, 0x2C);
    return f;
  }
  void writeInto(ByteVector& s) const {
    putLe16(s, 0x0B, bytesPerSector);
    s[0x0D] = sectorsPerCluster;
    putLe16(s, 0x0E, reserved);
    s[0x10] = fats;
    putLe16(s, 0x11, rootEntries);
    putLe16(s, 0x13, total16);
    putLe16(s, 0x16, sectorsPerFat16);
    putLe32(s, 0x20, total32);
    putLe32(s, 0x24, sectorsPerFat32);
    putLe32(s, 0x2C, rootCluster);
  }
  ByteVector bytes() const {
    ByteVector s(512, 0);
    writeInto(s);
    return s;
  }
};

std::optional<FatGeometry> geometryOf(const BpbFields& f) {
  return fatfmt::fatGeometry(fatfmt::decodeBiosParameterBlock(f.bytes()));
}

struct LayoutCase {
  const char* what;
  BpbFields fields;
  FatWidth width;
  std::uint32_t clusterSize;
  std::uint64_t fatOffset, fatBytes, rootOffset;
  std::uint32_t rootBytes, rootCluster;
  std::uint64_t dataOffset;
  std::uint32_t clusterCount;
  std::uint64_t volumeBytes;
};

TEST(FatGeometry, LayoutsFollowFromTheParameterBlock) {
  const LayoutCase cases[] = {
      // 1.44 MB floppy: 1 + 2*9 + 14 sectors of metadata, 2847 clusters.
      {"floppy", {512, 1, 1, 2, 224, 2880, 0, 9, 0, 0}, FatWidth::Fat12, 512, 512, 4608, 9728, 7168, 0, 16896, 2847,
       2880 * 512},
      // 64 MiB, 2 KiB clusters, the sector count in the 32-bit field.
      {"fat16", {512, 4, 4, 2, 512, 0, 131072, 128, 0, 0}, FatWidth::Fat16, 2048, 2048, 65536, 133120, 16384, 0, 149504,
       32695, 131072ull * 512},
      // 4085 clusters is the smallest FAT16 ...
      {"fat16 smallest", {512, 1, 1, 1, 16, 4103, 0, 16, 0, 0}, FatWidth::Fat16, 512, 512, 8192, 8704, 512, 0, 9216, 4085,
       4103 * 512},
      // ... and 4084 the largest FAT12.
      {"fat12 largest", {512, 1, 1, 1, 16, 4102, 0, 16, 0, 0}, FatWidth::Fat12, 512, 512, 8192, 8704, 512, 0, 9216, 4084,
       4102 * 512},
      // 512 MiB, 4 KiB clusters; the root is a cluster chain.
      {"fat32", {512, 8, 32, 2, 0, 0, 1048576, 0, 1024, 2}, FatWidth::Fat32, 4096, 16384, 524288, 1064960, 0, 2, 1064960,
       130812, 1048576ull * 512},
      // A 16-bit FAT size of 0 means FAT32, however few the clusters.
      {"small fat32", {512, 1, 32, 2, 0, 2000, 0, 0, 16, 5}, FatWidth::Fat32, 512, 16384, 8192, 32768, 0, 5, 32768, 1936,
       2000 * 512},
      // Larger sectors.
      {"4k sectors", {4096, 2, 1, 2, 512, 9000, 0, 8, 0, 0}, FatWidth::Fat16, 8192, 4096, 32768, 69632, 16384, 0, 86016,
       4489, 9000ull * 4096},
      // A FAT with room for fewer entries than the clusters caps the count.
      {"short fat", {512, 1, 1, 1, 16, 6000, 0, 16, 0, 0}, FatWidth::Fat16, 512, 512, 8192, 8704, 512, 0, 9216, 4094,
       6000 * 512},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto g = geometryOf(c.fields);
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->width, c.width);
    EXPECT_EQ(g->bytesPerSector, c.fields.bytesPerSector);
    EXPECT_EQ(g->clusterSize, c.clusterSize);
    EXPECT_EQ(g->fatOffset, c.fatOffset);
    EXPECT_EQ(g->fatBytes, c.fatBytes);
    EXPECT_EQ(g->rootBytes, c.rootBytes);
    if (c.width != FatWidth::Fat32) {
      EXPECT_EQ(g->rootOffset, c.rootOffset);
    }
    EXPECT_EQ(g->rootCluster, c.rootCluster);
    EXPECT_EQ(g->dataOffset, c.dataOffset);
    EXPECT_EQ(g->clusterCount, c.clusterCount);
    EXPECT_EQ(g->volumeBytes, c.volumeBytes);
  }
}

TEST(FatGeometry, TheBuilderMakesTheLayoutItMeans) {
  // The other tests trust FatVolume's arithmetic; check it once here.
  for (const auto& [width, clusters] : {std::pair{FatWidth::Fat12, 300u}, std::pair{FatWidth::Fat16, 4200u},
                                        std::pair{FatWidth::Fat32, 500u}}) {
    FatVolume volume(width, clusters, 2);
    const auto g = fatfmt::fatGeometry(fatfmt::decodeBiosParameterBlock(volume.bootSector()));
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->width, width);
    EXPECT_EQ(g->clusterCount, clusters);
    EXPECT_EQ(g->clusterSize, volume.clusterSize());
    EXPECT_EQ(g->dataOffset, volume.clusterOffset(2));
    EXPECT_EQ(g->fatOffset, volume.fatOffset());
    EXPECT_EQ(g->volumeBytes, volume.size());
  }
}

struct Spoil {
  const char* what;
  std::function<void(BpbFields&)> apply;
};

const Spoil kSpoiledFields[] = {
    {"bytes per sector 0", [](BpbFields& f) { f.bytesPerSector = 0; }},
    {"bytes per sector 100", [](BpbFields& f) { f.bytesPerSector = 100; }},
    {"bytes per sector 256", [](BpbFields& f) { f.bytesPerSector = 256; }},
    {"bytes per sector 513", [](BpbFields& f) { f.bytesPerSector = 513; }},
    {"bytes per sector 8192", [](BpbFields& f) { f.bytesPerSector = 8192; }},
    {"sectors per cluster 0", [](BpbFields& f) { f.sectorsPerCluster = 0; }},
    {"sectors per cluster 3", [](BpbFields& f) { f.sectorsPerCluster = 3; }},
    {"sectors per cluster 255", [](BpbFields& f) { f.sectorsPerCluster = 255; }},
    {"no reserved sectors", [](BpbFields& f) { f.reserved = 0; }},
    {"no FATs", [](BpbFields& f) { f.fats = 0; }},
    {"no FAT size at all", [](BpbFields& f) { f.sectorsPerFat16 = 0, f.sectorsPerFat32 = 0; }},
    {"metadata fills the volume", [](BpbFields& f) { f.total16 = 1 + 2 * 17 + 32; }},
    {"metadata beyond the volume", [](BpbFields& f) { f.reserved = 0xFFFF; }},
    {"root beyond the volume", [](BpbFields& f) { f.rootEntries = 0xFFFF, f.total16 = 4100; }},
    {"FATs beyond the volume", [](BpbFields& f) { f.fats = 255; }},
    {"less than a cluster of data", [](BpbFields& f) { f.sectorsPerCluster = 128, f.total16 = 1 + 2 * 17 + 32 + 100; }},
};

// Reserved 1, two FATs of 17 sectors, 32 root sectors, 4200 clusters.
BpbFields validFat16() { return BpbFields::readFrom(FatVolume(FatWidth::Fat16, 4200).bootSector()); }

TEST(FatGeometry, AbsurdFieldsDescribeNoVolume) {
  ASSERT_TRUE(geometryOf(validFat16()).has_value());
  for (const Spoil& s : kSpoiledFields) {
    SCOPED_TRACE(s.what);
    BpbFields f = validFat16();
    s.apply(f);
    EXPECT_FALSE(geometryOf(f).has_value());
  }
  // The same for the FAT32 layout's own fields.
  BpbFields fat32{512, 1, 32, 2, 0, 0, 70000, 0, 600, 2};
  ASSERT_TRUE(geometryOf(fat32).has_value());
  fat32.sectorsPerFat32 = 0;
  EXPECT_FALSE(geometryOf(fat32).has_value());
  fat32.sectorsPerFat32 = 0xFFFFFFFF;  // the FATs alone outgrow the volume
  EXPECT_FALSE(geometryOf(fat32).has_value());
}

// Some formatters of large volumes leave both counts 0 and keep the size in
// the partition entry: the volume is then as large as its partition (or
// source), or, where that is not known, as much as its FAT maps.
TEST(FatGeometry, ZeroSectorCountsTakeTheSizeFromElsewhere) {
  BpbFields f = validFat16();
  const auto counted = geometryOf(f);
  ASSERT_TRUE(counted.has_value());
  f.total16 = 0;
  f.total32 = 0;
  const auto bpb = fatfmt::decodeBiosParameterBlock(f.bytes());
  const auto fromPartition = fatfmt::fatGeometry(bpb, counted->volumeBytes);
  ASSERT_TRUE(fromPartition.has_value());
  EXPECT_EQ(fromPartition->volumeBytes, counted->volumeBytes);
  EXPECT_EQ(fromPartition->clusterCount, counted->clusterCount);
  EXPECT_EQ(fromPartition->width, counted->width);
  const auto fromFat = fatfmt::fatGeometry(bpb);
  ASSERT_TRUE(fromFat.has_value());
  EXPECT_EQ(fromFat->width, counted->width);
  EXPECT_EQ(fromFat->dataOffset, counted->dataOffset);
  EXPECT_GE(fromFat->clusterCount, counted->clusterCount);

  // A whole volume so made reads as its counted twin does.
  FatVolume volume(FatWidth::Fat16, 4200);
  volume.writeRoot(Directory().file("A       TXT", 2, 10));
  BpbFields onDisk = BpbFields::readFrom(volume.bootSector());
  onDisk.total16 = 0;
  onDisk.total32 = 0;
  onDisk.writeInto(volume.bootSector());
  const auto v = scanFat(volume);
  EXPECT_TRUE(v->scanned);
  ASSERT_EQ(v->parser->topEntries().size(), 1u);
  EXPECT_EQ(v->parser->name(v->parser->topEntries().front()), "A.TXT");
}

TEST(FatGeometry, AbsurdFieldsEndTheScanWithTheParsersMessage) {
  // The same spoils in a whole image: the scan says why and stops, nothing listed.
  for (const Spoil& s : kSpoiledFields) {
    SCOPED_TRACE(s.what);
    FatVolume volume(FatWidth::Fat16, 4200);
    volume.writeRoot(Directory().file("A       TXT", 2, 10));
    BpbFields f = BpbFields::readFrom(volume.bootSector());
    s.apply(f);
    f.writeInto(volume.bootSector());
    const auto v = scanFat(volume);
    EXPECT_FALSE(v->scanned);
    EXPECT_EQ(v->observer.messages, (std::vector<std::string>{"Selected Drive is not in Fat16 Format"}));
    EXPECT_TRUE(v->parser->topEntries().empty());
  }
}

TEST(FatGeometry, EachParserTakesOnlyItsWidths) {
  struct Case {
    FatWidth width;
    std::uint32_t clusters;
    FatParserKind parser;
    const char* message;  // nullptr: taken
  };
  const Case cases[] = {
      {FatWidth::Fat12, 300, FatParserKind::Fat16, nullptr},
      {FatWidth::Fat16, 4200, FatParserKind::Fat16, nullptr},
      {FatWidth::Fat32, 300, FatParserKind::Fat16, "Selected Drive is not in Fat16 Format"},
      {FatWidth::Fat12, 300, FatParserKind::Fat32, "Selected Drive is not in Fat32 Format"},
      {FatWidth::Fat16, 4200, FatParserKind::Fat32, "Selected Drive is not in Fat32 Format"},
      {FatWidth::Fat32, 300, FatParserKind::Fat32, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.width) * 10 + static_cast<int>(c.parser));
    FatVolume volume(c.width, c.clusters);
    volume.writeRoot(Directory().file("A       TXT", 3, 1));
    const auto v = scanFat(volume.materialize(), c.parser);
    EXPECT_EQ(v->scanned, c.message == nullptr);
    if (c.message) {
      EXPECT_EQ(v->observer.messages, (std::vector<std::string>{c.message}));
    } else {
      EXPECT_TRUE(v->observer.messages.empty());
      EXPECT_EQ(v->topNames(), (std::vector<std::string>{"A.TXT"}));
    }
  }
}

TEST(FatGeometry, ImagesTooShortForABootSectorAreTurnedAway) {
  for (const std::size_t length : {std::size_t{0}, std::size_t{11}, std::size_t{100}, std::size_t{511}}) {
    SCOPED_TRACE(length);
    FatVolume volume(FatWidth::Fat16, 4200);
    ByteVector head = volume.bootSector();
    head.resize(length);
    for (const FatParserKind kind : {FatParserKind::Fat16, FatParserKind::Fat32}) {
      const auto v = scanFat(std::make_unique<TempImage>(head), kind);
      EXPECT_FALSE(v->scanned);
      EXPECT_EQ(v->observer.messages.size(), 1u);
    }
  }
}

TEST(FatGeometry, TheLargestFatABootSectorCanDescribeIsNoBurden) {
  // 4 KiB sectors, a FAT of almost 2^32 sectors: 16 TiB of table on a
  // one-sector image. The scan ends with an empty listing.
  BpbFields f{4096, 1, 1, 1, 0, 0, 0xFFFFFFFF, 0, 0xFFFF0000, 2};
  const auto g = geometryOf(f);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->width, FatWidth::Fat32);
  EXPECT_EQ(g->clusterCount, 0xFFFEu);
  const auto v = scanFat(std::make_unique<TempImage>(f.bytes()), FatParserKind::Fat32);
  EXPECT_TRUE(v->scanned);
  EXPECT_TRUE(v->parser->topEntries().empty());
}

TEST(FatGeometry, AVolumeLargerThanItsImageIsReadAsFarAsItGoes) {
  // The data area runs past the image's end: what lies inside is read, the
  // rest reads as short, nothing fails.
  FatVolume volume(FatWidth::Fat16, 4200);
  volume.writeRoot(Directory().file("NEAR    BIN", 2, 512).file("FAR     BIN", 4000, 512));
  volume.chain({2});
  volume.chain({4000});
  volume.writeCluster(2, pattern(512, 1));
  auto image = volume.materialize();
  image->resize(volume.clusterOffset(100));
  const auto v = scanFat(std::move(image), FatParserKind::Fat16);
  ASSERT_TRUE(v->scanned);
  bool complete = false;
  EXPECT_EQ(v->content(v->find("NEAR.BIN"), &complete), pattern(512, 1));
  EXPECT_TRUE(complete);
  v->content(v->find("FAR.BIN"), &complete);
  EXPECT_FALSE(complete);
}

}  // namespace
}  // namespace quorvel::test
