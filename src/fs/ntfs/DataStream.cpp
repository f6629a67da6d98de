#include "fs/ntfs/DataStream.h"

#include <algorithm>
#include <unordered_set>

namespace quorvel::ntfsfmt {

namespace {

// Attribute lists are a few KiB; a larger claim is damage, not a file.
constexpr std::uint64_t kMaxAttributeListBytes = 8ull * 1024 * 1024;

void takeSizes(DataStream& ds, const AttributeHeader& a) {
  ds.sizesKnown = true;
  ds.flags = a.flags;
  ds.compressionUnit = a.compressionUnit;
  ds.allocatedSize = a.allocatedSize;
  ds.realSize = a.realSize;
  ds.initializedSize = a.initializedSize;
}

// Adds one unnamed data attribute of a record to the stream.
void addDataAttribute(DataStream& ds, const RecordImage& image, const AttributeHeader& a) {
  ds.present = true;
  if (!a.nonResident) {
    // A resident value is the whole content; runs, if any, win over it.
    if (ds.runs.empty() && !ds.sizesKnown) {
      const Bytes value = residentValue(image, a);
      ds.resident = true;
      ds.value.assign(value.begin(), value.end());
    }
    return;
  }
  ds.resident = false;
  ds.value.clear();
  if (a.firstVcn == 0 && !ds.sizesKnown) takeSizes(ds, a);
  if (decodeRunList(runListBytes(image, a), a.firstVcn, a.vcnCount(), ds.runs) != RunListEnd::Terminated)
    ds.complete = false;
}

bool isUnnamedData(const AttributeHeader& a) { return a.type == kData && a.unnamed(); }

void finish(DataStream& ds, const NtfsVolume& volume, bool listed) {
  ds.ceilingBytes = volume.limitBytes();
  if (!ds.runs.empty() && !vcnToBytes(ds.runs.back().endVcn(), volume.clusterSize, ds.mappedBytes))
    ds.mappedBytes = ~0ull;
  // With an attribute list, runs that end before the data does mean an
  // extent was not found; without one, the header's sizes are damaged.
  if (listed && ds.sizesKnown && ds.mappedBytes < std::min(ds.allocatedSize, ds.realSize)) ds.missingExtents = true;
  if (ds.missingExtents) ds.complete = false;
}

}  // namespace

std::uint64_t DataStream::length() const {
  if (resident) return value.size();
  if (!sizesKnown) return 0;
  const std::uint64_t size = std::min(realSize, allocatedSize);
  return std::min(size, missingExtents ? std::max(mappedBytes, ceilingBytes) : mappedBytes);
}

std::optional<std::uint64_t> unnamedDataSize(const RecordImage& image, const std::vector<AttributeHeader>& attributes,
                                             std::uint64_t clusterSize) {
  for (const AttributeHeader& a : attributes) {
    if (!isUnnamedData(a)) continue;
    if (!a.nonResident) return a.valueLength;
    if (a.firstVcn != 0) continue;
    std::uint64_t mapped = ~0ull;
    if (clusterSize != 0 && !vcnToBytes(mappedClusters(runListBytes(image, a), a.vcnCount()), clusterSize, mapped))
      mapped = ~0ull;
    return std::min({a.realSize, a.allocatedSize, mapped});
  }
  return std::nullopt;
}

std::vector<std::uint8_t> readAttributeList(const RecordImage& image, const AttributeHeader& list,
                                            const NtfsVolume& volume) {
  if (!list.nonResident) {
    const Bytes value = residentValue(image, list);
    return {value.begin(), value.end()};
  }
  std::vector<DataRun> runs;
  decodeRunList(runListBytes(image, list), list.firstVcn, list.vcnCount(), runs);
  const std::uint64_t wanted = std::min({list.realSize, list.allocatedSize, kMaxAttributeListBytes});
  std::vector<std::uint8_t> bytes;
  for (const DataRun& run : runs) {
    if (bytes.size() >= wanted || volume.clusterSize == 0) break;
    const std::uint64_t room = wanted - bytes.size();
    const std::uint64_t clusters = std::min<std::uint64_t>(run.length, (room + volume.clusterSize - 1) / volume.clusterSize);
    const std::size_t at = bytes.size();
    bytes.resize(at + clusters * volume.clusterSize);
    const std::span<std::uint8_t> out(bytes.data() + at, clusters * volume.clusterSize);
    if (!run.sparse()) volume.readClusters(run.lcn, clusters, out);
  }
  if (bytes.size() > wanted) bytes.resize(wanted);
  return bytes;
}

std::vector<AttributeListEntry> attributeListEntries(const RecordImage& image, const AttributeHeader& list,
                                                    const NtfsVolume& volume) {
  const std::vector<std::uint8_t> bytes = readAttributeList(image, list, volume);
  const Bytes view(bytes.data(), bytes.size());
  std::vector<AttributeListEntry> entries;
  // Every entry is at least 0x1A bytes long, which bounds the walk.
  for (std::size_t offset = 0; offset < view.size();) {
    const AttributeListEntry entry = parseAttributeListEntry(view, offset);
    if (!entry.valid || entry.type == kEndOfAttributes) break;
    entries.push_back(entry);
    offset += entry.length;
  }
  return entries;
}

DataStream findUnnamedData(const RecordImage& base, std::optional<std::uint64_t> baseNumber,
                           const NtfsVolume& volume, const RecordLookup* lookup) {
  DataStream ds;
  std::vector<AttributeHeader> attributes;
  if (!collectAttributeHeaders(base, attributes)) ds.complete = false;
  const AttributeHeader* list = nullptr;
  for (const AttributeHeader& a : attributes) {
    if (isUnnamedData(a)) addDataAttribute(ds, base, a);
    if (a.type == kAttributeList && !list) list = &a;
  }
  normaliseRuns(ds.runs);
  if (!list) {
    finish(ds, volume, false);
    return ds;
  }
  if (!lookup || !baseNumber) {
    ds.missingExtents = true;
    finish(ds, volume, true);
    return ds;
  }

  // The list names, for each extent, the record that holds it. Records are
  // visited in the order of their first extent, so the MFT's own extension
  // records can be found through the runs already gathered.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;  // first VCN, record number
  for (const AttributeListEntry& entry : attributeListEntries(base, *list, volume))
    if (entry.type == kData && entry.nameLength == 0) extents.emplace_back(entry.firstVcn, referenceRecord(entry.recordReference));
  std::stable_sort(extents.begin(), extents.end());

  std::unordered_set<std::uint64_t> visited{*baseNumber};
  std::vector<std::uint8_t> buffer(volume.recordSize);
  std::vector<AttributeHeader> extensionAttributes;
  for (const auto& [firstVcn, number] : extents) {
    (void)firstVcn;
    if (!visited.insert(number).second) continue;
    std::optional<RecordImage> image;
    if (lookup->readRecord(number, buffer, ds.runs)) image = prepareRecord(buffer);
    // An extension record names its base; one that names another is stale.
    if (!image || !image->header.isExtension() || referenceRecord(image->header.baseReference) != *baseNumber) {
      ds.missingExtents = true;
      continue;
    }
    if (!collectAttributeHeaders(*image, extensionAttributes)) ds.complete = false;
    for (const AttributeHeader& a : extensionAttributes)
      if (isUnnamedData(a)) addDataAttribute(ds, *image, a);
    normaliseRuns(ds.runs);
  }
  finish(ds, volume, true);
  return ds;
}

}  // namespace quorvel::ntfsfmt
