// Damaged volumes: whatever the fields, a scan ends, every folder's children
// are finite and acyclic, and every entry's content can be streamed. The
// parser contract (tests/contract) spoils random bytes.
#include <gtest/gtest.h>

#include <set>

#include "fs/ntfs/NtfsBuilders.h"
#include "support/ContentSinks.h"

namespace quorvel::test {
namespace {

void exercise(const ScannedVolume& v) {
  std::set<EntryId> seen;
  std::vector<EntryId> stack = v.parser->topEntries();
  while (!stack.empty()) {
    const EntryId id = stack.back();
    stack.pop_back();
    ASSERT_TRUE(seen.insert(id).second) << "entry " << id << " reached twice";
    v.parser->name(id);
    v.parser->formatRow(id);
    v.parser->formatSize(id);
    CountingSink sink;
    v.parser->readContent(id, sink);
    if (!v.parser->isFolder(id)) {
      EXPECT_EQ(sink.bytes, v.parser->size(id)) << v.parser->name(id);
    }
    for (EntryId c : v.parser->children(id)) stack.push_back(c);
  }
}

TEST(NtfsDamagedVolumes, UndamagedVolumeReadsWhole) {
  const auto v = scanImage(richVolume().image());
  ASSERT_TRUE(v->scanned);
  EXPECT_NE(v->find("dir/sub/deep.txt"), kNoEntry);
  EXPECT_EQ(v->parser->size(v->find("dir/listed.bin")), 4 * 4096 - 7u);
  EXPECT_EQ(v->content(v->find("packed.bin")).size(), 5000u);
  exercise(*v);
}

TEST(NtfsDamagedVolumes, BootSectorFieldsOutOfRange) {
  struct Case {
    const char* name;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"sector size 0", 0x0B, {0, 0}},
      {"sector size 3", 0x0B, {3, 0}},
      {"cluster shift too large", 0x0D, {0x81}},
      {"record size 2^-31", 0x40, {0xE1}},
      {"record size 127 clusters", 0x40, {0x7F}},
      {"MFT beyond the volume", 0x30, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"total sectors huge", 0x28, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestVolume volume = richVolume();
    std::copy(c.bytes.begin(), c.bytes.end(), volume.bootSector().begin() + static_cast<std::ptrdiff_t>(c.offset));
    const auto v = scanImage(volume.image());
    ASSERT_TRUE(v->scanned);
    exercise(*v);
    // Every case still finds the files: from the boot sector or by searching.
    EXPECT_NE(v->find("dir/sub/deep.txt"), kNoEntry);
  }
}

}  // namespace
}  // namespace quorvel::test
