#pragma once
// Folder index nodes ($I30) and the names left in their slack. When a name
// is removed from a node the entries behind it move down and the node's used
// length shrinks; the old bytes beyond it stay until they are overwritten.
// Whole index blocks the index's bitmap marks free keep what they held. A
// deleted name found there is only as trustworthy as its own fields, so each
// one is checked against the folder it sits in before it is taken.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fs/ntfs/NtfsLayout.h"
#include "io/Endian.h"

namespace quorvel::ntfsfmt {

inline constexpr std::uint32_t kIndexRoot = 0x90;
inline constexpr std::uint32_t kIndexAllocation = 0xA0;
inline constexpr std::uint32_t kBitmap = 0xB0;

// The part of an index node's bytes that holds entries (`used`) and the
// slack behind them up to the node's allocated end.
struct IndexNodeParts {
  Bytes used;
  Bytes slack;
};

// The $INDEX_ROOT value: its node header follows 16 bytes of index facts.
// None when the header does not fit the value.
std::optional<IndexNodeParts> indexRootParts(Bytes rootValue);
// The index block size the root names, 0 when it makes no sense.
std::uint32_t indexBlockSize(Bytes rootValue);

// An index block ("INDX") after its fix-ups. A block in use splits into
// entries and slack; a free block is slack from its node header on. None
// when the bytes are not an index block.
std::optional<IndexNodeParts> indexBlockParts(Bytes block, bool inUse);

// One file-name key as found in an index node.
struct IndexName {
  std::uint64_t fileReference = 0;  // 0 when the entry header was overwritten
  std::uint64_t parentReference = 0;
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  std::uint64_t changed = 0;
  std::uint64_t accessed = 0;
  std::uint64_t realSize = 0;
  std::uint32_t fileAttributes = 0;
  std::uint8_t nameSpace = 0;
  std::string name;  // UTF-8

  bool isFolder() const { return (fileAttributes & kFileIsFolder) != 0; }
};

// The live entries of a node's used part, up to its last entry.
std::vector<IndexName> liveIndexNames(Bytes used);

// What makes a found name believable: the folder it must name as its
// parent and the window its four times must fall in (Windows file times).
struct SlackRules {
  std::uint64_t folderRecord = 0;
  std::uint64_t earliestTime = 0;
  std::uint64_t latestTime = 0;
};

// The window of believable times: from 1980 (before any NTFS volume) to
// five years after `nowSeconds` (Unix seconds), for clocks set ahead.
SlackRules slackRulesFor(std::uint64_t folderRecord, std::int64_t nowSeconds);

// Every file-name key in `slack`, looked for at 8-byte steps, that names
// the folder as its parent, has a name space of 0..3, a name that fits and
// is valid UTF-16 without NUL or '/', and believable times. The entry
// header in front of a key gives the file reference when its lengths agree
// with the key.
std::vector<IndexName> slackIndexNames(Bytes slack, const SlackRules& rules);

}  // namespace quorvel::ntfsfmt
