#pragma once
// The number of an allocation unit (a FAT cluster, an NTFS logical cluster,
// an ext or HFS+ block): one distinct type per file system, so that a unit
// number is never passed where a byte offset belongs, nor the other way.
// Turning it into bytes is the volume's business, which knows the unit size.
#include <compare>

namespace quorvel {

template <typename Tag, typename Rep>
struct UnitNumber {
  Rep value{};

  constexpr UnitNumber() = default;
  constexpr explicit UnitNumber(Rep v) : value(v) {}
  friend constexpr auto operator<=>(const UnitNumber&, const UnitNumber&) = default;
  friend constexpr bool operator==(const UnitNumber&, const UnitNumber&) = default;
};

}  // namespace quorvel
