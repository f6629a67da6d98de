#include "logic/RecoveryModeRules.h"

#include <cctype>

#include "fs/FileSystemKinds.h"
#include "fs/TextFormats.h"

namespace wizard {

namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string kindKey(const std::string& kind) {
  std::size_t begin = 0;
  while (begin < kind.size() && std::isspace(static_cast<unsigned char>(kind[begin]))) ++begin;
  // Characters, not bytes: a GPT partition name can be any UTF-8 text.
  std::size_t end = begin;
  for (int characters = 0; characters < 3 && end < kind.size(); ++characters) {
    ++end;
    while (end < kind.size() && isContinuationByte(kind[end])) ++end;
  }
  return kind.substr(begin, end - begin);
}

// The kind whose texts begin as the key does; the first row wins ("FAT64"
// reads as the FAT family's "fat").
const quorvel::FileSystemKind* kindOfKey(const std::string& key) {
  if (key.empty()) return nullptr;
  for (const quorvel::FileSystemKind& row : quorvel::fileSystemKinds())
    for (const std::string_view text : row.kindTexts)
      if (quorvel::asciiLowerCase(kindKey(std::string(text))) == key) return &row;
  return nullptr;
}

OfferedModes offeredModes(const std::string& kind) {
  OfferedModes modes;
  // Kinds the system does not know go on to the scan, which says why it cannot read them.
  const quorvel::FileSystemKind* row = kindOfKey(quorvel::asciiLowerCase(kindKey(kind)));
  if (!row) return modes;
  modes.advanced = row->offers(quorvel::RecoveryMode::Advanced);
  modes.deep = row->offers(quorvel::RecoveryMode::Deep);
  modes.formattedChoice = modes.advanced && row->advanced.formattedFlag;
  return modes;
}

}  // namespace wizard
