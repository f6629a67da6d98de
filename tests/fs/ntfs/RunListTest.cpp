#include <gtest/gtest.h>

#include "fs/ntfs/NtfsBuilders.h"
#include "fs/ntfs/RunList.h"

namespace quorvel::ntfsfmt {
namespace {

using test::ByteVector;

// A run as the tables write it: VCN, length, LCN (-1 sparse).
struct PlainRun {
  std::uint64_t vcn;
  std::uint64_t length;
  std::int64_t lcn;
};

std::vector<DataRun> dataRuns(const std::vector<PlainRun>& plain) {
  std::vector<DataRun> runs;
  for (const PlainRun& p : plain) runs.push_back({p.vcn, p.length, Lcn{p.lcn}});
  return runs;
}

struct RunListCase {
  const char* name;
  ByteVector pairs;
  std::uint64_t firstVcn;
  std::uint64_t vcnCount;
  std::vector<PlainRun> runs;
  RunListEnd end;
};

void PrintTo(const RunListCase& c, std::ostream* os) { *os << c.name; }

class NtfsRunListDecoding : public testing::TestWithParam<RunListCase> {};

TEST_P(NtfsRunListDecoding, DecodesRunsAndSaysHowTheListEnded) {
  const RunListCase& c = GetParam();
  std::vector<DataRun> runs;
  EXPECT_EQ(decodeRunList(c.pairs, c.firstVcn, c.vcnCount, runs), c.end);
  EXPECT_EQ(runs, dataRuns(c.runs));
}

constexpr std::int64_t kSparse = -1;

INSTANTIATE_TEST_SUITE_P(
    Cases, NtfsRunListDecoding,
    testing::Values(
        RunListCase{"OneRun", {0x11, 0x10, 0x20, 0x00}, 0, 16, {{0, 16, 0x20}}, RunListEnd::Terminated},
        // The second offset is -16, relative to the first run's cluster.
        RunListCase{"NegativeOffset", {0x11, 0x08, 0x40, 0x11, 0x04, 0xF0, 0x00}, 0, 12,
                    {{0, 8, 0x40}, {8, 4, 0x30}}, RunListEnd::Terminated},
        // A sparse run has no offset; the next offset counts from the last real run.
        RunListCase{"SparseRunInTheMiddle", {0x11, 0x04, 0x10, 0x01, 0x08, 0x11, 0x04, 0x05, 0x00}, 0, 16,
                    {{0, 4, 0x10}, {4, 8, kSparse}, {12, 4, 0x15}}, RunListEnd::Terminated},
        RunListCase{"ThreeByteOffsetMinusOne", {0x11, 0x02, 0x64, 0x31, 0x01, 0xFF, 0xFF, 0xFF, 0x00}, 0, 3,
                    {{0, 2, 100}, {2, 1, 99}}, RunListEnd::Terminated},
        // Eight-byte length and offset fields, read whole.
        RunListCase{"EightByteFields",
                    {0x88, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0x00},
                    0, 1ull << 40, {{0, 1ull << 32, 1ll << 40}}, RunListEnd::Terminated},
        RunListCase{"EightByteSparseLength", {0x08, 0, 0, 0, 0, 0, 1, 0, 0, 0x00}, 0, 1ull << 48,
                    {{0, 1ull << 40, kSparse}}, RunListEnd::Terminated},
        RunListCase{"StartsAtTheExtentsFirstVcn", {0x11, 0x04, 0x10, 0x00}, 100, 4, {{100, 4, 0x10}},
                    RunListEnd::Terminated},
        RunListCase{"FieldCutByTheEnd", {0x11, 0x04, 0x10, 0x21, 0x10, 0x00}, 0, 64, {{0, 4, 0x10}},
                    RunListEnd::Truncated},
        RunListCase{"NoEndMarker", {0x11, 0x04, 0x10}, 0, 64, {{0, 4, 0x10}}, RunListEnd::Truncated},
        RunListCase{"FieldWiderThanEightBytes", {0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0x00}, 0, 64, {},
                    RunListEnd::Damaged},
        RunListCase{"ClusterBeforeTheVolume", {0x11, 0x01, 0xF0, 0x00}, 0, 1, {}, RunListEnd::Damaged},
        RunListCase{"ZeroLength", {0x11, 0x00, 0x10, 0x00}, 0, 1, {}, RunListEnd::Damaged},
        // More clusters than the extent's VCN range: the run that overruns is dropped.
        RunListCase{"RunPastTheLastVcn", {0x11, 0x08, 0x10, 0x11, 0x04, 0x20, 0x00}, 0, 10, {{0, 8, 0x10}},
                    RunListEnd::Overrun},
        RunListCase{"EmptyAttribute", {0x00}, 0, 0, {}, RunListEnd::Terminated}),
    [](const testing::TestParamInfo<RunListCase>& info) { return info.param.name; });

TEST(NtfsRunListEncoding, TestEncoderRoundTripsThroughTheDecoder) {
  const std::vector<test::RunSpec> specs = {{5, 1000}, {3, -1}, {7, 12}, {1, 70000000000}};
  std::vector<DataRun> runs;
  ASSERT_EQ(decodeRunList(test::encodeRuns(specs), 0, 16, runs), RunListEnd::Terminated);
  const std::vector<DataRun> expected = {{0, 5, Lcn{1000}}, {5, 3, Lcn{-1}}, {8, 7, Lcn{12}}, {15, 1, Lcn{70000000000}}};
  EXPECT_EQ(runs, expected);
}

TEST(NtfsRunLookup, FindsTheRunOfAVcnAndNothingInGaps) {
  std::vector<DataRun> runs = {{8, 4, Lcn{50}}, {0, 4, Lcn{10}}, {2, 4, Lcn{99}}};
  normaliseRuns(runs);
  // The overlapping third run was dropped, the rest sorted.
  ASSERT_EQ(runs, (std::vector<DataRun>{{0, 4, Lcn{10}}, {8, 4, Lcn{50}}}));
  EXPECT_EQ(findRun(runs, 3)->lcn, Lcn{10});
  EXPECT_EQ(findRun(runs, 8)->lcn, Lcn{50});
  EXPECT_EQ(findRun(runs, 5), nullptr);
  EXPECT_EQ(findRun(runs, 12), nullptr);
}

}  // namespace
}  // namespace quorvel::ntfsfmt
