#include "fs/FileSystemParser.h"

#include "fs/OutputFile.h"

namespace quorvel {

CandidateLists FileSystemParser::findCandidates(FileReadSeek&, const ScanRequest&, JobContext&) { return {}; }

bool FileSystemParser::saveFile(EntryId id, const std::filesystem::path& target) const {
  OutputFile out(target);
  if (!out.isOpen()) return false;
  const bool complete = readContent(id, out);
  return out.finish(times(id)) && complete;
}

}  // namespace quorvel
