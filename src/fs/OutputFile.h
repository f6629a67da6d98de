#pragma once
#include <filesystem>

#include "fs/FileSystemParser.h"

namespace quorvel {

// A file being written by a save: created or replaced, never followed
// through a symbolic link. Zero runs become holes, as in the source.
class OutputFile : public ContentSink {
 public:
  explicit OutputFile(const std::filesystem::path& path);
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  bool write(Bytes data) override;
  bool zeros(std::uint64_t count) override;
  // Fixes the length, sets the times and closes; false if anything failed.
  bool finish(const EntryTimes& times);
  // The system's error number of the first step that failed; 0 while none did.
  int error() const { return error_; }

 private:
  int fd_ = -1;
  std::uint64_t length_ = 0;
  bool failed_ = false;
  bool endsInHole_ = false;
  int error_ = 0;
};

}  // namespace quorvel
