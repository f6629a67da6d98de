#include "fs/ntfs/RecordAttributes.h"

#include <unordered_set>

namespace quorvel::ntfsfmt {

namespace {
// A base record names few extension records; a list naming more is damage.
constexpr std::size_t kMaxExtensionRecords = 64;
}  // namespace

bool attributeNamed(const RecordImage& image, const AttributeHeader& a, std::u16string_view name) {
  const Bytes bytes = attributeName(image, a);
  if (bytes.size() != 2 * name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (le16(bytes, 2 * i) != name[i]) return false;
  return true;
}

bool RecordAttributes::add(std::vector<std::uint8_t> bytes) {
  auto held = std::make_unique<Held>();
  held->bytes = std::move(bytes);
  const std::optional<RecordImage> image = prepareRecord(held->bytes);
  if (!image) return false;
  held->image = *image;
  collectAttributeHeaders(held->image, held->attributes);
  records_.push_back(std::move(held));
  return true;
}

RecordAttributes::RecordAttributes(std::vector<std::uint8_t> base, std::uint64_t baseNumber, const NtfsVolume& volume,
                                   const RecordLookup* lookup) {
  if (!add(std::move(base)) || !lookup) return;
  const Held& first = *records_.front();
  const AttributeHeader* list = nullptr;
  for (const AttributeHeader& a : first.attributes)
    if (a.type == kAttributeList) list = &a;
  if (!list) return;
  std::unordered_set<std::uint64_t> visited{baseNumber};
  const std::vector<AttributeListEntry> entries = attributeListEntries(first.image, *list, volume);
  const std::vector<DataRun> none;
  for (const AttributeListEntry& entry : entries) {
    const std::uint64_t number = referenceRecord(entry.recordReference);
    if (visited.size() > kMaxExtensionRecords || !visited.insert(number).second) continue;
    std::vector<std::uint8_t> bytes(volume.recordSize);
    if (!lookup->readRecord(number, bytes, none)) continue;
    const RecordHeader header = parseRecordHeader(Bytes(bytes.data(), bytes.size()));
    if (!header.isExtension() || referenceRecord(header.baseReference) != baseNumber) continue;
    add(std::move(bytes));
  }
}

RecordAttributes::Found RecordAttributes::find(std::uint32_t type, std::u16string_view name) const {
  for (const auto& held : records_)
    for (const AttributeHeader& a : held->attributes)
      if (a.type == type && attributeNamed(held->image, a, name)) return {&held->image, &a};
  return {};
}

Bytes RecordAttributes::residentValue(std::uint32_t type, std::u16string_view name) const {
  const Found f = find(type, name);
  if (!f.attribute || f.attribute->nonResident) return {};
  return ntfsfmt::residentValue(*f.image, *f.attribute);
}

std::vector<DataRun> RecordAttributes::runs(std::uint32_t type, std::u16string_view name) const {
  std::vector<DataRun> out;
  for (const auto& held : records_)
    for (const AttributeHeader& a : held->attributes)
      if (a.type == type && a.nonResident && attributeNamed(held->image, a, name))
        decodeRunList(runListBytes(held->image, a), a.firstVcn, a.vcnCount(), out);
  normaliseRuns(out);
  return out;
}

}  // namespace quorvel::ntfsfmt
