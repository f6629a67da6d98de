#include "cli/EntryJson.h"

#include <optional>

#include "cli/JsonLine.h"
#include "cli/UtcText.h"

namespace quorvel::cli {

namespace {
std::optional<std::string> utcTextOf(const std::optional<FileTime>& time) {
  if (!time) return std::nullopt;
  return utcText(*time);
}

std::optional<std::string> recoveredFromText(const char* from) {
  if (!from) return std::nullopt;
  return std::string(from);
}
}  // namespace

std::string entryJson(const FileSystemParser& parser, EntryId id, const std::string& path, bool folder) {
  const RowTexts row = parser.formatRow(id);
  const EntryTimes times = parser.times(id);
  return JsonLine()
      .field("path", path)
      .field("id", static_cast<std::int64_t>(id))
      .field("folder", folder)
      .field("deleted", parser.isDeleted(id))
      .field("size", folder ? std::uint64_t{0} : parser.size(id))
      .field("created", row.created)
      .field("accessed", row.accessed)
      .field("modified", row.modified)
      .fieldOrNull("createdUtc", utcTextOf(times.created))
      .fieldOrNull("accessedUtc", utcTextOf(times.accessed))
      .fieldOrNull("modifiedUtc", utcTextOf(times.modified))
      .fieldOrNull("deletedUtc", utcTextOf(parser.deletionTime(id)))
      .fieldOrNull("recoveredFrom", recoveredFromText(parser.recoveredFrom(id)))
      .field("attributes", row.attributes)
      .field("sizeText", folder ? std::string() : parser.formatSize(id))
      .str();
}

}  // namespace quorvel::cli
