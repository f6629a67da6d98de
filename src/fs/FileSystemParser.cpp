#include "fs/FileSystemParser.h"

#include <vector>

#include "fs/OutputFile.h"

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

bool FileSystemParser::saveFile(EntryId id, const std::filesystem::path& target) const {
  OutputFile out(target);
  if (!out.isOpen()) return false;
  const bool complete = readContent(id, out);
  return out.finish(times(id)) && complete;
}

}  // namespace quorvel
