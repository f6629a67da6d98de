#pragma once
// Spoils bytes of a volume in rounds, each undone before the next, so one
// copy serves every round. Every copy of the volume gets the same bytes.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "contract/ContractImages.h"

namespace quorvel::test {

class SeededSpoil {
 public:
  // A file holding the volume from its byte `volumeStart` on.
  struct Copy {
    std::filesystem::path file;
    std::uint64_t volumeStart = 0;
  };
  // `ranges` count from the volume's first byte; empty ones are left out.
  SeededSpoil(const std::vector<Copy>& copies, std::vector<ByteRange> ranges, std::uint64_t seed);

  bool hasRanges() const { return !ranges_.empty(); }
  // Changes 1 .. maxHits bytes, taking the ranges in turn: a random value,
  // 0xFF, 0 or one bit flipped. Returns how many.
  int spoil(int maxHits);
  // Puts back what the last spoil changed.
  void undo();

 private:
  struct Change {
    std::uint64_t offset;  // in the volume
    char before;
  };
  struct OpenCopy {
    std::fstream file;
    std::uint64_t volumeStart;
  };
  void put(std::uint64_t offset, char value);

  std::vector<OpenCopy> copies_;
  std::vector<ByteRange> ranges_;
  std::mt19937_64 random_;
  std::vector<Change> changes_;
};

}  // namespace quorvel::test
