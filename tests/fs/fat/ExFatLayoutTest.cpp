// The exFAT boot sector and the layout it implies; damaged boot sectors are
// turned away with the parser's message, whatever the field.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <functional>

#include "fs/fat/ExFatBuilders.h"
#include "fs/exfat/ExFatLayout.h"

namespace quorvel::test {
namespace {

using exfatfmt::ExFatGeometry;

const std::vector<std::string> kNotExFat{"Selected Drive is not in exFat Format"};

struct BootFields {
  std::uint64_t volumeLength = 0;
  std::uint32_t fatOffset = 0;
  std::uint32_t fatLength = 0;
  std::uint32_t heapOffset = 0;
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
  std::uint16_t volumeFlags = 0;
  std::uint8_t bytesPerSectorShift = 9;
  std::uint8_t sectorsPerClusterShift = 0;
  std::uint8_t fats = 1;

  static BootFields readFrom(const ByteVector& s) {
    BootFields f;
    f.volumeLength = le64(s, 0x48);
    f.fatOffset = le32(s, 0x50);
    f.fatLength = le32(s, 0x54);
    f.heapOffset = le32(s, 0x58);
    f.clusterCount = le32(s, 0x5C);
    f.rootCluster = le32(s, 0x60);
    f.volumeFlags = le16(s, 0x6A);
    f.bytesPerSectorShift = s[0x6C];
    f.sectorsPerClusterShift = s[0x6D];
    f.fats = s[0x6E];
    return f;
  }
  void writeInto(ByteVector& s) const {
    putLe64(s, 0x48, volumeLength);
    putLe32(s, 0x50, fatOffset);
    putLe32(s, 0x54, fatLength);
    putLe32(s, 0x58, heapOffset);
    putLe32(s, 0x5C, clusterCount);
    putLe32(s, 0x60, rootCluster);
    putLe16(s, 0x6A, volumeFlags);
    s[0x6C] = bytesPerSectorShift;
    s[0x6D] = sectorsPerClusterShift;
    s[0x6E] = fats;
  }
  ByteVector bytes() const {
    ByteVector s(512, 0);
    putText(s, 3, "EXFAT   ");
    writeInto(s);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
  }
};

std::optional<ExFatGeometry> geometryOf(const BootFields& f) {
  return exfatfmt::exFatGeometry(exfatfmt::decodeBootSector(f.bytes()));
}

// 2400 clusters of 512 bytes: FAT at sector 24, 19 sectors long, heap at 43.
BootFields small() { return {2443, 24, 19, 43, 2400, 4, 0, 9, 0, 1}; }

struct Layout {
  std::uint32_t bytesPerSector, clusterSize;
  std::uint64_t fatOffset, fatBytes, heapOffset;
  std::uint32_t clusterCount;
  std::uint64_t volumeBytes;
};

TEST(ExFatGeometry, LayoutsFollowFromTheBootSector) {
  constexpr std::uint32_t k32MiB = 32u << 20;
  const struct {
    const char* what;
    BootFields fields;
    Layout layout;
  } cases[] = {
      {"512-byte sectors and clusters", small(), {512, 512, 24 * 512, 19 * 512, 43 * 512, 2400, 2443 * 512}},
      {"4 KiB sectors, 256 KiB clusters",
       {100000, 128, 8, 256, 1000, 5, 0, 12, 6, 1},
       {4096, 262144, 128 * 4096, 8 * 4096, 256 * 4096, 1000, 100000ull * 4096}},
      {"32 MiB clusters from small sectors",
       {1ull << 30, 24, 1, 2048, 10, 2, 0, 9, 16, 1},
       {512, k32MiB, 24 * 512, 512, 2048 * 512, 10, (1ull << 30) * 512}},
      {"32 MiB clusters from 4 KiB sectors",
       {1ull << 20, 24, 1, 32, 10, 2, 0, 12, 13, 1},
       {4096, k32MiB, 24 * 4096, 4096, 32 * 4096, 10, (1ull << 20) * 4096}},
      // The second FAT is the active one only when the flag says so and there is one.
      {"two FATs, the first active",
       {2462, 24, 19, 62, 2400, 4, 0, 9, 0, 2},
       {512, 512, 24 * 512, 19 * 512, 62 * 512, 2400, 2462 * 512}},
      {"two FATs, the second active",
       {2462, 24, 19, 62, 2400, 4, 1, 9, 0, 2},
       {512, 512, 43 * 512, 19 * 512, 62 * 512, 2400, 2462 * 512}},
      {"two FATs, other flags only",
       {2462, 24, 19, 62, 2400, 4, 6, 9, 0, 2},
       {512, 512, 24 * 512, 19 * 512, 62 * 512, 2400, 2462 * 512}},
      {"one FAT, the flag set anyway",
       {2443, 24, 19, 43, 2400, 4, 1, 9, 0, 1},
       {512, 512, 24 * 512, 19 * 512, 43 * 512, 2400, 2443 * 512}},
      // A count beyond what the heap or the FAT holds is cut to it.
      {"count beyond the heap",
       {2443, 24, 19, 43, 5000, 4, 0, 9, 0, 1},
       {512, 512, 24 * 512, 19 * 512, 43 * 512, 2400, 2443 * 512}},
      {"count beyond the FAT",
       {2443, 24, 1, 43, 2400, 4, 0, 9, 0, 1},
       {512, 512, 24 * 512, 512, 43 * 512, 126, 2443 * 512}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto g = geometryOf(c.fields);
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->bytesPerSector, c.layout.bytesPerSector);
    EXPECT_EQ(g->clusterSize, c.layout.clusterSize);
    EXPECT_EQ(g->fatOffset, c.layout.fatOffset);
    EXPECT_EQ(g->fatBytes, c.layout.fatBytes);
    EXPECT_EQ(g->heapOffset, c.layout.heapOffset);
    EXPECT_EQ(g->clusterCount, c.layout.clusterCount);
    EXPECT_EQ(g->rootCluster, c.fields.rootCluster);
    EXPECT_EQ(g->volumeBytes, c.layout.volumeBytes);
  }
}

TEST(ExFatGeometry, TheBuilderMakesTheLayoutItMeans) {
  // The other tests trust ExFatVolume's arithmetic; check it once here.
  for (const auto& [clusters, spcShift, bpsShift] : {std::tuple{2400u, 0u, 9u}, std::tuple{600u, 3u, 12u}}) {
    ExFatVolume volume(clusters, spcShift, bpsShift);
    const auto g = exfatfmt::exFatGeometry(exfatfmt::decodeBootSector(volume.bootSector()));
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->clusterCount, clusters);
    EXPECT_EQ(g->clusterSize, volume.clusterSize());
    EXPECT_EQ(g->heapOffset, volume.clusterOffset(2));
    EXPECT_EQ(g->fatOffset, volume.fatOffset());
    EXPECT_EQ(g->rootCluster, volume.rootCluster());
    EXPECT_EQ(g->volumeBytes, volume.size());
  }
}

struct Spoil {
  const char* what;
  std::function<void(BootFields&)> apply;
};

// Each spoils one field of small().
const Spoil kSpoiledFields[] = {
    {"sector shift 0", [](BootFields& f) { f.bytesPerSectorShift = 0; }},
    {"sector shift 8", [](BootFields& f) { f.bytesPerSectorShift = 8; }},
    {"sector shift 13", [](BootFields& f) { f.bytesPerSectorShift = 13; }},
    {"sector shift 255", [](BootFields& f) { f.bytesPerSectorShift = 255; }},
    {"cluster shift past 32 MiB", [](BootFields& f) { f.sectorsPerClusterShift = 17; }},
    {"cluster shift 255", [](BootFields& f) { f.sectorsPerClusterShift = 255; }},
    {"no FAT offset", [](BootFields& f) { f.fatOffset = 0; }},
    {"no FAT length", [](BootFields& f) { f.fatLength = 0; }},
    {"heap inside the FAT", [](BootFields& f) { f.heapOffset = 42; }},
    {"heap at the volume's end", [](BootFields& f) { f.heapOffset = 2443; }},
    {"heap past the volume's end", [](BootFields& f) { f.heapOffset = 0xFFFFFFFF; }},
    {"no volume length", [](BootFields& f) { f.volumeLength = 0; }},
    {"volume ends inside the FAT", [](BootFields& f) { f.volumeLength = 30; }},
    {"no clusters", [](BootFields& f) { f.clusterCount = 0; }},
    {"no FATs", [](BootFields& f) { f.fats = 0; }},
    {"three FATs", [](BootFields& f) { f.fats = 3; }},
    {"two FATs, the heap inside the second", [](BootFields& f) { f.fats = 2; }},
};

TEST(ExFatGeometry, AbsurdFieldsDescribeNoVolume) {
  ASSERT_TRUE(geometryOf(small()).has_value());
  for (const Spoil& s : kSpoiledFields) {
    SCOPED_TRACE(s.what);
    BootFields f = small();
    s.apply(f);
    EXPECT_FALSE(geometryOf(f).has_value());
  }
}

TEST(ExFatGeometry, AbsurdFieldsEndTheScanWithTheParsersMessage) {
  const auto spoiledName = [](const char* name) {
    return [name](ExFatVolume& v) { putText(v.bootSector(), 3, name); };
  };
  std::vector<std::pair<std::string, std::function<void(ExFatVolume&)>>> spoils{
      {"name NTFS", spoiledName("NTFS    ")},
      {"name in lower case", spoiledName("exfat   ")},
      {"name without its padding", [](ExFatVolume& v) { std::fill_n(v.bootSector().begin() + 8, 3, 0); }},
  };
  for (const Spoil& s : kSpoiledFields)
    spoils.emplace_back(s.what, [&s](ExFatVolume& v) {
      BootFields f = BootFields::readFrom(v.bootSector());
      s.apply(f);
      f.writeInto(v.bootSector());
    });
  for (const auto& [what, apply] : spoils) {
    SCOPED_TRACE(what);
    ExFatVolume volume(2400);
    ASSERT_EQ(BootFields::readFrom(volume.bootSector()).heapOffset, small().heapOffset);
    volume.writeRoot(ExFatDirectory().set(exFile(u"a.txt", 0, 0)));
    apply(volume);
    const auto v = scanExFat(volume);
    EXPECT_FALSE(v->scanned);
    EXPECT_EQ(v->observer.messages, kNotExFat);
    EXPECT_TRUE(v->parser->topEntries().empty());
  }
}

TEST(ExFatGeometry, AGoodScanSaysWhatItDoesAndNothingElse) {
  ExFatVolume volume(2400);
  volume.writeRoot(ExFatDirectory().set(exFile(u"a.txt", 0, 0)));
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_TRUE(v->observer.messages.empty());
  EXPECT_EQ(v->observer.statuses, (std::vector<std::string>{"processing file and directory entries...",
                                                            "Finding Fat64 File And Directory entries recursively....",
                                                            "creating tree Structure..."}));
  EXPECT_EQ(v->topNames(), (std::vector<std::string>{"a.txt"}));
}

TEST(ExFatGeometry, ImagesTooShortForABootSectorCannotBeRead) {
  for (const std::size_t length : {std::size_t{0}, std::size_t{11}, std::size_t{100}, std::size_t{511}}) {
    SCOPED_TRACE(length);
    ByteVector head = ExFatVolume(2400).bootSector();
    head.resize(length);
    const auto v = scanExFat(std::make_unique<TempImage>(head));
    EXPECT_FALSE(v->scanned);
    EXPECT_EQ(v->observer.messages, (std::vector<std::string>{"cant read file", kNotExFat[0]}));
  }
}

TEST(ExFatGeometry, ARootClusterThatIsNoClusterLeavesAnEmptyCatalogue) {
  for (const std::uint32_t root : {0u, 1u, 2402u, 0xFFFFFFF7u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(root);
    ExFatVolume volume(2400);
    volume.writeRoot(ExFatDirectory().set(exFile(u"a.txt", 0, 0)));
    putLe32(volume.bootSector(), 0x60, root);
    const auto v = scanExFat(volume);
    EXPECT_TRUE(v->scanned);
    EXPECT_EQ(v->observer.messages, (std::vector<std::string>{"error..."}));
    EXPECT_TRUE(v->parser->topEntries().empty());
    EXPECT_EQ(v->observer.statuses.back(), "creating tree Structure...");
  }
}

long peakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(ExFatGeometry, TheLargestVolumeABootSectorCanClaimIsNoBurdenOnATinyImage) {
  // 4 KiB sectors, 32 MiB clusters, a FAT of almost 2^32 sectors and the
  // largest cluster count, in a one-sector image: nothing to list, and
  // neither the FAT nor the folder claims may be sized by those numbers.
  const BootFields huge{~0ull, 1, 0xFFFFFFF0, 0xFFFFFFF1, 0xFFFFFFF5, 2, 0, 12, 13, 1};
  const auto g = geometryOf(huge);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->clusterCount, 0xFFFFFFF5u);
  EXPECT_EQ(g->volumeBytes, ~0ull);  // saturated, not wrapped
  const long before = peakResidentKiB();
  const auto v = scanExFat(std::make_unique<TempImage>(huge.bytes()));
  EXPECT_TRUE(v->scanned);
  EXPECT_TRUE(v->parser->topEntries().empty());
  EXPECT_LT(peakResidentKiB() - before, 64 * 1024);
}

TEST(ExFatGeometry, TheVolumeFlagChoosesTheFatCopy) {
  // The two copies disagree about a file's second cluster.
  for (const bool second : {false, true}) {
    SCOPED_TRACE(second);
    ExFatVolume volume(2400, 0, 9, 2);
    const std::uint32_t cs = volume.clusterSize();
    volume.chain({20, 21});
    volume.setFatCopy(1, 20, 30);
    volume.setFatCopy(1, 30, 0xFFFFFFFF);
    volume.writeCluster(20, ByteVector(cs, 'a'));
    volume.writeCluster(21, ByteVector(cs, 'b'));
    volume.writeCluster(30, ByteVector(cs, 'c'));
    volume.writeRoot(ExFatDirectory().set(exFile(u"two.bin", 20, 2 * cs)));
    putLe16(volume.bootSector(), 0x6A, second ? 1 : 0);
    const auto v = scanExFat(volume);
    ASSERT_TRUE(v->scanned);
    ByteVector expected(cs, 'a');
    expected.resize(2 * cs, second ? 'c' : 'b');
    bool complete = false;
    EXPECT_EQ(v->content(v->find("two.bin"), &complete), expected);
    EXPECT_TRUE(complete);
  }
}

}  // namespace
}  // namespace quorvel::test
