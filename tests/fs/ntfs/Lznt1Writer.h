#pragma once
// Writes one LZNT1 chunk token by token, so tests choose every literal and
// back-reference themselves.
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel::test {

class Lznt1Chunk {
 public:
  Lznt1Chunk& literals(const std::string& text) { return literals(std::vector<std::uint8_t>(text.begin(), text.end())); }
  Lznt1Chunk& literals(const std::vector<std::uint8_t>& bytes) {
    for (const std::uint8_t b : bytes) {
      token(false);
      data_.push_back(b);
      ++position_;
    }
    return *this;
  }
  std::size_t position() const { return position_; }
  // The longest reference the next token can hold.
  std::size_t maxLength() const { return (0x0FFFu >> shift()) + 3u; }

  // A copy of `length` bytes from `displacement` bytes back.
  Lznt1Chunk& reference(std::size_t displacement, std::size_t length) {
    const unsigned shift = this->shift();
    if (displacement < 1 || displacement > (std::size_t{1} << (4 + shift)) || length < 3 ||
        length > (0x0FFFu >> shift) + 3u)
      throw std::invalid_argument("reference does not fit at this position");
    token(true);
    const auto value = static_cast<std::uint16_t>(((displacement - 1) << (12 - shift)) | (length - 3));
    data_.push_back(static_cast<std::uint8_t>(value));
    data_.push_back(static_cast<std::uint8_t>(value >> 8));
    position_ += length;
    return *this;
  }
  // Header (compressed, signature 3) and data.
  std::vector<std::uint8_t> bytes() const {
    const std::size_t size = data_.size() - 1;
    std::vector<std::uint8_t> out(2 + data_.size());
    out[0] = static_cast<std::uint8_t>(size);
    out[1] = static_cast<std::uint8_t>(0xB0 | (size >> 8));
    std::copy(data_.begin(), data_.end(), out.begin() + 2);
    return out;
  }

 private:
  unsigned shift() const {
    unsigned s = 0;
    for (std::size_t i = position_ > 0 ? position_ - 1 : 0; i >= 0x10; i >>= 1) ++s;
    return s;
  }

  void token(bool reference) {
    if (count_ % 8 == 0) {
      flagAt_ = data_.size();
      data_.push_back(0);
    }
    if (reference) data_[flagAt_] |= static_cast<std::uint8_t>(1u << (count_ % 8));
    ++count_;
  }

  std::vector<std::uint8_t> data_;
  std::size_t flagAt_ = 0;
  std::size_t count_ = 0;
  std::size_t position_ = 0;
};

}  // namespace quorvel::test
