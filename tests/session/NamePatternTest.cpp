#include "session/NamePattern.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

struct MatchCase {
  std::string pattern;
  std::string name;
  bool matches;
};

void expectMatches(const MatchCase& c) {
  const auto pattern = NamePattern::compile(c.pattern);
  ASSERT_TRUE(pattern) << c.pattern;
  EXPECT_EQ(pattern->matchesPattern(c.name), c.matches) << c.pattern << " on " << c.name;
}

TEST(NamePattern, MatchesAnywhereIgnoringCaseInAnyScript) {
  const MatchCase cases[] = {
      {"jpg|png", "Photo.JPG", true},
      {"jpg|png", "icon.png", true},
      {"jpg|png", "notes.txt", false},
      {"^a", "Apple.doc", true},
      {"^a", "banana", false},
      {"\\.txt$", "read.me.TXT", true},
      {"\\.txt$", "txt.doc", false},
      {"été", "RÉSUMÉ-ÉTÉ.pdf", true},                     // Latin
      {"ΣΟΦΊΑ", "σοφία.txt", true},                        // Greek
      {"οδος", "ΟΔΟΣ.txt", true},                          // Greek final sigma folds with both others
      {"привет", "ПРИВЕТ.txt", true},                      // Cyrillic
      {"ЁЛКА", "ёлка.jpg", true},                          // Cyrillic outside the basic alphabet
      {"բարեւ", "ԲԱՐԵՒ.doc", true},                        // Armenian
      {"ǆ", "Ǆ ǅ", true},                                  // a title-case letter between the two cases
      {"😀", "smile 😀.png", true},
      {"^.{3}$", "日本語", true},                           // '.' is one character, not one byte
      {"report", "rep\xff" "ort", false},
      {"^caf.\\.txt$", "caf\xe9.txt", true},               // a damaged byte is still one character
  };
  for (const MatchCase& c : cases) expectMatches(c);
}

// Patterns that make a backtracking matcher take time exponential in the
// name's length; each must simply finish, with the right answer.
TEST(NamePattern, PathologicalPatternsFinishWithTheRightAnswer) {
  const std::string dots(200, '.');
  const std::string as(5000, 'a');
  const std::string xs(255, 'x');
  const MatchCase cases[] = {
      {"^(.|..)*Z$", dots, false},
      {"^(.|..)*Z$", dots + "z", true},
      {"^(.|..)*Z$", dots + "Z.txt", false},
      {"(a|aa)*b", as, false},
      {"(a|aa)*b", as + "B", true},
      {"^(a|aa)*$", as + "!", false},
      {"(x+x+)+y", xs, false},
      {"(x+x+)+y", xs + "y", true},
      {"^(x+x+)+y$", xs + "yy", false},
      {"^(\\w+\\s?)*$", std::string(200, 'w') + "!", false},
      {"(.*a){12}", as.substr(0, 11) + std::string(200, 'b'), false},
      {"(.*a){12}", as.substr(0, 12), true},
  };
  for (const MatchCase& c : cases) expectMatches(c);
}

// Names are compared composed, whichever form the volume stored and the
// user typed.
TEST(NamePattern, ComposedAndDecomposedSpellingsFindEachOther) {
  const MatchCase cases[] = {
      {"caf\u00e9", "cafe\u0301.txt", true},                // typed composed, stored decomposed
      {"cafe\u0301", "Caf\u00e9.txt", true},                // typed decomposed, stored composed
      {"^CAF\u00c9\\.", "cafe\u0301.txt", true},            // and letter case still ignored
      {"cafe\\.", "cafe\u0301.txt", false},                 // the accent belongs to the letter
      {"\ud55c", "\u1112\u1161\u11ab.doc", true},           // Hangul syllable from its jamo
      {"^\u1112\u1161\u11ab", "\ud55c.doc", true},
  };
  for (const MatchCase& c : cases) expectMatches(c);
}

TEST(NamePattern, RefusesWhatItCannotMatchInLinearTime) {
  for (const char* text : {
           "[",                        // syntax errors
           "(a",
           "(a)\\1",                   // a back-reference
           "(?=a)b",                   // look-around
           "(?<!a)b",
           "a{1001}",                  // too large to build
           "((a{100}){100}){100}",
           "\xff",                     // not UTF-8
       })
    EXPECT_FALSE(NamePattern::compile(text)) << text;
}

}  // namespace
}  // namespace quorvel
