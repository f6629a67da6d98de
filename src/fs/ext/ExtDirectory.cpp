#include "fs/ext/ExtDirectory.h"

#include "fs/ext/ExtInode.h"

namespace quorvel::extfmt {

namespace {

constexpr std::uint8_t kLastFileType = 7;

bool isDotName(std::string_view name) { return name == "." || name == ".."; }

std::string_view nameAt(Bytes block, std::size_t at, std::size_t length) {
  return {reinterpret_cast<const char*>(block.data() + at + kDirEntryHeaderBytes), length};
}

bool plausibleName(std::string_view name) {
  for (const char c : name)
    if (c == '\0' || c == '/') return false;
  return true;
}

// Removed entries inside [from, end): each one still has its name and a
// record length that once fitted the block, and mostly its inode.
void searchSlack(Bytes block, std::size_t from, std::size_t end, const DirectoryBlockWalk& how,
                 const std::function<void(const DirectoryName&)>& visit) {
  std::size_t q = (from + 3) & ~std::size_t{3};
  while (q + kDirEntryHeaderBytes < end) {
    const DirEntry d = decodeDirEntry(block, q, how.fileTypes);
    const bool fits = d.nameLength > 0 && q + kDirEntryHeaderBytes + d.nameLength <= end &&
                      d.recordLength >= idealEntryLength(d.nameLength) && d.recordLength % 4 == 0 &&
                      q + d.recordLength <= block.size();
    // Inode 0 is kept: a writer that clears the inode number instead of
    // merging the record leaves the name, which is still worth listing.
    const bool named = d.inode <= how.inodeCount && (!how.fileTypes || d.fileType <= kLastFileType);
    if (fits && named) {
      const std::string_view name = nameAt(block, q, d.nameLength);
      if (plausibleName(name)) {
        if (!isDotName(name)) visit({d.inode, name, d.fileType, true});
        q += idealEntryLength(d.nameLength);
        continue;
      }
    }
    q += 4;
  }
}

}  // namespace

void walkDirectoryBlock(Bytes block, const DirectoryBlockWalk& how, const std::function<void(const DirectoryName&)>& visit) {
  std::size_t p = 0;
  while (p + kDirEntryHeaderBytes <= block.size()) {
    const DirEntry d = decodeDirEntry(block, p, how.fileTypes);
    if (d.recordLength < kDirEntryHeaderBytes || d.recordLength % 4 != 0 || d.recordLength > block.size() - p ||
        d.nameLength > d.recordLength - kDirEntryHeaderBytes)
      return;
    const std::string_view name = nameAt(block, p, d.nameLength);
    const bool live = d.inode != 0 && d.nameLength > 0;
    if (live && d.inode <= how.inodeCount && !isDotName(name) && plausibleName(name))
      visit({d.inode, name, d.fileType, false});
    // A removed entry that opened its block cannot merge into one before it:
    // it keeps its name and loses only its inode number.
    const bool removedFirst = d.inode == 0 && d.nameLength > 0 && (!how.fileTypes || d.fileType <= kLastFileType);
    if (removedFirst && how.searchSlack && !isDotName(name) && plausibleName(name)) visit({0, name, d.fileType, true});
    // An index node of a hashed directory is one empty entry over the block.
    const bool indexNode = p == 0 && d.inode == 0 && d.nameLength == 0 && d.recordLength == block.size();
    if (how.searchSlack && !indexNode) {
      // A removed first entry keeps its name with inode 0: only what follows
      // its name can hold more.
      const std::size_t used = d.nameLength > 0 || d.inode != 0 ? idealEntryLength(d.nameLength) : kDirEntryHeaderBytes;
      if (used < d.recordLength) searchSlack(block, p + used, p + d.recordLength, how, visit);
    }
    p += d.recordLength;
  }
}

std::optional<std::uint32_t> folderOfFirstBlock(Bytes block, bool fileTypes) {
  if (block.size() < 2 * kDirEntryHeaderBytes + 8) return std::nullopt;
  const DirEntry dot = decodeDirEntry(block, 0, fileTypes);
  if (dot.inode == 0 || dot.nameLength != 1 || dot.recordLength != idealEntryLength(1) || nameAt(block, 0, 1) != ".")
    return std::nullopt;
  const DirEntry up = decodeDirEntry(block, dot.recordLength, fileTypes);
  if (up.nameLength != 2 || up.recordLength < idealEntryLength(2) || dot.recordLength + up.recordLength > block.size() ||
      nameAt(block, dot.recordLength, 2) != "..")
    return std::nullopt;
  return dot.inode;
}

}  // namespace quorvel::extfmt
