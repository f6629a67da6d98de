#pragma once
#include <functional>
#include <memory>
#include <string>

#include "fs/FileSystemKinds.h"
#include "fs/FileSystemParser.h"
#include "volumes/VolumeRecord.h"

namespace quorvel {

inline constexpr const char* kNotValidDrive = "not a valid drive.";
inline constexpr const char* kNotValidDriveStatus = "Not a valid Drive .Go back";
inline constexpr const char* kScanDone = "Scanning processing done.Select save button to save the data.";

// The request for a volume the discovery found.
ScanRequest scanRequestFor(const VolumeRecord& volume, RecoveryMode mode, AdvancedChoices advanced = {});

// One scan of one volume: the parser's job, then the completion steps.
class ScanSession {
 public:
  ScanSession(ScanRequest request, std::unique_ptr<FileSystemParser> parser)
      : request_(std::move(request)), parser_(std::move(parser)) {}

  // The advanced-input searches, on the same parser the scan will use.
  CandidateLists findCandidates(const FileReadSeek& source, JobContext& job);
  void choose(const AdvancedChoices& choices) { request_.advanced = choices; }

  // Runs on the calling thread (a front end's worker). False when the
  // volume could not be parsed; the parser has said why. Else `parsed`
  // runs once the catalogue is complete, before the user is told that the
  // scan is done (a front end shows its results there).
  bool run(const FileReadSeek& source, JobContext& job, const std::function<void()>& parsed = {});

  FileSystemParser& parser() { return *parser_; }
  const ScanRequest& request() const { return request_; }

 private:
  ScanRequest request_;
  std::unique_ptr<FileSystemParser> parser_;
};

}  // namespace quorvel
