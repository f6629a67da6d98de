#pragma once
// Hand-made FAT12/16/32 volumes: a boot sector with chosen geometry, the FAT
// entries, directory slots (long names with their checksums) and file data.
// Everything is valid unless a test spoils a field on purpose.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/fat/FatLayout.h"
#include "support/TestSupport.h"
#include "support/ContentSinks.h"

namespace quorvel::test {

using ByteVector = std::vector<std::uint8_t>;

// The eleven name bytes of a short entry, "README  TXT"; bytes above 0x7F
// are written as \x escapes by the caller.
std::array<std::uint8_t, 11> rawName(const std::string& name11);

// A DOS date and time as FAT stores them.
std::uint16_t dosDate(int year, int month, int day);
std::uint16_t dosTime(int hour, int minute, int second = 0);

// One short entry, field by field.
struct ShortSlot {
  std::string name = "FILE    BIN";
  std::uint8_t attributes = 0x20;
  std::uint32_t firstCluster = 0;
  std::uint32_t size = 0;
  std::uint8_t caseFlags = 0;
  std::uint8_t creationTenths = 0;
  std::uint16_t creationTime = 0;
  std::uint16_t creationDate = 0;
  std::uint16_t accessDate = 0;
  std::uint16_t writeTime = 0;
  std::uint16_t writeDate = 0;

  ByteVector bytes() const;
  std::uint8_t checksum() const;
};

// The long-name slots of `name` in disk order (its last part first), the
// first one flagged as last, each carrying `checksum`.
std::vector<ByteVector> longNameSlots(const std::u16string& name, std::uint8_t checksum);
// The same slots as a deletion leaves them: first byte 0xE5.
std::vector<ByteVector> deletedSlots(std::vector<ByteVector> slots);
ByteVector deletedSlot(ByteVector slot);

// FAT entries packed as the width stores them, in a table of `bytes`.
ByteVector encodeFat(fatfmt::FatWidth width, const std::vector<std::uint32_t>& entries, std::size_t bytes);

// A directory's slots in order; bytes() pads with never-used slots.
class Directory {
 public:
  Directory& slot(ByteVector s);
  Directory& slots(const std::vector<ByteVector>& s);
  Directory& entry(const ShortSlot& e) { return slot(e.bytes()); }
  Directory& file(const std::string& name11, std::uint32_t cluster, std::uint32_t size, std::uint8_t attributes = 0x20);
  Directory& folder(const std::string& name11, std::uint32_t cluster);
  // A long name and its short entry, the checksum taken from the entry.
  Directory& named(const std::u16string& longName, const ShortSlot& e);
  // "." and "..".
  Directory& dots(std::uint32_t self, std::uint32_t parent);

  ByteVector bytes(std::size_t size) const;
  std::size_t size() const { return bytes_.size(); }

 private:
  ByteVector bytes_;
};

// A volume: boot sector, FAT copies, a fixed root (FAT12/16) and clusters.
// bytes per sector 512, two FATs; FAT32 keeps its root in cluster 2.
class FatVolume {
 public:
  FatVolume(fatfmt::FatWidth width, std::uint32_t clusters, std::uint32_t sectorsPerCluster = 1);

  fatfmt::FatWidth width() const { return width_; }
  std::uint32_t clusterSize() const { return 512 * sectorsPerCluster_; }
  std::uint32_t clusters() const { return clusters_; }
  std::uint64_t clusterOffset(std::uint32_t cluster) const { return dataOffset_ + std::uint64_t{cluster - 2} * clusterSize(); }
  std::uint64_t size() const { return dataOffset_ + std::uint64_t{clusters_} * clusterSize(); }
  std::uint64_t fatOffset() const { return 512ull * reserved_; }
  std::uint64_t fatBytes() const { return 512ull * sectorsPerFat_; }

  // The boot sector as written; tests spoil its fields.
  ByteVector& bootSector() { return boot_; }

  // FAT entries, written to every FAT copy.
  void setFat(std::uint32_t cluster, std::uint32_t value);
  // Links the clusters in order and ends the chain.
  void chain(const std::vector<std::uint32_t>& clusters);
  std::uint32_t endOfChain() const;

  // Bytes from the start of a cluster on (they may run into the next ones).
  void writeCluster(std::uint32_t cluster, const ByteVector& bytes);
  void writeAt(std::uint64_t offset, const ByteVector& bytes);
  // The root directory: the fixed region, or FAT32's root cluster.
  void writeRoot(const Directory& root);
  void writeFolder(std::uint32_t cluster, const Directory& folder) { writeCluster(cluster, folder.bytes(clusterSize())); }

  // The image, written sparsely.
  std::unique_ptr<TempImage> materialize() const;

 private:
  fatfmt::FatWidth width_;
  std::uint32_t clusters_;
  std::uint32_t sectorsPerCluster_;
  std::uint32_t reserved_;
  std::uint32_t rootEntries_;
  std::uint32_t sectorsPerFat_;
  std::uint64_t rootOffset_;
  std::uint64_t dataOffset_;
  ByteVector boot_;
  std::vector<std::uint32_t> fat_;
  std::vector<std::pair<std::uint64_t, ByteVector>> writes_;
};

enum class FatParserKind { Fat16, Fat32 };

// A scanned volume: the image on disk, the source and the parser.
struct ScannedFat {
  std::unique_ptr<TempImage> image;
  std::unique_ptr<FileReadSeek> source;
  std::unique_ptr<FileSystemParser> parser;
  RecordingObserver observer;
  bool scanned = false;

  // The entry at an "a/b" path below the top entries (the last of equal
  // names), or kNoEntry.
  EntryId find(const std::string& path) const;
  ByteVector content(EntryId id, bool* complete = nullptr) const;
  std::vector<std::string> childNames(EntryId id) const;
  std::vector<std::string> topNames() const;
};

// Scans with the parser that takes the volume's width.
std::unique_ptr<ScannedFat> scanFat(const FatVolume& volume, AdvancedChoices choices = {});
std::unique_ptr<ScannedFat> scanFat(std::unique_ptr<TempImage> image, FatParserKind kind, AdvancedChoices choices = {});

// Recognisable content: byte i is a function of i and the seed.
ByteVector pattern(std::size_t length, std::uint8_t seed);

// Seconds since 1970 for a UTC calendar time.
std::int64_t unixTime(int year, int month, int day, int hour, int minute, int second = 0);

}  // namespace quorvel::test
