// The string literals of the JSON Lines output: every name a damaged volume
// can hold must come out as valid JSON that reads back as the name.
#include <gtest/gtest.h>

#include "cli/JsonLine.h"

namespace quorvel::cli {
namespace {

TEST(CliJsonString, EscapesWhatJsonRequiresAndReplacesInvalidUtf8) {
  const struct {
    std::string text;
    const char* literal;
  } cases[] = {
      {"", "\"\""},
      {"plain name.txt", "\"plain name.txt\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\b", "\"a\\\\b\""},
      {"line\nfeed\rtab\t", "\"line\\nfeed\\rtab\\t\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x1f\x7f", "\"\\u001f\x7f\""},
      {"Caf\xC3\xA9 \xCE\xB1\xCE\xB2 \xF0\x9F\x98\x80", "\"Caf\xC3\xA9 \xCE\xB1\xCE\xB2 \xF0\x9F\x98\x80\""},
      {"bad\xFFname", "\"bad\xEF\xBF\xBDname\""},
      {"cut\xC3", "\"cut\xEF\xBF\xBD\""},            // a sequence cut off by the end
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},  // an overlong slash
      {"\"\xFF\"", "\"\\\"\xEF\xBF\xBD\\\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.literal);
    EXPECT_EQ(jsonString(c.text), c.literal);
  }
}

TEST(CliJsonLine, FieldsJoinIntoOneObject) {
  const std::string line = JsonLine()
                               .field("path", "ROOT/a\"b")
                               .field("size", std::uint64_t{42})
                               .field("folder", false)
                               .fieldOrNull("createdUtc", std::nullopt)
                               .str();
  EXPECT_EQ(line, "{\"path\":\"ROOT/a\\\"b\",\"size\":42,\"folder\":false,\"createdUtc\":null}");
}

}  // namespace
}  // namespace quorvel::cli
