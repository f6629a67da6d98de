#include "fs/UnicodeText.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(ComposedNfc, ComposesDecomposedNamesAndLeavesTheRestAlone) {
  const struct {
    const char* stored;
    const char* composed;
  } cases[] = {
      {"Cafe\xCC\x81.txt", "Caf\xC3\xA9.txt"},                  // e + combining acute
      {"\xE3\x81\x8B\xE3\x82\x99", "\xE3\x81\x8C"},              // ka + voiced mark = ga
      {"\xD0\x98\xCC\x86", "\xD0\x99"},                          // Cyrillic short i
      {"plain.txt", "plain.txt"},
      {"", ""},
      {"\xEF\xAC\x81", "\xEF\xAC\x81"},                          // a ligature stays (not NFKC)
      {"bad\xFF\xFEname", "bad\xFF\xFEname"},                    // invalid UTF-8 comes back as it was
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    EXPECT_EQ(composedNfc(c.stored), c.composed);
  }
}

}  // namespace
}  // namespace quorvel
