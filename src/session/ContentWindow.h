#pragma once
// A window on a file's content stream: the bytes from `offset` on, at most
// `length` of them, handed to `out` as the parser streams them. Once the
// window is full the stream is refused, so the parser stops reading; full()
// tells that stop from a failure. A preview and `cat --offset --length`
// read a file this way without holding it.
#include <cstdint>
#include <functional>
#include <optional>

#include "fs/FileSystemParser.h"

namespace quorvel {

class ContentWindow : public ContentSink {
 public:
  using Output = std::function<bool(Bytes)>;
  ContentWindow(std::uint64_t offset, std::optional<std::uint64_t> length, Output out);

  bool write(Bytes data) override;
  bool zeros(std::uint64_t count) override;

  bool full() const { return length_ && given_ >= *length_; }
  std::uint64_t given() const { return given_; }

 private:
  // The part of the next `count` stream bytes inside the window, as
  // (skip, take); advances the stream position.
  std::pair<std::uint64_t, std::uint64_t> place(std::uint64_t count);

  std::uint64_t offset_;
  std::optional<std::uint64_t> length_;
  Output out_;
  std::uint64_t position_ = 0;
  std::uint64_t given_ = 0;
  bool failed_ = false;
};

}  // namespace quorvel
