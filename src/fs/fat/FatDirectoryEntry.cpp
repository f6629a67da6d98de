#include "fs/fat/FatDirectoryEntry.h"

#include <string_view>

#include "fs/Utf16.h"
#include "fs/fat/CodePage437.h"

namespace quorvel::fatfmt {

namespace {
namespace field {
constexpr std::size_t name = 0;
constexpr std::size_t attributes = 11;
constexpr std::size_t caseFlags = 12;
constexpr std::size_t creationTenths = 13;
constexpr std::size_t creationTime = 14;
constexpr std::size_t creationDate = 16;
constexpr std::size_t accessDate = 18;
constexpr std::size_t firstClusterHigh = 20;
constexpr std::size_t writeTime = 22;
constexpr std::size_t writeDate = 24;
constexpr std::size_t firstClusterLow = 26;
constexpr std::size_t size = 28;
}  // namespace field

// Long-name slot fields.
namespace slot {
constexpr std::size_t ordinal = 0;
constexpr std::size_t units1 = 1;    // 5 units
constexpr std::size_t checksum = 13;
constexpr std::size_t units2 = 14;   // 6 units
constexpr std::size_t units3 = 28;   // 2 units
constexpr std::uint8_t lastFlag = 0x40;
constexpr std::uint8_t ordinalMask = 0x1F;
}  // namespace slot

constexpr std::uint8_t kLowerCaseBase = 0x08;
constexpr std::uint8_t kLowerCaseExtension = 0x10;
constexpr std::uint8_t kKanjiE5 = 0x05;  // stands for a real first byte 0xE5
constexpr std::string_view kForbiddenInShortNames = "\"*+,/:;<=>?[\\]|";

bool validShortNameByte(std::uint8_t b) { return b >= 0x20 && kForbiddenInShortNames.find(static_cast<char>(b)) == std::string_view::npos; }

std::string lowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string trimmedPart(const std::uint8_t* bytes, std::size_t count) {
  while (count > 0 && bytes[count - 1] == ' ') --count;
  return codePage437ToUtf8(Bytes(bytes, count));
}

// Whether a short name may begin with `first` when its long name begins with
// `unit`: short names are made from the long name, upper-cased, so an ASCII
// letter or digit is kept; anything else may turn into any byte a short name
// can begin with.
bool fitsFirstUnit(std::uint8_t first, std::uint16_t unit) {
  if (unit >= 'a' && unit <= 'z') return first == unit || first == unit - 'a' + 'A';
  if ((unit >= 'A' && unit <= 'Z') || (unit >= '0' && unit <= '9')) return first == unit;
  return first == kKanjiE5 || (first != ' ' && first != '.' && first != kDeletedMark && validShortNameByte(first));
}
}  // namespace

std::string attributeText(std::uint8_t attributes) {
  std::string text;
  if (attributes & attribute::readOnly) text += "-R";
  if (attributes & attribute::hidden) text += "-H";
  if (attributes & attribute::system) text += "-S";
  if (attributes & attribute::archive) text += "-A";
  return text;
}

ShortEntry decodeShortEntry(Bytes s) {
  ShortEntry e;
  for (std::size_t i = 0; i < e.rawName.size(); ++i) e.rawName[i] = u8(s, field::name + i);
  e.attributes = u8(s, field::attributes);
  e.caseFlags = u8(s, field::caseFlags);
  e.creationTenths = u8(s, field::creationTenths);
  e.creationTime = le16(s, field::creationTime);
  e.creationDate = le16(s, field::creationDate);
  e.accessDate = le16(s, field::accessDate);
  e.firstClusterHigh = le16(s, field::firstClusterHigh);
  e.writeTime = le16(s, field::writeTime);
  e.writeDate = le16(s, field::writeDate);
  e.firstClusterLow = le16(s, field::firstClusterLow);
  e.size = le32(s, field::size);
  return e;
}

SlotKind classifySlot(Bytes s) {
  if (s.size() < kSlotSize) return SlotKind::Invalid;
  const std::uint8_t first = s[0];
  const std::uint8_t attributes = s[field::attributes];
  if (first == 0x00) return SlotKind::NeverUsed;
  if ((attributes & 0x3F) == attribute::longName) return SlotKind::LongName;
  if (attributes & 0xC0) return SlotKind::Invalid;
  if (first == '.') {
    // "." and "..": the rest of the name is blank.
    const bool dotDot = s[1] == '.';
    for (std::size_t i = dotDot ? 2 : 1; i < 11; ++i)
      if (s[i] != ' ') return SlotKind::Invalid;
    return SlotKind::Dot;
  }
  if (first != kDeletedMark && first != kKanjiE5 && !validShortNameByte(first)) return SlotKind::Invalid;
  for (std::size_t i = 1; i < 11; ++i)
    if (!validShortNameByte(s[i])) return SlotKind::Invalid;
  if (attributes & attribute::volumeLabel) return SlotKind::VolumeLabel;
  return attributes & attribute::directory ? SlotKind::Folder : SlotKind::File;
}

std::string shortNameText(const ShortEntry& e) {
  std::array<std::uint8_t, 11> raw = e.rawName;
  std::string lostFirst;
  if (raw[0] == kDeletedMark) {
    appendUtf8(lostFirst, U'\uFFE5');
    raw[0] = 'A';  // placeholder, replaced below
  } else if (raw[0] == kKanjiE5) {
    raw[0] = kDeletedMark;
  }
  std::string base = trimmedPart(raw.data(), 8);
  std::string extension = trimmedPart(raw.data() + 8, 3);
  if (e.caseFlags & kLowerCaseBase) base = lowerAscii(base);
  if (e.caseFlags & kLowerCaseExtension) extension = lowerAscii(extension);
  if (!lostFirst.empty() && !base.empty()) base = lostFirst + base.substr(1);
  return extension.empty() ? base : base + "." + extension;
}

std::uint8_t shortNameChecksum(const std::array<std::uint8_t, 11>& rawName) {
  std::uint8_t sum = 0;
  for (const std::uint8_t b : rawName) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + b);
  return sum;
}

