// Inputs that once crashed, hung or over-allocated a parser, kept under
// tests/regressions/TARGET/ and replayed through the fuzz targets' steps
// (attach, scan, list, read every entry) without a fuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/FuzzHarness.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

TEST(Regressions, EveryKeptInputIsReadWithoutFault) {
  const fs::path root = QUORVEL_REGRESSION_DIR;
  std::vector<fs::path> inputs;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().parent_path() != root) inputs.push_back(e.path());
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& input : inputs) {
    SCOPED_TRACE(input.string());
    EXPECT_TRUE(fuzz::exerciseTarget(input.parent_path().filename().string(), input.string()))
        << "no fuzz target is named by the input's folder";
  }
}

// Every kind with a parser is fuzzed: its row names a target that the
// build makes and the harness runs with that kind's parser.
TEST(Regressions, EveryKindWithAParserHasItsOwnFuzzTarget) {
  std::set<std::string> built;
  std::istringstream names(QUORVEL_FUZZ_TARGETS);
  for (std::string name; names >> name;) built.insert(name);
  std::set<std::string_view> seen;
  for (const FileSystemKind& row : fileSystemKinds()) {
    if (!row.create) continue;
    SCOPED_TRACE(row.kindTexts.front());
    EXPECT_TRUE(seen.insert(row.fuzzTarget).second) << "two kinds share the target " << row.fuzzTarget;
    EXPECT_TRUE(built.count(std::string(row.fuzzTarget))) << row.fuzzTarget << " is not in fuzz/targets.cmake";
    EXPECT_EQ(fuzz::fileSystemTarget(row.fuzzTarget), row.id);
  }
  EXPECT_FALSE(fuzz::fileSystemTarget("partitions").has_value());
}

}  // namespace
}  // namespace quorvel
