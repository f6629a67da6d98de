#pragma once
// The images the parser contract runs on, by file-system kind. Every kind
// whose registry row has a parser must have images here: they then run
// every contract case in every mode that parser runs.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fs/FileSystemKinds.h"

namespace quorvel::test {

// Bytes [start, start + length) of a volume.
struct ByteRange {
  std::uint64_t start = 0;
  std::uint64_t length = 0;
};

// How copies of an image are spoilt: `rounds` rounds from one seeded
// generator, each changing 1 .. maxHits bytes of the metadata ranges, of
// which at least `mustScan` must leave a volume that scans, or the walks
// were never tried; then `heavyRounds` of 1 .. heavyHits bytes, after which
// little may be left to list.
struct SpoilPlan {
  std::uint64_t seed = 0;
  int rounds = 0;
  int maxHits = 0;
  int mustScan = 0;
  int heavyRounds = 0;
  int heavyHits = 0;
};

// An image made by the tests themselves, with the ranges worth spoiling.
struct BuiltImage {
  std::vector<std::uint8_t> bytes;
  std::vector<ByteRange> metadata;
};

struct ContractImage {
  FileSystemId kind;
  std::string name;               // its part of the test names: letters and digits
  std::filesystem::path fixture;  // below fixtureDir(); empty for a built image
  BuiltImage (*build)() = nullptr;
  SpoilPlan spoil;
  bool startIntact = true;  // the kind's sniff recognises the volume's start
};

const std::vector<ContractImage>& contractImages();

// Kinds whose reads put zeros where data cannot be read, so that later bytes
// keep their offsets: a file then streams its whole size even when its read
// reports failure.
bool keepsOffsetsOnFailedReads(FileSystemId kind);

// Where the metadata of a fixture image lies that its parser reads first:
// boot sectors, tables, the first folders. Spoils land there.
std::vector<ByteRange> metadataRanges(FileSystemId kind, const std::filesystem::path& image);

}  // namespace quorvel::test