void LongNameAssembler::add(Bytes s) {
  Slot part;
  part.deleted = u8(s, slot::ordinal) == kDeletedMark;
  const std::uint8_t ordinalByte = u8(s, slot::ordinal);
  part.ordinal = part.deleted ? 0 : ordinalByte & slot::ordinalMask;
  part.checksum = u8(s, slot::checksum);
  for (std::size_t i = 0; i < 10; ++i) part.units[i] = u8(s, slot::units1 + i);
  for (std::size_t i = 0; i < 12; ++i) part.units[10 + i] = u8(s, slot::units2 + i);
  for (std::size_t i = 0; i < 4; ++i) part.units[22 + i] = u8(s, slot::units3 + i);

  // A live run starts with the slot marked last and counts down to 1; a
  // deleted run has lost its ordinals and is held together by its checksum.
  const bool startsRun = part.deleted ? slots_.empty() || !slots_.back().deleted || slots_.back().checksum != part.checksum
                                      : (ordinalByte & slot::lastFlag) != 0;
  if (startsRun) {
    slots_.clear();
    broken_ = !part.deleted && (part.ordinal == 0 || part.ordinal > kMaxSlots);
  } else if (!part.deleted &&
             (slots_.empty() || slots_.back().deleted || slots_.back().ordinal != part.ordinal + 1 ||
              slots_.back().checksum != part.checksum)) {
    broken_ = true;
  }
  if (slots_.size() >= kMaxSlots) broken_ = true;
  if (!broken_) slots_.push_back(part);
}

std::optional<std::string> LongNameAssembler::assembleLongName(const ShortEntry& entry) {
  std::vector<Slot> slots;
  slots.swap(slots_);
  const bool broken = broken_;
  broken_ = false;
  if (slots.empty() || broken) return std::nullopt;
  if (entry.deleted()) {
    // The first name byte is lost. Every step of the checksum is a bijection,
    // so exactly one value of it fits any checksum: the test is whether that
    // value is the one the long name's first letter would have given.
    std::array<std::uint8_t, 11> raw = entry.rawName;
    for (int b = 0; b < 256; ++b) {
      raw[0] = static_cast<std::uint8_t>(b);
      if (shortNameChecksum(raw) == slots.front().checksum) break;
    }
    const std::uint16_t firstUnit = static_cast<std::uint16_t>(slots.back().units[0] | (slots.back().units[1] << 8));
    if (!fitsFirstUnit(raw[0], firstUnit)) return std::nullopt;
  } else {
    if (slots.back().deleted || slots.back().ordinal != 1) return std::nullopt;
    if (shortNameChecksum(entry.rawName) != slots.front().checksum) return std::nullopt;
  }
  std::vector<std::uint8_t> units;
  units.reserve(slots.size() * 26);
  for (auto it = slots.rbegin(); it != slots.rend(); ++it) units.insert(units.end(), it->units.begin(), it->units.end());
  // Unused units after the terminating zero are 0xFFFF; the zero ends the name.
  std::string name = utf16leToUtf8(units, units.size() / 2);
  if (name.empty()) return std::nullopt;
  return name;
}

}  // namespace quorvel::fatfmt
