#pragma once
// The search's pattern: what the user typed, matched against file names.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

namespace quorvel {

// A regular expression found anywhere in a name ("jpg|png" finds either),
// letter case ignored in every script. Matching takes time linear in the
// name whatever the pattern, so a typed pattern can never hang a search.
// Pattern and names are compared composed (NFC): a name stored decomposed
// is found by the same text typed composed, and the reverse.
class NamePattern {
 public:
  // None when the text is not an expression the matcher accepts: a syntax
  // error, a back-reference or look-around, or one too large to build.
  static std::optional<NamePattern> compile(std::string_view utf8Text);
  bool matchesPattern(std::string_view utf8Name) const;

 private:
  NamePattern() = default;  // only compile() makes one
  std::shared_ptr<const re2::RE2> expression_;
};

}  // namespace quorvel
