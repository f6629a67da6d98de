#pragma once
// One MFT record as the parser works on it: the update-sequence fix-ups that
// make its bytes trustworthy, and the walk over its attribute headers.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fs/ntfs/NtfsLayout.h"

namespace quorvel::ntfsfmt {

// Puts back the saved word at the end of every 512-byte stride. Returns how
// many leading bytes can be trusted: the whole record when every stride
// carried the sequence number, the strides before the first torn one
// otherwise (a torn stride holds an older write), 0 when the sequence array
// itself is unusable. Strides after a torn one are left as read.
std::uint32_t applyFixups(std::span<std::uint8_t> record);

// The cheap test of a sector scan: "FILE" and header offsets inside the
// first 512 bytes.
bool looksLikeRecordStart(Bytes sector);

// A record after its fix-ups: the header and the bytes that can be trusted.
struct RecordImage {
  RecordHeader header;
  Bytes bytes;  // the usable prefix of the record
};

// Checks the signature, applies the fix-ups in place and returns the usable
// image; none when the record is not a usable "FILE" record.
std::optional<RecordImage> prepareRecord(std::span<std::uint8_t> record);

// Collects the attribute headers in record order into `out` (cleared first).
// Stops at the end marker, or at the first attribute whose lengths or
// offsets do not fit; false in that case (the headers before it are kept).
bool collectAttributeHeaders(const RecordImage& image, std::vector<AttributeHeader>& out);

// The attribute's name bytes (UTF-16LE), empty when unnamed.
Bytes attributeName(const RecordImage& image, const AttributeHeader& a);
// A resident attribute's value.
Bytes residentValue(const RecordImage& image, const AttributeHeader& a);
// A non-resident attribute's mapping pairs.
Bytes runListBytes(const RecordImage& image, const AttributeHeader& a);

}  // namespace quorvel::ntfsfmt
