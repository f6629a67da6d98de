#pragma once
// FAT12 and FAT16 volumes: the root directory is a fixed region behind the FATs.
#include <memory>

#include "fs/fat/FatDirectoryParser.h"

namespace quorvel {

class Fat16Parser : public FatDirectoryParser {
 public:
  // Recycle-bin names are given back on FAT32 and exFAT volumes only.
  RecycleBinLayout recycleBinLayout() const override { return RecycleBinLayout::None; }

 protected:
  bool takesWidth(fatfmt::FatWidth width) const override { return width != fatfmt::FatWidth::Fat32; }
  const char* wrongFormatMessage() const override { return "Selected Drive is not in Fat16 Format"; }
  const char* walkStatus() const override { return "Finding Fat16 File And Directory entries recursively...."; }
  fatfmt::FatCopyKind copyKind() const override { return fatfmt::FatCopyKind::Fat16; }
  const char* copyItemPrefix() const override { return "FAT_ENTRY:"; }
  const char* advancedTreeStatus() const override { return "Maintaining Tree Structure for Tree Control"; }
};

std::unique_ptr<FileSystemParser> makeFat16Parser();

}  // namespace quorvel
