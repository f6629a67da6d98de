#include "session/ScanSession.h"

#include "io/UnverifiedSectors.h"
#include "session/RecycleBin.h"

namespace quorvel {

ScanRequest scanRequestFor(const VolumeRecord& volume, RecoveryMode mode, AdvancedChoices advanced) {
  return ScanRequest{volumeExtent(volume), mode, advanced};
}

CandidateLists ScanSession::findCandidates(const FileReadSeek& source, JobContext& job) {
  return parser_->findCandidates(source, request_, job);
}

bool ScanSession::run(const FileReadSeek& source, JobContext& job, const std::function<void()>& parsed) {
  const bool scanned = parser_->scan(source, request_, job);
  reportUnverifiedSectors(source, job);
  if (!scanned) return false;
  restoreRecycleBinNames(*parser_);
  if (parsed) parsed();
  job.showMessage(kScanDone);
  job.setStatus(kScanDone);
  return true;
}

}  // namespace quorvel
