#pragma once
// A base record's attributes wherever they lie: in the record itself and in
// the extension records its attribute list names (a large folder's index
// root, a long journal's runs). Extension records that do not name the base
// as theirs are stale and left out.
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "fs/ntfs/DataStream.h"
#include "fs/ntfs/MftRecord.h"
#include "fs/ntfs/RunList.h"

namespace quorvel::ntfsfmt {

class RecordAttributes {
 public:
  // `base` holds the base record's bytes, fixed up or not; its extension
  // records are read through `lookup` as record numbers of `baseNumber`'s
  // MFT. Without a lookup only the base record's own attributes are seen.
  RecordAttributes(std::vector<std::uint8_t> base, std::uint64_t baseNumber, const NtfsVolume& volume,
                   const RecordLookup* lookup);

  bool valid() const { return !records_.empty(); }
  // The first attribute of the type and name, resident or not.
  struct Found {
    const RecordImage* image = nullptr;
    const AttributeHeader* attribute = nullptr;
  };
  Found find(std::uint32_t type, std::u16string_view name) const;
  // A resident attribute's value; empty when there is none.
  Bytes residentValue(std::uint32_t type, std::u16string_view name) const;
  // The runs of every non-resident extent of the type and name, in VCN order.
  std::vector<DataRun> runs(std::uint32_t type, std::u16string_view name) const;

 private:
  struct Held {
    std::vector<std::uint8_t> bytes;
    RecordImage image;
    std::vector<AttributeHeader> attributes;
  };
  bool add(std::vector<std::uint8_t> bytes);

  std::vector<std::unique_ptr<Held>> records_;
};

// Whether the attribute's name is `name`.
bool attributeNamed(const RecordImage& image, const AttributeHeader& a, std::u16string_view name);

}  // namespace quorvel::ntfsfmt
