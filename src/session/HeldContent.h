#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/FileSystemParser.h"

namespace quorvel {

// A small file's content kept in memory, as the parser gave it, so that
// another thread can write it out later: runs of bytes and runs of zeros
// (holes) are replayed in the same order, giving the same file.
class HeldContent : public ContentSink {
 public:
  // Past `limit` bytes the content is refused and marked overflowed.
  explicit HeldContent(std::size_t limit) : limit_(limit) {}

  bool write(Bytes data) override;
  bool zeros(std::uint64_t count) override;

  bool overflowed() const { return overflowed_; }
  std::size_t bytesHeld() const { return bytes_.size(); }
  // Gives the runs to `sink` in order; false when the sink refused one.
  bool replay(ContentSink& sink) const;

 private:
  struct Run {
    bool zeros;
    std::uint64_t length;
  };
  std::size_t limit_;
  bool overflowed_ = false;
  std::vector<std::uint8_t> bytes_;
  std::vector<Run> runs_;
};

}  // namespace quorvel
