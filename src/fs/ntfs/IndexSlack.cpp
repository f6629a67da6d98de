#include "fs/ntfs/IndexSlack.h"

#include "fs/Utf16.h"
#include "fs/ntfs/NtfsLayout.h"

namespace quorvel::ntfsfmt {

namespace {

namespace root {
constexpr std::size_t blockSize = 0x08;
constexpr std::size_t node = 0x10;
}  // namespace root

namespace block {
constexpr std::size_t node = 0x18;
}  // namespace block

namespace node {
constexpr std::size_t entriesOffset = 0x00;
constexpr std::size_t usedLength = 0x04;
constexpr std::size_t allocatedLength = 0x08;
constexpr std::size_t size = 0x10;
}  // namespace node

namespace entry {
constexpr std::size_t fileReference = 0x00;
constexpr std::size_t length = 0x08;
constexpr std::size_t keyLength = 0x0A;
constexpr std::size_t flags = 0x0C;
constexpr std::size_t key = 0x10;
constexpr std::uint16_t lastEntry = 0x02;
}  // namespace entry


constexpr std::uint64_t kRecordMask = 0x0000FFFFFFFFFFFFull;
constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ull;
// 1980-01-01 in Windows file time.
constexpr std::uint64_t kEarliestTime = 119600064000000000ull;
constexpr std::int64_t kFutureSeconds = 5ll * 366 * 24 * 3600;
constexpr std::size_t kStep = 8;

std::optional<IndexNodeParts> nodeParts(Bytes bytes, std::size_t at, bool inUse) {
  if (bytes.size() < at + node::size) return std::nullopt;
  const std::uint64_t entries = le32(bytes, at + node::entriesOffset);
  const std::uint64_t used = le32(bytes, at + node::usedLength);
  const std::uint64_t allocated = le32(bytes, at + node::allocatedLength);
  const std::uint64_t room = bytes.size() - at;
  if (entries < node::size || entries > room) return std::nullopt;
  IndexNodeParts parts;
  if (!inUse) {
    parts.slack = bytes.subspan(at + entries);
    return parts;
  }
  if (used < entries || used > room) return std::nullopt;
  const std::uint64_t end = allocated < used ? used : (allocated > room ? room : allocated);
  parts.used = bytes.subspan(at + entries, used - entries);
  parts.slack = bytes.subspan(at + used, end - used);
  return parts;
}

// UTF-16 that names a file: no NUL, no '/', surrogates in pairs.
bool plausibleName(Bytes units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t u = le16(units, 2 * i);
    if (u == 0 || u == '/') return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= count) return false;
      const std::uint16_t low = le16(units, 2 * (i + 1));
      if (low < 0xDC00 || low > 0xDFFF) return false;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// The key at `at`, when its name fits the bytes; nothing is checked beyond.
std::optional<IndexName> decodeKey(Bytes bytes, std::size_t at) {
  if (at > bytes.size()) return std::nullopt;
  const FileNameValue f = parseFileName(bytes.subspan(at));
  if (!f.valid || f.nameLength == 0) return std::nullopt;
  IndexName n;
  n.parentReference = f.parentReference;
  n.created = f.created;
  n.modified = f.modified;
  n.changed = f.changed;
  n.accessed = f.accessed;
  n.realSize = f.realSize;
  n.fileAttributes = f.fileAttributes;
  n.nameSpace = f.nameSpace;
  n.name = utf16leToUtf8(bytes.subspan(at + f.nameOffset, 2 * std::size_t{f.nameLength}), f.nameLength);
  return n;
}

std::size_t keyLength(std::size_t units) { return kFileNameFixedBytes + 2 * units; }

}  // namespace

std::optional<IndexNodeParts> indexRootParts(Bytes rootValue) { return nodeParts(rootValue, root::node, true); }

std::uint32_t indexBlockSize(Bytes rootValue) {
  const std::uint32_t size = le32(rootValue, root::blockSize);
  if (size < 512 || size > 65536 || (size & (size - 1)) != 0) return 0;
  return size;
}

std::optional<IndexNodeParts> indexBlockParts(Bytes bytes, bool inUse) {
  if (!hasText(bytes, 0, "INDX")) return std::nullopt;
  return nodeParts(bytes, block::node, inUse);
}

std::vector<IndexName> liveIndexNames(Bytes used) {
  std::vector<IndexName> names;
  std::size_t at = 0;
  // Every entry is at least a header long, which bounds the walk.
  while (used.size() - at >= entry::key) {
    const std::size_t length = le16(used, at + entry::length);
    const std::uint16_t flags = le16(used, at + entry::flags);
    if (length < entry::key || length > used.size() - at) break;
    if ((flags & entry::lastEntry) != 0) break;
    const std::size_t keyBytes = le16(used, at + entry::keyLength);
    if (keyBytes >= kFileNameFixedBytes && keyBytes <= length - entry::key) {
      if (auto n = decodeKey(used.subspan(at, entry::key + keyBytes), entry::key)) {
        n->fileReference = le64(used, at + entry::fileReference);
        names.push_back(std::move(*n));
      }
    }
    at += length;
  }
  return names;
}

SlackRules slackRulesFor(std::uint64_t folderRecord, std::int64_t nowSeconds) {
  SlackRules rules;
  rules.folderRecord = folderRecord;
  rules.earliestTime = kEarliestTime;
  const std::int64_t latest = (nowSeconds > 0 ? nowSeconds : 0) + kFutureSeconds;
  rules.latestTime = kUnixEpochTicks + static_cast<std::uint64_t>(latest) * kTicksPerSecond;
  return rules;
}

std::vector<IndexName> slackIndexNames(Bytes slack, const SlackRules& rules) {
  std::vector<IndexName> found;
  const auto believable = [&](std::uint64_t t) { return t >= rules.earliestTime && t <= rules.latestTime; };
  std::size_t at = 0;
  while (slack.size() >= kFileNameFixedBytes && at <= slack.size() - kFileNameFixedBytes) {
    const FileNameValue f = parseFileName(slack.subspan(at));
    const std::size_t units = f.nameLength;
    const bool shaped = (f.parentReference & kRecordMask) == rules.folderRecord && f.nameSpace <= 3 && units > 0 &&
                        f.valid && plausibleName(slack.subspan(at + f.nameOffset, 2 * units), units);
    std::optional<IndexName> n;
    if (shaped) n = decodeKey(slack, at);
    if (!n || !believable(n->created) || !believable(n->modified) || !believable(n->changed) ||
        !believable(n->accessed)) {
      at += kStep;
      continue;
    }
    // The entry header in front, when the overwrite that made the slack
    // left it standing.
    if (at >= entry::key) {
      const std::size_t head = at - entry::key;
      const std::size_t length = le16(slack, head + entry::length);
      const std::size_t keyBytes = le16(slack, head + entry::keyLength);
      if (keyBytes == keyLength(units) && length >= entry::key + keyBytes && length <= entry::key + keyBytes + 16)
        n->fileReference = le64(slack, head + entry::fileReference);
    }
    found.push_back(std::move(*n));
    at += (keyLength(units) + kStep - 1) / kStep * kStep;
  }
  return found;
}

}  // namespace quorvel::ntfsfmt
