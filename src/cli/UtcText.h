#pragma once
#include <string>

#include "fs/FileSystemParser.h"

namespace quorvel::cli {

// A point in time as ISO 8601 UTC text in whole seconds, the fraction cut
// off: "2024-03-05T14:07:09Z". Years 0000 to 9999 have four digits, so the
// texts sort as the times do; any other year (damaged metadata can name
// one) gets a sign and at least four digits, as ISO 8601's expanded years
// do: "+10000-01-01T00:00:00Z", "-0001-12-31T23:59:59Z".
std::string utcText(const FileTime& time);

}  // namespace quorvel::cli
