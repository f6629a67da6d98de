#include "session/NamePattern.h"

#include <algorithm>

#include <re2/re2.h>

#include "fs/UnicodeText.h"
#include "fs/Utf8.h"

namespace quorvel {

namespace {

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Damaged names keep their readable part searchable: invalid bytes become
// U+FFFD, which '.' matches, instead of breaking the text for the matcher.
std::string comparableName(std::string_view utf8) { return composedNfc(validUtf8(utf8)); }

}  // namespace

std::optional<NamePattern> NamePattern::compile(std::string_view utf8Text) {
  RE2::Options options;
  options.set_encoding(RE2::Options::EncodingUTF8);
  options.set_case_sensitive(false);
  options.set_never_capture(true);
  options.set_log_errors(false);
  // A composed pattern that is not valid UTF-8 stays as it is and is refused.
  auto expression = std::make_shared<const RE2>(composedNfc(utf8Text), options);
  if (!expression->ok()) return std::nullopt;
  NamePattern pattern;
  pattern.expression_ = std::move(expression);
  return pattern;
}

bool NamePattern::matchesPattern(std::string_view utf8Name) const {
  // ASCII is already composed and valid; most names are, and skip the copy.
  if (isAscii(utf8Name)) return RE2::PartialMatch(utf8Name, *expression_);
  return RE2::PartialMatch(comparableName(utf8Name), *expression_);
}

}  // namespace quorvel
