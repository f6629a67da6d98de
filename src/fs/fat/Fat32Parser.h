#pragma once
// FAT32 volumes: the root directory is a cluster chain like any folder.
#include <memory>

#include "fs/fat/FatDirectoryParser.h"

namespace quorvel {

class Fat32Parser : public FatDirectoryParser {
 protected:
  bool takesWidth(fatfmt::FatWidth width) const override { return width == fatfmt::FatWidth::Fat32; }
  const char* wrongFormatMessage() const override { return "Selected Drive is not in Fat32 Format"; }
  const char* walkStatus() const override { return "Finding Fat32 File And Directory entries recursively...."; }
  fatfmt::FatCopyKind copyKind() const override { return fatfmt::FatCopyKind::Fat32; }
  const char* copyItemPrefix() const override { return "FAT32_ENTRY:"; }
  const char* advancedTreeStatus() const override { return "Maintaining TreeStructure for Tree Control"; }
};

std::unique_ptr<FileSystemParser> makeFat32Parser();

}  // namespace quorvel
