// Which parser reads which kind of volume, and in which recovery modes.
#include <algorithm>
#include <cctype>
#include <functional>

#include "fs/fat/Fat16Class.h"
#include "fs/fat/Fat32Class.h"
#include "fs/fat/Fat64Class.h"
#include "fs/ntfs/Ntfs.h"
#include "session/ScanSession.h"

namespace quorvel {

namespace {

struct ParserKind {
  std::vector<std::string> kinds;  // lower case
  std::vector<RecoveryMode> modes;
  std::function<std::unique_ptr<FileSystemParser>()> make;
};

const std::vector<ParserKind>& parserKinds() {
  static const std::vector<ParserKind> table = {
      {{"ntfs"}, {RecoveryMode::Standard, RecoveryMode::Advanced, RecoveryMode::Deep}, makeNtfsParser},
      {{"fat16", "fat", "fat12"}, {RecoveryMode::Standard}, makeFat16Parser},
      {{"fat32"}, {RecoveryMode::Standard}, makeFat32Parser},
      {{"fat64", "exfat"}, {RecoveryMode::Standard}, makeExFatParser},
  };
  return table;
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

std::unique_ptr<FileSystemParser> parserFor(const std::string& kind, RecoveryMode mode) {
  const std::string wanted = lowerCase(kind);
  for (const ParserKind& entry : parserKinds()) {
    if (std::find(entry.kinds.begin(), entry.kinds.end(), wanted) == entry.kinds.end()) continue;
    if (std::find(entry.modes.begin(), entry.modes.end(), mode) == entry.modes.end()) return nullptr;
    return entry.make();
  }
  return nullptr;
}

}  // namespace quorvel
