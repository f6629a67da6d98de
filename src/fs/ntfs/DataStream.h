#pragma once
// Where a file's content lives: its unnamed data attribute, resident in the
// record or mapped by runs, possibly spread over extension records that the
// attribute list names. Named data attributes (alternate streams) are never
// taken for the content.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fs/ntfs/MftRecord.h"
#include "fs/ntfs/NtfsVolume.h"
#include "fs/ntfs/RunList.h"

namespace quorvel::ntfsfmt {

struct DataStream {
  bool present = false;   // the record has an unnamed data attribute
  bool resident = false;
  std::vector<std::uint8_t> value;  // the content of a resident attribute
  std::vector<DataRun> runs;        // every extent's runs, in VCN order
  // From the extent that starts at VCN 0, which alone carries them.
  bool sizesKnown = false;
  std::uint16_t flags = 0;
  std::uint8_t compressionUnit = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t realSize = 0;
  std::uint64_t initializedSize = 0;
  // False when an extent or extension record could not be read whole.
  bool complete = true;
  // An extent the attribute list names was not found.
  bool missingExtents = false;
  // Bytes the runs map, from VCN 0 to the end of the last run.
  std::uint64_t mappedBytes = 0;
  // The volume's size: the bound for a length nothing else bounds.
  std::uint64_t ceilingBytes = 0;

  bool compressed() const { return (flags & kAttributeCompressed) != 0; }
  // Bytes of content: the real size, never beyond what was allocated, nor
  // beyond what the runs map (or, with extents missing, the volume's size).
  std::uint64_t length() const;
};

// Reads MFT records by number for the attribute-list walk.
class RecordLookup {
 public:
  virtual ~RecordLookup() = default;
  // `gathered` holds the runs found so far: the MFT's own record needs them
  // to find its extension records inside the MFT.
  virtual bool readRecord(std::uint64_t number, std::span<std::uint8_t> out,
                          const std::vector<DataRun>& gathered) const = 0;
};

// The size of the unnamed data attribute of a record without an attribute
// list: the resident value's length, or the real size of the extent that
// starts at VCN 0, kept within what it allocates and (for a known cluster
// size, not 0) what its runs map. The same length streamContent writes.
std::optional<std::uint64_t> unnamedDataSize(const RecordImage& image, const std::vector<AttributeHeader>& attributes,
                                             std::uint64_t clusterSize);

// The record's attribute list, resident or read from its clusters.
std::vector<std::uint8_t> readAttributeList(const RecordImage& image, const AttributeHeader& list,
                                            const NtfsVolume& volume);

// The entries of that attribute list, up to the first damaged one.
std::vector<AttributeListEntry> attributeListEntries(const RecordImage& image, const AttributeHeader& list,
                                                    const NtfsVolume& volume);

// Gathers the unnamed data attribute of a base record. With a lookup and the
// base's record number, extents in extension records are gathered too;
// otherwise only the base record's own.
DataStream findUnnamedData(const RecordImage& base, std::optional<std::uint64_t> baseNumber,
                           const NtfsVolume& volume, const RecordLookup* lookup);

}  // namespace quorvel::ntfsfmt
