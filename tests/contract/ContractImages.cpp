#include "contract/ContractImages.h"

#include <algorithm>
#include <fstream>

#include "fs/ext/ExtSuperblock.h"
#include "fs/exfat/ExFatLayout.h"
#include "fs/fat/FatLayout.h"
#include "fs/hfsplus/HfsVolumeHeader.h"
#include "fs/ntfs/MftRecord.h"
#include "fs/ntfs/NtfsBuilders.h"

namespace quorvel::test {

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1024 * 1024;

std::vector<std::uint8_t> bytesAt(const fs::path& image, std::uint64_t offset, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::ifstream file(image, std::ios::binary);
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  return bytes;
}

ByteRange clipped(std::uint64_t start, std::uint64_t length, std::uint64_t size) {
  if (start >= size) return {};
  return {start, std::min(length, size - start)};
}

// The boot sector with its sizes, the boot region, the first 2 MiB
// (reserved sectors, the FATs, the fixed root), then the first clusters,
// where the folders the formatter and the first copies made lie (exFAT's
// bitmap, up-case table and root too).
std::vector<ByteRange> fatFamilyRanges(const fs::path& image) {
  const std::uint64_t size = fs::file_size(image);
  const std::vector<std::uint8_t> head = bytesAt(image, 0, 512);
  std::vector<ByteRange> ranges = {clipped(0, 512, size), clipped(0, 4096, size), clipped(0, 2 * kMiB, size)};
  std::uint64_t firstCluster = 0;
  if (const auto fat = fatfmt::sniffBootSector(head))
    firstCluster = fat->dataOffset;
  else if (const auto exfat = exfatfmt::exFatGeometry(exfatfmt::decodeBootSector(head)))
    firstCluster = exfat->heapOffset;
  if (firstCluster > 0 && firstCluster < size) ranges.push_back(clipped(firstCluster, kMiB, size));
  return ranges;
}

// The boot sector, then the MFT as long as its own record says.
std::vector<ByteRange> ntfsRanges(const fs::path& image) {
  const std::uint64_t size = fs::file_size(image);
  std::vector<ByteRange> ranges = {clipped(0, 512, size)};
  ntfsfmt::BootSector boot = ntfsfmt::parseBootSector(bytesAt(image, 0, 512));
  // A zeroed boot sector leaves its copy in the volume's last sector.
  if (!boot.valid() && size >= 512) boot = ntfsfmt::parseBootSector(bytesAt(image, size - 512, 512));
  if (!boot.valid() || boot.recordSize() == 0) return ranges;
  const std::uint64_t mft = boot.mftCluster * boot.clusterSize();
  std::uint64_t mftBytes = 64 * std::uint64_t{boot.recordSize()};
  std::vector<std::uint8_t> record = bytesAt(image, mft, boot.recordSize());
  if (const auto own = ntfsfmt::prepareRecord(record)) {
    std::vector<ntfsfmt::AttributeHeader> attributes;
    ntfsfmt::collectAttributeHeaders(*own, attributes);
    for (const ntfsfmt::AttributeHeader& a : attributes)
      if (a.type == ntfsfmt::kData && a.unnamed() && a.nonResident && a.firstVcn == 0) mftBytes = a.realSize;
  }
  ranges.push_back(clipped(mft, mftBytes, size));
  return ranges;
}

// The volume header, then the catalog and extents-overflow files through
// every extent the header gives them.
std::vector<ByteRange> hfsRanges(const fs::path& image) {
  const std::uint64_t size = fs::file_size(image);
  std::vector<ByteRange> ranges = {clipped(hfsfmt::kVolumeHeaderOffset, hfsfmt::kVolumeHeaderSize, size)};
  const hfsfmt::VolumeHeader header =
      hfsfmt::decodeVolumeHeader(bytesAt(image, hfsfmt::kVolumeHeaderOffset, hfsfmt::kVolumeHeaderSize));
  if (!header.valid()) return ranges;
  for (const hfsfmt::ForkData* fork : {&header.catalogFile, &header.extentsFile})
    for (const hfsfmt::Extent& e : fork->extents)
      if (e.blockCount > 0)
        ranges.push_back(clipped(std::uint64_t{e.startBlock} * header.blockSize,
                                 std::uint64_t{e.blockCount} * header.blockSize, size));
  std::erase_if(ranges, [](const ByteRange& r) { return r.length == 0; });
  return ranges;
}

// The superblock, the group descriptors after it, and the inode table of
// group 0 (the root folder's inode and the first files').
std::vector<ByteRange> extRanges(const fs::path& image) {
  const std::uint64_t size = fs::file_size(image);
  std::vector<ByteRange> ranges = {clipped(extfmt::kSuperblockOffset, extfmt::kSuperblockBytes, size)};
  const extfmt::Superblock b = extfmt::decodeSuperblock(bytesAt(image, extfmt::kSuperblockOffset, extfmt::kSuperblockBytes));
  if (!extfmt::superblockFault(b).empty()) return ranges;
  const std::uint64_t blockSize = b.blockSize();
  const std::uint64_t descriptors = (extfmt::kSuperblockOffset / blockSize + 1) * blockSize;
  const std::uint64_t tableBytes = b.groupCount() * b.descriptorSize();
  ranges.push_back(clipped(descriptors, tableBytes, size));
  const std::vector<std::uint8_t> first = bytesAt(image, descriptors, b.descriptorSize());
  const std::uint64_t inodeTable = extfmt::decodeGroupDescriptor(first, b.descriptorSize()).inodeTable * blockSize;
  ranges.push_back(clipped(inodeTable, std::min<std::uint64_t>(256 * 1024, std::uint64_t{b.inodesPerGroup} * b.inodeSize), size));
  return ranges;
}

// The hand-made NTFS volume; its spoils hit the MFT alone.
BuiltImage richNtfsVolume() {
  const TestVolume volume = richVolume();
  const std::uint64_t mftStart = volume.recordPosition(0);
  return {volume.image(), {{mftStart, volume.recordPosition(volume.recordCount()) - mftStart}}};
}

// Fixture images: half the hits of a round land in the first 4 KiB. Given
// the extent's size, an NTFS scan never refuses a volume; the FAT family
// refuses a boot sector it cannot read, and most spoils spare the fields
// that decide.
SpoilPlan fixturePlan(int rounds, bool alwaysScans) {
  return {.seed = 20261210, .rounds = rounds, .maxHits = 16, .mustScan = alwaysScans ? rounds : rounds / 2,
          .heavyRounds = rounds / 4, .heavyHits = 300};
}

const SpoilPlan kNtfsPlan = fixturePlan(40, true);
// ntfs-main.img with one change: fewer rounds, most of what they could
// spoil is spoilt on ntfs-main.img already.
const SpoilPlan kNtfsVariantPlan = fixturePlan(16, true);
const SpoilPlan kFatPlan = fixturePlan(40, false);
// A spoilt signature or block size refuses the volume, as it should.
const SpoilPlan kHfsPlan = fixturePlan(40, false);
// A spoilt superblock refuses the volume; half the rounds must still scan.
const SpoilPlan kExtPlan = fixturePlan(40, false);

}  // namespace

