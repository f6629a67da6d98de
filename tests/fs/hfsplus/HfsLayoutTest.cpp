// The on-disk decoding: what is accepted, and what is refused before use.
#include <gtest/gtest.h>

#include "fs/hfsplus/HfsBuilders.h"
#include "fs/hfsplus/HfsVolumeHeader.h"

namespace quorvel::test {
namespace {

using namespace hfsfmt;

ByteVector headerBytes(const std::string& signature, std::uint16_t version, std::uint32_t blockSize, std::uint32_t blocks) {
  ByteVector h(512, 0);
  std::copy(signature.begin(), signature.end(), h.begin());
  h[2] = static_cast<std::uint8_t>(version >> 8);
  h[3] = static_cast<std::uint8_t>(version);
  putBe32(h, 40, blockSize);
  putBe32(h, 44, blocks);
  return h;
}

TEST(HfsVolumeHeaderDecoding, SignatureVersionBlockSizeAndCountDecide) {
  struct Case {
    const char* what;
    std::string signature;
    std::uint16_t version;
    std::uint32_t blockSize;
    std::uint32_t blocks;
    bool valid;
  };
  const Case cases[] = {
      {"HFS+", "H+", 4, 4096, 100, true},
      {"HFSX", "HX", 5, 4096, 100, true},
      {"smallest block", "H+", 4, 512, 100, true},
      {"largest block", "H+", 4, 65536, 100, true},
      {"8 KiB blocks", "H+", 4, 8192, 100, true},
      {"HFS (not plus)", "BD", 4, 4096, 100, false},
      {"no signature", "\0\0", 4, 4096, 100, false},
      {"version 3", "H+", 3, 4096, 100, false},
      {"version 0x0104", "H+", 0x0104, 4096, 100, false},
      {"block not a power of two", "H+", 4, 3000, 100, false},
      {"block too small", "H+", 4, 256, 100, false},
      {"block too large", "H+", 4, 131072, 100, false},
      {"block size 0", "H+", 4, 0, 100, false},
      {"no blocks", "H+", 4, 4096, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(decodeVolumeHeader(headerBytes(c.signature, c.version, c.blockSize, c.blocks)).valid(), c.valid);
  }
}

TEST(HfsBTreeDecoding, HeaderNodeNeedsItsKindAndANodeSizeATreeMayHave) {
  struct Case {
    std::uint16_t nodeSize;
    std::int8_t kind;
    bool accepted;
  };
  for (const Case c : {Case{512, 1, true}, Case{4096, 1, true}, Case{32768, 1, true}, Case{256, 1, false},
                       Case{3000, 1, false}, Case{0, 1, false}, Case{4096, 0, false}, Case{4096, -1, false}}) {
    SCOPED_TRACE(std::to_string(c.nodeSize) + " kind " + std::to_string(c.kind));
    ByteVector node(512, 0);
    node[8] = static_cast<std::uint8_t>(c.kind);
    node[11] = 3;
    node[32] = static_cast<std::uint8_t>(c.nodeSize >> 8);
    node[33] = static_cast<std::uint8_t>(c.nodeSize);
    putBe32(node, 36, 10);
    EXPECT_EQ(decodeHeaderNode(node).has_value(), c.accepted);
  }
}

TEST(HfsBTreeDecoding, RecordOffsetsMustRiseInsideTheNode) {
  struct Case {
    const char* what;
    std::vector<std::uint16_t> table;  // record 0 first
    bool accepted;
  };
  const Case cases[] = {
      {"in order", {14, 100, 300}, true},
      {"inside the descriptor", {10, 100}, false},
      {"out of order", {14, 300, 100}, false},
      {"repeated", {14, 14}, false},
      {"over the offset table", {14, 508}, false},
      {"past the node", {14, 60000}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ByteVector node(512, 0);
    for (std::size_t i = 0; i < c.table.size(); ++i) {
      node[512 - 2 * (i + 1)] = static_cast<std::uint8_t>(c.table[i] >> 8);
      node[512 - 2 * (i + 1) + 1] = static_cast<std::uint8_t>(c.table[i]);
    }
    const auto offsets = recordOffsets(node, static_cast<std::uint16_t>(c.table.size()));
    EXPECT_EQ(!offsets.empty(), c.accepted);
  }
  ByteVector node(512, 0);
  EXPECT_TRUE(recordOffsets(node, 300).empty()) << "a count whose table would not fit";
}

TEST(HfsCatalogDecoding, KeysThatDoNotAddUpAreSkipped) {
  const ByteVector good = folderRecord(2, u"Docs", 20);
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint16_t value;
    bool decoded;
  };
  const Case cases[] = {
      {"as made", 0, 6 + 8, true},
      {"key length not the name's", 0, 6 + 10, false},
      {"name length over 255", 6, 300, false},
      {"empty name", 6, 0, false},
      {"record type 7", 16, 7, false},
      {"thread record", 16, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ByteVector r = good;
    r[c.offset] = static_cast<std::uint8_t>(c.value >> 8);
    r[c.offset + 1] = static_cast<std::uint8_t>(c.value);
    if (std::string(c.what) == "empty name") r[1] = 6;
    const ByteVector node = leafNode(512, {r});
    EXPECT_EQ(decodeCatalogRecord(node, 14).has_value(), c.decoded);
  }
}

TEST(HfsCatalogDecoding, NamesAreComposedAndRecordsCutByTheNodeEndAreSkipped) {
  const ByteVector node = leafNode(512, {folderRecord(2, u"cafe\u0301", 20)});
  const auto r = decodeCatalogRecord(node, 14);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->name, "caf\u00e9");
  EXPECT_EQ(r->id, 20u);
  // A file record needs 248 bytes after its key.
  const ByteVector file = leafNode(512, {fileRecord({.name = u"f", .id = 30})});
  EXPECT_TRUE(decodeCatalogRecord(file, 14));
  const ByteVector cut(file.begin(), file.begin() + 14 + 12 + 200);
  EXPECT_FALSE(decodeCatalogRecord(Bytes(cut), 14));
}

TEST(HfsDates, CountFrom1904InUtc) {
  EXPECT_FALSE(fromHfsDate(0));
  EXPECT_EQ(fromHfsDate(2082844800)->seconds, 0);            // 1970-01-01
  EXPECT_EQ(fromHfsDate(3763519628u)->seconds, 1680674828);  // 2023-04-05 06:07:08
  EXPECT_EQ(fromHfsDate(1)->seconds, -2082844799);
}

}  // namespace
}  // namespace quorvel::test
