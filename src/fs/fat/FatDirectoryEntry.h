#pragma once
// The 32-byte directory slots of FAT12/16/32: short entries and long-name
// slots, decoded in one place.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fs/fat/FatLayout.h"
#include "io/Endian.h"

namespace quorvel::fatfmt {

inline constexpr std::size_t kSlotSize = 32;

namespace attribute {
inline constexpr std::uint8_t readOnly = 0x01;
inline constexpr std::uint8_t hidden = 0x02;
inline constexpr std::uint8_t system = 0x04;
inline constexpr std::uint8_t volumeLabel = 0x08;
inline constexpr std::uint8_t directory = 0x10;
inline constexpr std::uint8_t archive = 0x20;
inline constexpr std::uint8_t longName = 0x0F;  // the whole low six bits
}  // namespace attribute

inline constexpr std::uint8_t kDeletedMark = 0xE5;

// The list's attribute text: "-R", "-H", "-S", "-A" for the bits set.
// exFAT keeps the same bits in the low byte of its attributes.
std::string attributeText(std::uint8_t attributes);

enum class SlotKind { NeverUsed, Dot, LongName, VolumeLabel, Folder, File, Invalid };

// A short (8.3) entry, field by field.
struct ShortEntry {
  std::array<std::uint8_t, 11> rawName{};
  std::uint8_t attributes = 0;
  std::uint8_t caseFlags = 0;        // 0x08: base name in lower case, 0x10: extension
  std::uint8_t creationTenths = 0;   // 10 ms units, 0..199
  std::uint16_t creationTime = 0;
  std::uint16_t creationDate = 0;
  std::uint16_t accessDate = 0;
  std::uint16_t firstClusterHigh = 0;
  std::uint16_t writeTime = 0;
  std::uint16_t writeDate = 0;
  std::uint16_t firstClusterLow = 0;
  std::uint32_t size = 0;

  bool deleted() const { return rawName[0] == kDeletedMark; }
  // FAT12/16 keep other data in the high word (OS/2 extended attributes).
  std::uint32_t firstCluster(FatWidth width) const {
    return width == FatWidth::Fat32 ? (std::uint32_t{firstClusterHigh} << 16) | firstClusterLow : firstClusterLow;
  }
};

ShortEntry decodeShortEntry(Bytes slot);

// What a slot holds. Slots whose name bytes no formatter writes are
// Invalid, so stale or overwritten clusters do not turn into entries.
SlotKind classifySlot(Bytes slot);

// The 8.3 name as the FAT standard builds it: name and extension without
// their padding, a dot only before a non-empty extension, the lower-case
// flags honoured, code page 437. A deleted entry's lost first letter shows
// as U+FFE5.
std::string shortNameText(const ShortEntry& entry);

// The checksum that long-name slots carry of their short entry's name.
std::uint8_t shortNameChecksum(const std::array<std::uint8_t, 11>& rawName);

// Collects the long-name slots that precede a short entry, in disk order,
// and gives their name to the short entry they belong to.
class LongNameAssembler {
 public:
  static constexpr std::size_t kMaxSlots = 20;  // 255 characters

  void add(Bytes slot);
  void reset() { slots_.clear(); }
  // The pending long name when it belongs to this short entry (its checksum
  // matches, and for a live entry the run is complete; for a deleted one the
  // first byte the checksum implies fits the name's first letter); the run
  // is used up.
  std::optional<std::string> assembleLongName(const ShortEntry& entry);

 private:
  struct Slot {
    std::array<std::uint8_t, 26> units{};  // 13 UTF-16 units
    std::uint8_t ordinal = 0;              // 0 when deleted
    std::uint8_t checksum = 0;
    bool deleted = false;
  };
  std::vector<Slot> slots_;  // disk order: the name's last part first
  bool broken_ = false;
};

}  // namespace quorvel::fatfmt
