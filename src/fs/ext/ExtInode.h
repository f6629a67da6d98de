#pragma once
// The ext inode and the structures inside and behind it: extent nodes,
// directory entries and the in-inode extended attributes that hold inline
// data. Decoding only; nothing here reads the volume.
#include <array>
#include <cstdint>
#include <optional>

#include "fs/FileSystemParser.h"
#include "io/Endian.h"

namespace quorvel::extfmt {

// The type field of the mode.
inline constexpr std::uint16_t kTypeMask = 0xF000;
inline constexpr std::uint16_t kTypeFifo = 0x1000;
inline constexpr std::uint16_t kTypeCharDevice = 0x2000;
inline constexpr std::uint16_t kTypeDirectory = 0x4000;
inline constexpr std::uint16_t kTypeBlockDevice = 0x6000;
inline constexpr std::uint16_t kTypeRegular = 0x8000;
inline constexpr std::uint16_t kTypeSymlink = 0xA000;
inline constexpr std::uint16_t kTypeSocket = 0xC000;

// Inode flags.
inline constexpr std::uint32_t kFlagHashedIndex = 0x1000;
inline constexpr std::uint32_t kFlagHugeFile = 0x40000;
inline constexpr std::uint32_t kFlagExtents = 0x80000;
inline constexpr std::uint32_t kFlagInlineData = 0x10000000;

inline constexpr std::size_t kBlockAreaBytes = 60;

bool isKnownType(std::uint16_t mode);

struct Inode {
  std::uint16_t mode = 0;
  std::uint64_t size = 0;
  std::uint32_t linksCount = 0;
  std::uint32_t deletionTime = 0;
  std::uint64_t blocks512 = 0;  // i_blocks, in 512-byte units
  std::uint32_t flags = 0;
  std::uint64_t xattrBlock = 0;
  std::uint32_t generation = 0;
  std::optional<FileTime> accessed;
  std::optional<FileTime> changed;
  std::optional<FileTime> modified;
  std::array<std::uint8_t, kBlockAreaBytes> blockArea{};

  std::uint16_t type() const { return mode & kTypeMask; }
  bool isDirectory() const { return type() == kTypeDirectory; }
  bool isRegular() const { return type() == kTypeRegular; }
  bool isSymlink() const { return type() == kTypeSymlink; }
  bool usesExtents() const { return (flags & kFlagExtents) != 0; }
  bool hasInlineData() const { return (flags & kFlagInlineData) != 0; }
  // Links and no deletion time: the file was alive when this copy was made.
  bool live() const { return linksCount > 0 && deletionTime == 0; }
  // A symbolic link whose target sits in the block area, not in a block.
  bool isFastSymlink(std::uint64_t blockSize) const;
};

// `raw` is one inode-table slot (inode-size bytes); the huge-file flag of
// the superblock decides the unit of i_blocks.
Inode decodeInode(Bytes raw, bool hugeFileFeature);

// The value of the in-inode "system.data" attribute (inline data past the
// block area's 60 bytes): its offset and length inside `raw`, when present.
struct ByteSpan {
  std::size_t offset = 0;
  std::size_t length = 0;
};
std::optional<ByteSpan> inlineDataTail(Bytes raw);

// ---- extent trees

inline constexpr std::uint16_t kExtentMagic = 0xF30A;
inline constexpr std::size_t kExtentHeaderBytes = 12;
inline constexpr std::size_t kExtentEntryBytes = 12;
inline constexpr std::uint16_t kMaxExtentDepth = 5;
// A leaf length above this marks an uninitialised extent of length − this.
inline constexpr std::uint16_t kInitialisedExtentMax = 32768;

struct ExtentHeader {
  std::uint16_t magic = 0;
  std::uint16_t entries = 0;
  std::uint16_t maxEntries = 0;
  std::uint16_t depth = 0;
};
ExtentHeader decodeExtentHeader(Bytes node);
// Whether a node of `nodeBytes` bytes may carry this header.
bool headerFits(const ExtentHeader& h, std::size_t nodeBytes);

struct ExtentLeaf {
  std::uint32_t logical = 0;
  std::uint32_t length = 0;  // blocks
  std::uint64_t start = 0;   // 48 bits
  bool uninitialised = false;
};
ExtentLeaf decodeExtentLeaf(Bytes node, std::size_t index);

struct ExtentIndex {
  std::uint32_t logical = 0;
  std::uint64_t child = 0;  // 48 bits
};
ExtentIndex decodeExtentIndex(Bytes node, std::size_t index);

// ---- directory entries

struct DirEntry {
  std::uint32_t inode = 0;
  std::uint16_t recordLength = 0;
  std::uint16_t nameLength = 0;
  std::uint8_t fileType = 0;  // 0 unknown (or the form without types)
};
inline constexpr std::size_t kDirEntryHeaderBytes = 8;
// With file types the name length is one byte and the type the next.
DirEntry decodeDirEntry(Bytes block, std::size_t at, bool fileTypes);
// The room an entry of `nameLength` needs: 8 + name, to a multiple of 4.
constexpr std::size_t idealEntryLength(std::size_t nameLength) { return (kDirEntryHeaderBytes + nameLength + 3) & ~std::size_t{3}; }

// The type a directory entry's file-type byte names, as a mode type.
std::uint16_t typeFromDirEntry(std::uint8_t fileType);

}  // namespace quorvel::extfmt
