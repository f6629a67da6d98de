// What `ls --json` and `search --json` print on volume images made by the
// real formatting tools: every field with its type, ids that name one entry
// each and stay the same from run to run, and search objects that are the
// listing's own. The times themselves are checked against The Sleuth Kit
// in the FAT and NTFS end-to-end tests.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include "support/CliListing.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace test;

class CliJsonLines : public ::testing::TestWithParam<std::string> {
 protected:
  std::string image() const { return fixtureImage(GetParam()).string(); }
};

TEST_P(CliJsonLines, EntriesCarryTypedFieldsAndLastingIds) {
  const CommandResult first = cli({"ls", image(), "--volume-image", "--json"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  // Throws, failing the test, on a missing field or one of another type.
  const Listing listing = parseListing(first.out);
  ASSERT_FALSE(listing.entries.empty());

  const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
  std::set<std::int64_t> ids;
  std::vector<std::string> problems;
  for (const LsEntry& e : listing.entries) {
    if (e.id < 0 || !ids.insert(e.id).second) problems.push_back(e.path + ": id " + std::to_string(e.id) + " again");
    for (const auto* time : {&e.createdUtc, &e.accessedUtc, &e.modifiedUtc})
      if (*time && !std::regex_match(**time, utc)) problems.push_back(e.path + ": time text \"" + **time + "\"");
  }
  expectNoProblems(problems, "entries with bad ids or time texts");

  const CommandResult second = cli({"ls", image(), "--volume-image", "--json"});
  EXPECT_TRUE(second.out == first.out) << "a second run printed other objects";

  // Every search hit is printed as the listing prints that entry.
  std::map<std::int64_t, std::string> lineById;
  std::istringstream lines(first.out);
  for (std::string line; std::getline(lines, line);) lineById[jsonInteger(parseJsonObject(line), "id")] = line;
  const CommandResult search = cli({"search", image(), "--volume-image", "--json", "."});
  ASSERT_EQ(search.exitCode, 0) << search.err;
  std::istringstream hits(search.out);
  std::size_t hitCount = 0;
  for (std::string line; std::getline(hits, line); ++hitCount) {
    const auto listed = lineById.find(jsonInteger(parseJsonObject(line), "id"));
    ASSERT_NE(listed, lineById.end()) << line;
    EXPECT_EQ(line, listed->second);
  }
  EXPECT_GT(hitCount, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, CliJsonLines,
                         ::testing::Values("vol-ntfs.img", "vol-fat12.img", "vol-fat16.img", "vol-fat32.img"),
                         [](const auto& info) {
                           std::string name;
                           for (const char c : info.param.substr(4, info.param.find('.') - 4))
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           return name;
                         });

}  // namespace
}  // namespace quorvel
