#pragma once
#include <string>
#include <string_view>

namespace quorvel {

// The name in Unicode's composed form (NFC). Volumes that store names
// decomposed (HFS+) and names typed on Linux then compare equal.
// Text that is not valid UTF-8 comes back unchanged.
std::string composedNfc(std::string_view utf8);

}  // namespace quorvel
