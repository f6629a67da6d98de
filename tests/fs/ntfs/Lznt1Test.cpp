#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/Lznt1Writer.h"

namespace quorvel::ntfsfmt {
namespace {

using ByteVector = std::vector<std::uint8_t>;
using test::Lznt1Chunk;

ByteVector decode(const ByteVector& in, std::size_t capacity, bool* ok = nullptr, std::size_t* produced = nullptr) {
  ByteVector out(capacity, 0xCC);
  const Lznt1Result r = lznt1Decompress(in, out);
  if (ok) *ok = r.ok;
  if (produced) *produced = r.produced;
  return out;
}

ByteVector bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

TEST(NtfsLznt1, LiteralsAndZerosAfterTheEnd) {
  Lznt1Chunk chunk;
  chunk.literals("hello");
  bool ok = false;
  std::size_t produced = 0;
  const ByteVector out = decode(chunk.bytes(), 16, &ok, &produced);
  EXPECT_TRUE(ok);
  EXPECT_EQ(produced, 5u);
  EXPECT_EQ(out, bytesOf(std::string("hello") + std::string(11, '\0')));
}

TEST(NtfsLznt1, OverlappingBackReferenceRepeatsItsSource) {
  Lznt1Chunk chunk;
  chunk.literals("ab").reference(2, 9);
  EXPECT_EQ(decode(chunk.bytes(), 11), bytesOf("ababababab" "a"));
  Lznt1Chunk run;
  run.literals("x").reference(1, 4095);  // one byte filling the whole chunk
  EXPECT_EQ(decode(run.bytes(), 4096), ByteVector(4096, 'x'));
}

// The split between displacement and length moves with the position in the
// chunk: 4 displacement bits up to 16 bytes in, up to 12 bits near the end.
TEST(NtfsLznt1, BackReferencesAtEveryDisplacementWidth) {
  struct Case {
    std::size_t position;
    std::size_t displacement;
    std::size_t length;
  };
  for (const Case c : {Case{16, 16, 5}, Case{17, 17, 3}, Case{40, 33, 5}, Case{100, 90, 20},
                       Case{1000, 900, 60}, Case{2100, 2000, 17}, Case{3000, 2999, 18}, Case{4000, 4000, 3}}) {
    SCOPED_TRACE(c.position);
    // 256 distinct bytes, then copies of them up to the position, so long
    // prefixes still fit one compressed chunk.
    ByteVector expected;
    Lznt1Chunk chunk;
    const auto copy = [&](std::size_t displacement, std::size_t length) {
      chunk.reference(displacement, length);
      for (std::size_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - displacement]);
    };
    for (std::size_t i = 0; i < std::min<std::size_t>(c.position, 256); ++i) expected.push_back(static_cast<std::uint8_t>(i * 131 + 7));
    chunk.literals(expected);
    while (c.position - expected.size() >= 3) {
      const std::size_t left = c.position - expected.size();
      std::size_t take = std::min(chunk.maxLength(), left);
      if (left - take > 0 && left - take < 3) take -= 3;
      copy(256, take);
    }
    while (expected.size() < c.position) {
      const std::uint8_t b = expected[expected.size() - 256];
      chunk.literals(ByteVector{b});
      expected.push_back(b);
    }
    ASSERT_EQ(chunk.position(), c.position);
    copy(c.displacement, c.length);
    bool ok = false;
    const ByteVector out = decode(chunk.bytes(), expected.size(), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, expected);
  }
}

TEST(NtfsLznt1, StoredChunkIsCopied) {
  ByteVector raw(4096);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  ByteVector in = {0xFF, 0x3F};  // size 4096, compressed bit clear
  in.insert(in.end(), raw.begin(), raw.end());
  bool ok = false;
  EXPECT_EQ(decode(in, 4096, &ok), raw);
  EXPECT_TRUE(ok);
}

TEST(NtfsLznt1, EveryChunkStartsOnA4096ByteBoundary) {
  Lznt1Chunk first;
  first.literals("short");
  Lznt1Chunk second;
  second.literals("next");
  ByteVector in = first.bytes();
  const ByteVector more = second.bytes();
  in.insert(in.end(), more.begin(), more.end());
  const ByteVector out = decode(in, 8192);
  EXPECT_EQ(ByteVector(out.begin(), out.begin() + 5), bytesOf("short"));
  EXPECT_EQ(ByteVector(out.begin() + 5, out.begin() + 4096), ByteVector(4091, 0));
  EXPECT_EQ(ByteVector(out.begin() + 4096, out.begin() + 4100), bytesOf("next"));
}

TEST(NtfsLznt1, ZeroHeaderEndsTheData) {
  Lznt1Chunk chunk;
  chunk.literals("abc");
  ByteVector in = chunk.bytes();
  in.insert(in.end(), {0x00, 0x00, 0x05, 0xB0, 'z', 'z'});
  bool ok = false;
  const ByteVector out = decode(in, 8192, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(ByteVector(out.begin(), out.begin() + 3), bytesOf("abc"));
  EXPECT_EQ(std::count(out.begin() + 3, out.end(), 0), 8189);
}

TEST(NtfsLznt1, DamageStopsAndZeroesTheRest) {
  struct Case {
    const char* name;
    ByteVector in;
    std::size_t produced;
  };
  // A reference before anything was produced reaches outside the chunk.
  const ByteVector refFirst = {0x02, 0xB0, 0x01, 0x00, 0x00};
  // The chunk claims more bytes than there are.
  const ByteVector cut = {0x10, 0xB0, 0x00, 'a', 'b'};
  // Flag says token, but only one byte of it is left in the chunk.
  const ByteVector halfToken = {0x02, 0xB0, 0x02, 'a', 0x01};
  // Displacement 3 after one byte.
  const ByteVector tooFar = {0x03, 0xB0, 0x02, 'a', 0x00, 0x20};
  for (const Case& c : {Case{"reference first", refFirst, 0}, Case{"chunk past the input", cut, 0},
                        Case{"half a token", halfToken, 1}, Case{"displacement too far", tooFar, 1}}) {
    SCOPED_TRACE(c.name);
    bool ok = true;
    std::size_t produced = 99;
    const ByteVector out = decode(c.in, 64, &ok, &produced);
    EXPECT_FALSE(ok);
    EXPECT_EQ(produced, c.produced);
    EXPECT_EQ(std::count(out.begin() + static_cast<std::ptrdiff_t>(c.produced), out.end(), 0),
              static_cast<std::ptrdiff_t>(64 - c.produced));
  }
}

TEST(NtfsLznt1, OutputSmallerThanTheDataIsFilledNotOverrun) {
  Lznt1Chunk chunk;
  chunk.literals("x").reference(1, 4095);
  bool ok = true;
  const ByteVector out = decode(chunk.bytes(), 100, &ok);
  EXPECT_FALSE(ok);  // the reference does not fit the output
  EXPECT_EQ(out[0], 'x');
}

}  // namespace
}  // namespace quorvel::ntfsfmt
