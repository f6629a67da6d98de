#include "fs/ext/ExtInode.h"

#include <algorithm>

namespace quorvel::extfmt {

namespace {
namespace field {
constexpr std::size_t mode = 0;
constexpr std::size_t sizeLo = 4;
constexpr std::size_t atime = 8;
constexpr std::size_t ctime = 12;
constexpr std::size_t mtime = 16;
constexpr std::size_t dtime = 20;
constexpr std::size_t links = 26;
constexpr std::size_t blocksLo = 28;
constexpr std::size_t flags = 32;
constexpr std::size_t blockArea = 40;
constexpr std::size_t generation = 100;
constexpr std::size_t fileAclLo = 104;
constexpr std::size_t sizeHi = 108;
constexpr std::size_t blocksHi = 116;
constexpr std::size_t fileAclHi = 118;
constexpr std::size_t extraSize = 128;
constexpr std::size_t ctimeExtra = 132;
constexpr std::size_t mtimeExtra = 136;
constexpr std::size_t atimeExtra = 140;
}  // namespace field

constexpr std::size_t kGoodOldInodeBytes = 128;
constexpr std::uint32_t kXattrMagic = 0xEA020000;
constexpr std::uint8_t kXattrSystemIndex = 7;

// Seconds are signed 32-bit; the extra word adds two epoch bits and the
// nanoseconds, where the inode is large enough to hold it.
std::optional<FileTime> decodeTime(Bytes raw, std::size_t secondsAt, std::size_t extraAt, std::size_t extraEnd) {
  const auto seconds = static_cast<std::int32_t>(le32(raw, secondsAt));
  FileTime t{seconds, 0};
  if (extraAt + 4 <= extraEnd) {
    const std::uint32_t extra = le32(raw, extraAt);
    t.seconds += static_cast<std::int64_t>(extra & 0x3) << 32;
    t.nanoseconds = extra >> 2;
    if (t.nanoseconds >= 1000000000) t.nanoseconds = 0;
  }
  if (t.seconds == 0 && t.nanoseconds == 0) return std::nullopt;
  return t;
}

std::size_t extraEnd(Bytes raw) {
  if (raw.size() <= kGoodOldInodeBytes) return kGoodOldInodeBytes;
  const std::size_t extra = le16(raw, field::extraSize);
  return std::min(raw.size(), kGoodOldInodeBytes + extra);
}
}  // namespace

bool isKnownType(std::uint16_t mode) {
  switch (mode & kTypeMask) {
    case kTypeFifo:
    case kTypeCharDevice:
    case kTypeDirectory:
    case kTypeBlockDevice:
    case kTypeRegular:
    case kTypeSymlink:
    case kTypeSocket: return true;
    default: return false;
  }
}

bool Inode::isFastSymlink(std::uint64_t blockSize) const {
  if (!isSymlink() || usesExtents() || hasInlineData() || size >= kBlockAreaBytes) return false;
  // i_blocks counts the attribute block too, when there is one.
  const std::uint64_t attributeBlocks = xattrBlock != 0 ? blockSize / 512 : 0;
  return blocks512 <= attributeBlocks;
}

Inode decodeInode(Bytes raw, bool hugeFileFeature) {
  Inode n;
  n.mode = le16(raw, field::mode);
  n.size = le32(raw, field::sizeLo);
  // The high half only when set: old volumes used the word for other things.
  if (const std::uint32_t hi = le32(raw, field::sizeHi)) n.size |= std::uint64_t{hi} << 32;
  n.linksCount = le16(raw, field::links);
  n.deletionTime = le32(raw, field::dtime);
  n.flags = le32(raw, field::flags);
  n.blocks512 = le32(raw, field::blocksLo);
  if (hugeFileFeature) {
    n.blocks512 |= std::uint64_t{le16(raw, field::blocksHi)} << 32;
    // With the huge-file flag i_blocks counts file-system blocks; callers only
    // compare it with 0 and one block, so the unit is left as it is.
  }
  n.generation = le32(raw, field::generation);
  n.xattrBlock = le32(raw, field::fileAclLo) | (std::uint64_t{le16(raw, field::fileAclHi)} << 32);
  const std::size_t end = extraEnd(raw);
  n.accessed = decodeTime(raw, field::atime, field::atimeExtra, end);
  n.changed = decodeTime(raw, field::ctime, field::ctimeExtra, end);
  n.modified = decodeTime(raw, field::mtime, field::mtimeExtra, end);
  for (std::size_t i = 0; i < kBlockAreaBytes; ++i) n.blockArea[i] = u8(raw, field::blockArea + i);
  return n;
}

std::optional<ByteSpan> inlineDataTail(Bytes raw) {
  const std::size_t start = extraEnd(raw);
  if (raw.size() <= kGoodOldInodeBytes || start + 4 > raw.size() || le32(raw, start) != kXattrMagic) return std::nullopt;
  const std::size_t first = start + 4;  // value offsets count from here
  std::size_t at = first;
  // Entries end at four zero bytes; each is 16 bytes and its name, padded.
  while (at + 16 <= raw.size() && le32(raw, at) != 0) {
    const std::size_t nameLength = u8(raw, at);
    const std::uint8_t nameIndex = u8(raw, at + 1);
    const std::size_t valueOffset = le16(raw, at + 2);
    const std::uint32_t valueInode = le32(raw, at + 4);
    const std::size_t valueSize = le32(raw, at + 8);
    if (nameIndex == kXattrSystemIndex && nameLength == 4 && hasText(raw, at + 16, "data") && valueInode == 0) {
      if (first + valueOffset > raw.size() || valueSize > raw.size() - first - valueOffset) return std::nullopt;
      return ByteSpan{first + valueOffset, valueSize};
    }
    at += (16 + nameLength + 3) & ~std::size_t{3};
  }
  return std::nullopt;
}

ExtentHeader decodeExtentHeader(Bytes node) {
  return {le16(node, 0), le16(node, 2), le16(node, 4), le16(node, 6)};
}

bool headerFits(const ExtentHeader& h, std::size_t nodeBytes) {
  if (h.magic != kExtentMagic || h.depth > kMaxExtentDepth || nodeBytes < kExtentHeaderBytes) return false;
  const std::size_t room = (nodeBytes - kExtentHeaderBytes) / kExtentEntryBytes;
  return h.entries <= h.maxEntries && h.maxEntries <= room;
}

ExtentLeaf decodeExtentLeaf(Bytes node, std::size_t index) {
  const std::size_t at = kExtentHeaderBytes + index * kExtentEntryBytes;
  ExtentLeaf leaf;
  leaf.logical = le32(node, at);
  const std::uint16_t length = le16(node, at + 4);
  leaf.uninitialised = length > kInitialisedExtentMax;
  leaf.length = leaf.uninitialised ? length - kInitialisedExtentMax : length;
  leaf.start = (std::uint64_t{le16(node, at + 6)} << 32) | le32(node, at + 8);
  return leaf;
}

ExtentIndex decodeExtentIndex(Bytes node, std::size_t index) {
  const std::size_t at = kExtentHeaderBytes + index * kExtentEntryBytes;
  return {le32(node, at), le32(node, at + 4) | (std::uint64_t{le16(node, at + 8)} << 32)};
}

DirEntry decodeDirEntry(Bytes block, std::size_t at, bool fileTypes) {
  DirEntry d;
  d.inode = le32(block, at);
  d.recordLength = le16(block, at + 4);
  if (fileTypes) {
    d.nameLength = u8(block, at + 6);
    d.fileType = u8(block, at + 7);
  } else {
    d.nameLength = le16(block, at + 6);
  }
  return d;
}

std::uint16_t typeFromDirEntry(std::uint8_t fileType) {
  static constexpr std::uint16_t kTypes[] = {0, kTypeRegular, kTypeDirectory, kTypeCharDevice,
                                             kTypeBlockDevice, kTypeFifo, kTypeSocket, kTypeSymlink};
  return fileType < 8 ? kTypes[fileType] : 0;
}

}  // namespace quorvel::extfmt
