#include "io/UnverifiedSectors.h"

namespace quorvel {

namespace {
constexpr std::size_t kRangesNamed = 8;  // a detail line, not a report

std::string rangeText(const SectorRange& range) {
  if (range.count <= 1) return std::to_string(range.first);
  return std::to_string(range.first) + "-" + std::to_string(range.first + range.count - 1);
}
}  // namespace

std::string unverifiedSectorsText(const std::vector<SectorRange>& ranges) {
  if (ranges.empty()) return {};
  const bool several = ranges.size() > 1 || ranges.front().count > 1;
  std::string text = several ? "Sectors " : "Sector ";
  const std::size_t named = std::min(ranges.size(), kRangesNamed);
  for (std::size_t i = 0; i < named; ++i) {
    if (i > 0) text += i + 1 == named && named == ranges.size() ? " and " : ", ";
    text += rangeText(ranges[i]);
  }
  if (named < ranges.size()) text += " and " + std::to_string(ranges.size() - named) + " more ranges";
  text += " of the image failed their checksum; their bytes were used as stored.";
  return text;
}

void reportUnverifiedSectors(const FileReadSeek& source, JobContext& job) {
  const std::string text = unverifiedSectorsText(source.unverifiedSectors());
  if (!text.empty()) job.setDetail(text);
}

}  // namespace quorvel
