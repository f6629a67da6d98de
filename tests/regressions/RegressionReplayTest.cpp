// Inputs that once crashed, hung or over-allocated a parser, kept under
// tests/regressions/TARGET/ and replayed through the fuzz targets' steps
// (attach, scan, list, read every entry) without a fuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

}  // namespace
}  // namespace quorvel
