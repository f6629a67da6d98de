#pragma once
// Hand-made exFAT volumes: main and backup boot regions, the FAT, the
// allocation bitmap and up-case table, entry sets with their checksums and
// name hashes, and file data. Everything is valid unless a test spoils a
// field on purpose; fsck.exfat and The Sleuth Kit accept what it makes.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/fat/FatBuilders.h"

namespace quorvel::test {

// A timestamp as exFAT packs it: the DOS date above the DOS time.
std::uint32_t exFatStamp(int year, int month, int day, int hour, int minute, int second = 0);

// The UTC offset byte: valid, `quarters` quarter hours east of UTC.
std::uint8_t utcOffset(int quarters);

// 2020-01-01 00:00:00, a valid default for every timestamp.
inline constexpr std::uint32_t kDefaultStamp = 0x50210000;

// One file's entry set: file entry, stream extension and name entries.
struct ExFatEntrySet {
  std::u16string name = u"file.bin";
  std::uint16_t attributes = 0x20;
  std::uint32_t firstCluster = 0;
  std::uint64_t validDataLength = 0;
  std::optional<std::uint64_t> dataLength;  // the valid length unless set
  bool noFatChain = false;
  std::uint32_t created = kDefaultStamp;
  std::uint32_t modified = kDefaultStamp;
  std::uint32_t accessed = kDefaultStamp;
  std::uint8_t created10ms = 0;
  std::uint8_t modified10ms = 0;
  std::uint8_t createdUtcOffset = 0;
  std::uint8_t modifiedUtcOffset = 0;
  std::uint8_t accessedUtcOffset = 0;

  // Damage, applied after the checksum was taken (except where noted).
  std::optional<std::uint8_t> nameLength;      // stored instead of the name's length (checksummed)
  std::optional<std::uint8_t> secondaryCount;  // stored instead of the true count (checksummed)
  std::vector<ByteVector> extraSecondaries;    // further secondary entries, counted and checksummed
  bool wrongChecksum = false;

  // The slots as a live set stores them.
  std::vector<ByteVector> slots() const;
};

// A file of `size` bytes from `cluster`, along the FAT or as one run.
ExFatEntrySet exFile(const std::u16string& name, std::uint32_t cluster, std::uint64_t size, bool noFatChain = false);
// A folder of `bytes` (whole clusters) from `cluster`.
ExFatEntrySet exFolder(const std::u16string& name, std::uint32_t cluster, std::uint64_t bytes, bool noFatChain = false);

// The same slots as a deletion leaves them: every in-use bit cleared.
std::vector<ByteVector> deletedSet(std::vector<ByteVector> slots);

// The checksum over a set's slots, taken as the file system writes it.
std::uint16_t setChecksum(const std::vector<ByteVector>& slots);

// A directory's slots in order; bytes() pads with never-used slots.
class ExFatDirectory {
 public:
  ExFatDirectory& slot(ByteVector s);
  ExFatDirectory& slots(const std::vector<ByteVector>& s);
  ExFatDirectory& set(const ExFatEntrySet& e) { return slots(e.slots()); }
  ExFatDirectory& deleted(const ExFatEntrySet& e) { return slots(deletedSet(e.slots())); }
  ExFatDirectory& label(const std::u16string& text);
  // Pads with unused slots (type 0x01, not the end marker) up to slot `index`.
  ExFatDirectory& padTo(std::size_t index);

  std::size_t slotCount() const { return bytes_.size() / 32; }
  ByteVector bytes(std::size_t size) const;

 private:
  ByteVector bytes_;
};

// A volume: main and backup boot regions (24 sectors), the FATs, then the
// cluster heap: the allocation bitmap from cluster 2, the up-case table and
// the root directory in the clusters after it.
class ExFatVolume {
 public:
  explicit ExFatVolume(std::uint32_t clusters, unsigned sectorsPerClusterShift = 0, unsigned bytesPerSectorShift = 9,
                       unsigned fats = 1);

