#include "fs/FileSystemParser.h"

#include <vector>

#include "fs/TextFormats.h"

namespace quorvel {

bool ContentSink::zeros(std::uint64_t count) {
  static const std::vector<std::uint8_t> block(64 * 1024, 0);
  while (count > 0) {
    const std::size_t n = count < block.size() ? static_cast<std::size_t>(count) : block.size();
    if (!write(Bytes(block.data(), n))) return false;
    count -= n;
  }
  return true;
}

CandidateLists FileSystemParser::findCandidates(const FileReadSeek&, const ScanRequest&, JobContext&) { return {}; }

RowTexts FileSystemParser::formatRow(EntryId id) const {
  const EntryTimes t = times(id);
  const auto text = [](const std::optional<FileTime>& time) { return time ? timeText(*time) : std::string(); };
  return {text(t.created), text(t.accessed), text(t.modified), {}};
}

std::string FileSystemParser::formatSize(EntryId id) const { return sizeText(size(id)); }

void FileSystemParser::rename(EntryId id, const std::string& newName) {
  try {
    catalogue_.setName(id, newName);
  } catch (const std::exception&) {
    // The entry keeps its name.
  }
}

}  // namespace quorvel
