#pragma once
#include <memory>
#include <string>

#include "fs/FileSystemParser.h"

namespace quorvel {

inline constexpr const char* kNotValidDrive = "not a valid drive.";
inline constexpr const char* kNotValidDriveStatus = "Not a valid Drive .Go back";
inline constexpr const char* kScanDone = "Scanning processing done.Select save button to save the data.";

// The parser for a volume's kind (letter case ignored), when that kind has a
// job in that mode; null when it has none ("not a valid drive.").
std::unique_ptr<FileSystemParser> parserFor(const std::string& kind, RecoveryMode mode);

// One scan of one volume: the parser's job, then the completion steps.
class ScanSession {
 public:
  ScanSession(ScanRequest request, std::unique_ptr<FileSystemParser> parser)
      : request_(std::move(request)), parser_(std::move(parser)) {}

  // The advanced-input searches, on the same parser the scan will use.
  CandidateLists findCandidates(FileReadSeek& source, JobContext& job);
  void choose(const AdvancedChoices& choices) { request_.advanced = choices; }

  // Runs on the calling thread (a front end's worker). False when the
  // volume could not be parsed; the parser has said why.
  bool run(FileReadSeek& source, JobContext& job);

  FileSystemParser& parser() { return *parser_; }
  const ScanRequest& request() const { return request_; }

 private:
  ScanRequest request_;
  std::unique_ptr<FileSystemParser> parser_;
};

}  // namespace quorvel