  std::uint32_t bytesPerSector() const { return 1u << bytesPerSectorShift_; }
  std::uint32_t clusterSize() const { return bytesPerSector() << sectorsPerClusterShift_; }
  std::uint32_t clusters() const { return clusters_; }
  std::uint64_t fatOffset() const { return 24ull * bytesPerSector(); }
  std::uint64_t fatBytes() const { return std::uint64_t{fatLength_} * bytesPerSector(); }
  std::uint64_t heapOffset() const { return std::uint64_t{heapSector_} * bytesPerSector(); }
  std::uint64_t clusterOffset(std::uint32_t cluster) const {
    return heapOffset() + std::uint64_t{cluster - 2} * clusterSize();
  }
  std::uint64_t size() const { return heapOffset() + std::uint64_t{clusters_} * clusterSize(); }
  std::uint32_t bitmapCluster() const { return 2; }
  std::uint32_t upcaseCluster() const { return upcaseCluster_; }
  // The root's first cluster; the first cluster after it is free.
  std::uint32_t rootCluster() const { return rootChain_.front(); }
  std::uint32_t firstFreeCluster() const { return upcaseCluster_ + 2; }

  // Sector 0 as written; tests spoil its fields. The boot checksum and the
  // backup region follow it.
  ByteVector& bootSector() { return boot_; }

  // FAT entries (every FAT copy gets them).
  void setFat(std::uint32_t cluster, std::uint32_t value);
  // Links the clusters in order and ends the chain; marks them in use.
  void chain(const std::vector<std::uint32_t>& clusters);
  // Marks a run in use without FAT entries (a NoFatChain file's clusters).
  void markUsed(std::uint32_t first, std::uint32_t count);
  // Leaves the FAT copy `copy` (0 or 1) as it is but gives `cluster` another entry there.
  void setFatCopy(unsigned copy, std::uint32_t cluster, std::uint32_t value);

  // The root directory along these clusters (chained here); its first
  // slots are the bitmap and up-case entries unless `withSystemEntries` is false.
  void setRootChain(const std::vector<std::uint32_t>& clusters);
  void writeRoot(const ExFatDirectory& root, bool withSystemEntries = true);
  // A folder's slots over its clusters, a cluster's worth each.
  void writeFolder(const std::vector<std::uint32_t>& clusters, const ExFatDirectory& folder);
  // Data over the clusters in order, a cluster's worth each.
  void spread(const std::vector<std::uint32_t>& clusters, const ByteVector& data);
  void writeCluster(std::uint32_t cluster, const ByteVector& bytes) { writeAt(clusterOffset(cluster), bytes); }
  void writeAt(std::uint64_t offset, const ByteVector& bytes);

  // The root's bitmap and up-case entries, as writeRoot puts them first.
  std::vector<ByteVector> systemEntries() const;

  // The image, written sparsely.
  std::unique_ptr<TempImage> materialize() const;

 private:
  std::uint32_t clusters_;
  unsigned sectorsPerClusterShift_;
  unsigned bytesPerSectorShift_;
  unsigned fats_;
  std::uint32_t fatLength_;
  std::uint32_t heapSector_;
  std::uint32_t bitmapClusters_;
  std::uint32_t upcaseCluster_;
  std::vector<std::uint32_t> rootChain_;
  ByteVector boot_;
  std::vector<std::vector<std::uint32_t>> fat_;  // one table per copy
  std::vector<bool> used_;
  std::vector<std::pair<std::uint64_t, ByteVector>> writes_;
};

// Scans with the exFAT parser; the volume is at sector 0 of the image.
std::unique_ptr<ScannedFat> scanExFat(const ExFatVolume& volume, AdvancedChoices choices = {});
std::unique_ptr<ScannedFat> scanExFat(std::unique_ptr<TempImage> image, AdvancedChoices choices = {});

// Pins the time zone for a test and puts the old one back.
class TimeZoneGuard {
 public:
  explicit TimeZoneGuard(const char* zone);
  ~TimeZoneGuard();
  TimeZoneGuard(const TimeZoneGuard&) = delete;
  TimeZoneGuard& operator=(const TimeZoneGuard&) = delete;
  void set(const char* zone);

 private:
  std::string old_;
  bool hadOld_ = false;
};

}  // namespace quorvel::test