const std::vector<ContractImage>& contractImages() {
  using Id = FileSystemId;
  static const std::vector<ContractImage> images = {
      {Id::Ntfs, "volntfs", "vol-ntfs.img", nullptr, kNtfsPlan},
      {Id::Ntfs, "ntfsmain", "ntfs/ntfs-main.img", nullptr, kNtfsPlan},
      {Id::Ntfs, "ntfsbootzero", "ntfs/ntfs-bootzero.img", nullptr, kNtfsVariantPlan, false},
      {Id::Ntfs, "ntfstwomfts", "ntfs/ntfs-two-mfts.img", nullptr, kNtfsVariantPlan},
      {Id::Ntfs, "richntfs", "", richNtfsVolume,
       {.seed = 20240611, .rounds = 120, .maxHits = 40, .mustScan = 120, .heavyRounds = 30, .heavyHits = 120}},

      {Id::Fat16, "volfat12", "vol-fat12.img", nullptr, kFatPlan},
      {Id::Fat16, "volfat16", "vol-fat16.img", nullptr, kFatPlan},
      {Id::Fat16, "fat12", "fat/fat12.img", nullptr, kFatPlan},
      {Id::Fat16, "fat162k", "fat/fat16-2k.img", nullptr, kFatPlan},
      {Id::Fat16, "fat168k", "fat/fat16-8k.img", nullptr, kFatPlan},

      {Id::Fat32, "volfat32", "vol-fat32.img", nullptr, kFatPlan},
      {Id::Fat32, "fat32512", "fat/fat32-512.img", nullptr, kFatPlan},
      {Id::Fat32, "fat324k", "fat/fat32-4k.img", nullptr, kFatPlan},

      {Id::ExFat, "volexfat", "vol-exfat.img", nullptr, kFatPlan},
      {Id::ExFat, "exfat4k", "fat/exfat-4k.img", nullptr, kFatPlan},
      {Id::ExFat, "exfat32k", "fat/exfat-32k.img", nullptr, kFatPlan},

      {Id::HfsPlus, "volhfsplus", "vol-hfsplus.img", nullptr, kHfsPlan},
      {Id::HfsPlus, "hfsmain", "hfs/hfs-main.img", nullptr, kHfsPlan},
      {Id::HfsPlus, "hfs512", "hfs/hfs-512.img", nullptr, kHfsPlan},
      {Id::HfsPlus, "hfsx", "hfs/hfsx.img", nullptr, kHfsPlan},
      {Id::HfsPlus, "hfsoverflow", "hfs/hfs-overflow.img", nullptr, kHfsPlan},
      {Id::Ext, "volext2", "vol-ext2.img", nullptr, kExtPlan},
      {Id::Ext, "volext4", "vol-ext4.img", nullptr, kExtPlan},
      {Id::Ext, "ext21k", "ext/ext2-1k.img", nullptr, kExtPlan},
      {Id::Ext, "ext2sbzero", "ext/ext2-sbzero.img", nullptr, fixturePlan(16, false), false},
      {Id::Ext, "ext3", "ext/ext3.img", nullptr, kExtPlan},
      {Id::Ext, "ext4", "ext/ext4.img", nullptr, kExtPlan},
      {Id::Ext, "ext4inline", "ext/ext4-inline.img", nullptr, kExtPlan},
      {Id::Ext, "ext4metabg", "ext/ext4-metabg.img", nullptr, kExtPlan},
  };
  return images;
}

bool keepsOffsetsOnFailedReads(FileSystemId kind) { return kind == FileSystemId::Ntfs; }

std::vector<ByteRange> metadataRanges(FileSystemId kind, const fs::path& image) {
  switch (kind) {
    case FileSystemId::Ntfs: return ntfsRanges(image);
    case FileSystemId::Fat16:
    case FileSystemId::Fat32:
    case FileSystemId::ExFat: return fatFamilyRanges(image);
    case FileSystemId::HfsPlus: return hfsRanges(image);
    case FileSystemId::Ext: return extRanges(image);
  }
  return {};
}

}  // namespace quorvel::test
