#include "fs/ntfs/MftRecord.h"

namespace quorvel::ntfsfmt {

namespace {
// The smallest record header: the fields up to the base reference.
constexpr std::uint32_t kMinimumHeader = 0x28;
// A resident attribute header is the smallest attribute there is.
constexpr std::uint32_t kSmallestAttribute = 0x18;
}  // namespace

std::uint32_t applyFixups(std::span<std::uint8_t> record) {
  const Bytes view(record.data(), record.size());
  const std::size_t size = record.size();
  const std::uint32_t offset = le16(view, 4);
  const std::uint32_t count = le16(view, 6);
  if (count == 0 || (offset & 1) != 0 || offset < 8 || offset + 2ull * count > size) return 0;

  const std::size_t strides = size / kFixupStride;
  if (strides == 0) return static_cast<std::uint32_t>(size);
  const std::size_t covered = count - 1 < strides ? count - 1 : strides;
  const std::uint16_t sequenceNumber = le16(view, offset);
  for (std::size_t i = 1; i <= covered; ++i) {
    const std::size_t end = i * kFixupStride - 2;
    if (le16(view, end) != sequenceNumber) return static_cast<std::uint32_t>((i - 1) * kFixupStride);
    record[end] = record[offset + 2 * i];
    record[end + 1] = record[offset + 2 * i + 1];
  }
  // Strides the array does not cover cannot be checked, so are not trusted.
  return static_cast<std::uint32_t>(covered * kFixupStride);
}

bool looksLikeRecordStart(Bytes s) {
  return hasText(s, 0, "FILE") && le16(s, 4) < 0x200 && le16(s, 6) < 0x200 && le16(s, 0x14) < 0x200;
}

std::optional<RecordImage> prepareRecord(std::span<std::uint8_t> record) {
  RecordImage image;
  image.header = parseRecordHeader(Bytes(record.data(), record.size()));
  if (!image.header.hasFileSignature) return std::nullopt;
  const std::uint32_t usable = applyFixups(record);
  if (usable < kMinimumHeader) return std::nullopt;
  image.bytes = Bytes(record.data(), usable);
  const std::uint32_t first = image.header.firstAttribute;
  if (first < kMinimumHeader || first >= usable) return std::nullopt;
  return image;
}

bool collectAttributeHeaders(const RecordImage& image, std::vector<AttributeHeader>& out) {
  out.clear();
  std::uint32_t offset = image.header.firstAttribute;
  // Every attribute is at least a resident header long, which bounds the walk.
  const std::size_t most = image.bytes.size() / kSmallestAttribute + 1;
  for (std::size_t n = 0; n < most; ++n) {
    AttributeHeader a;
    switch (parseAttributeHeader(image.bytes, offset, a)) {
      case AttributeCheck::End: return true;
      case AttributeCheck::Damaged: return false;
      case AttributeCheck::Ok: break;
    }
    out.push_back(a);
    offset += a.length;
  }
  return false;
}

Bytes attributeName(const RecordImage& image, const AttributeHeader& a) {
  if (a.nameLength == 0) return {};
  return image.bytes.subspan(a.offset + a.nameOffset, 2u * a.nameLength);
}

Bytes residentValue(const RecordImage& image, const AttributeHeader& a) {
  if (a.nonResident) return {};
  return image.bytes.subspan(a.valueOffset, a.valueLength);
}

Bytes runListBytes(const RecordImage& image, const AttributeHeader& a) {
  if (!a.nonResident) return {};
  return image.bytes.subspan(a.runListOffset, a.runListLength);
}

}  // namespace quorvel::ntfsfmt
