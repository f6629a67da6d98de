#include "fs/fat/FatBuilders.h"

#include <stdexcept>

#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "fs/fat/FatDirectoryEntry.h"
#include "support/ParserWalks.h"

namespace quorvel::test {

using fatfmt::FatWidth;

std::array<std::uint8_t, 11> rawName(const std::string& name11) {
  if (name11.size() != 11) throw std::invalid_argument("short names are 11 bytes: '" + name11 + "'");
  std::array<std::uint8_t, 11> raw{};
  for (std::size_t i = 0; i < 11; ++i) raw[i] = static_cast<std::uint8_t>(name11[i]);
  return raw;
}

std::uint16_t dosDate(int year, int month, int day) {
  return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

std::uint16_t dosTime(int hour, int minute, int second) {
  return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

ByteVector ShortSlot::bytes() const {
  ByteVector s(32, 0);
  const auto raw = rawName(name);
  std::copy(raw.begin(), raw.end(), s.begin());
  s[11] = attributes;
  s[12] = caseFlags;
  s[13] = creationTenths;
  putLe16(s, 14, creationTime);
  putLe16(s, 16, creationDate);
  putLe16(s, 18, accessDate);
  putLe16(s, 20, static_cast<std::uint16_t>(firstCluster >> 16));
  putLe16(s, 22, writeTime);
  putLe16(s, 24, writeDate);
  putLe16(s, 26, static_cast<std::uint16_t>(firstCluster));
  putLe32(s, 28, size);
  return s;
}

std::uint8_t ShortSlot::checksum() const { return fatfmt::shortNameChecksum(rawName(name)); }

std::vector<ByteVector> longNameSlots(const std::u16string& name, std::uint8_t checksum) {
  // Units past the name: one zero, then 0xFFFF, unless the name fills the slot.
  std::vector<std::uint16_t> units(name.begin(), name.end());
  if (units.empty() || units.size() % 13 != 0) {
    units.push_back(0);
    while (units.size() % 13 != 0) units.push_back(0xFFFF);
  }
  const std::size_t count = units.size() / 13;
  std::vector<ByteVector> slots;
  for (std::size_t part = count; part >= 1; --part) {
    ByteVector s(32, 0);
    s[0] = static_cast<std::uint8_t>(part | (part == count ? 0x40 : 0));
    s[11] = 0x0F;
    s[13] = checksum;
    static constexpr std::size_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t i = 0; i < 13; ++i) putLe16(s, kUnitOffsets[i], units[(part - 1) * 13 + i]);
    slots.push_back(std::move(s));
  }
  return slots;
}

ByteVector deletedSlot(ByteVector slot) {
  slot.at(0) = 0xE5;
  return slot;
}

std::vector<ByteVector> deletedSlots(std::vector<ByteVector> slots) {
  for (ByteVector& s : slots) s = deletedSlot(std::move(s));
  return slots;
}

Directory& Directory::slot(ByteVector s) {
  if (s.size() != 32) throw std::invalid_argument("a directory slot is 32 bytes");
  bytes_.insert(bytes_.end(), s.begin(), s.end());
  return *this;
}

Directory& Directory::slots(const std::vector<ByteVector>& s) {
  for (const ByteVector& one : s) slot(one);
  return *this;
}

Directory& Directory::file(const std::string& name11, std::uint32_t cluster, std::uint32_t size, std::uint8_t attributes) {
  ShortSlot e;
  e.name = name11;
  e.firstCluster = cluster;
  e.size = size;
  e.attributes = attributes;
  return entry(e);
}

Directory& Directory::folder(const std::string& name11, std::uint32_t cluster) {
  return file(name11, cluster, 0, 0x10);
}

Directory& Directory::named(const std::u16string& longName, const ShortSlot& e) {
  slots(longNameSlots(longName, e.checksum()));
  return entry(e);
}

Directory& Directory::dots(std::uint32_t self, std::uint32_t parent) {
  folder(".          ", self);
  return folder("..         ", parent);
}

ByteVector Directory::bytes(std::size_t size) const {
  if (bytes_.size() > size) throw std::invalid_argument("the directory does not fit");
  ByteVector out = bytes_;
  out.resize(size, 0);
  return out;
}

FatVolume::FatVolume(FatWidth width, std::uint32_t clusters, std::uint32_t sectorsPerCluster)
    : width_(width), clusters_(clusters), sectorsPerCluster_(sectorsPerCluster) {
  const bool fat32 = width == FatWidth::Fat32;
  reserved_ = fat32 ? 32 : 1;
  rootEntries_ = fat32 ? 0 : 512;
  const std::uint64_t bits = width == FatWidth::Fat12 ? 12 : width == FatWidth::Fat16 ? 16 : 32;
  sectorsPerFat_ = static_cast<std::uint32_t>(((clusters + 2ull) * bits / 8 + 1 + 511) / 512);
  const std::uint32_t rootSectors = rootEntries_ * 32 / 512;
  rootOffset_ = 512ull * (reserved_ + 2 * sectorsPerFat_);
  dataOffset_ = rootOffset_ + 512ull * rootSectors;
  const std::uint64_t total = dataOffset_ / 512 + std::uint64_t{clusters} * sectorsPerCluster;

  boot_.assign(512, 0);
  boot_[0] = 0xEB;
  boot_[1] = 0x3C;
  boot_[2] = 0x90;
  putText(boot_, 3, "MSWIN4.1");
  putLe16(boot_, 0x0B, 512);
  boot_[0x0D] = static_cast<std::uint8_t>(sectorsPerCluster);
  putLe16(boot_, 0x0E, static_cast<std::uint16_t>(reserved_));
  boot_[0x10] = 2;
  putLe16(boot_, 0x11, static_cast<std::uint16_t>(rootEntries_));
  boot_[0x15] = 0xF8;
  putLe16(boot_, 0x18, 63);
  putLe16(boot_, 0x1A, 255);
  if (!fat32 && total < 0x10000) {
    putLe16(boot_, 0x13, static_cast<std::uint16_t>(total));
  } else {
    putLe32(boot_, 0x20, static_cast<std::uint32_t>(total));
  }
  if (fat32) {
    putLe32(boot_, 0x24, sectorsPerFat_);
    putLe32(boot_, 0x2C, 2);
    putLe16(boot_, 0x30, 1);
    putLe16(boot_, 0x32, 6);
    boot_[0x40] = 0x80;
    boot_[0x42] = 0x29;
    putText(boot_, 0x47, "NO NAME    FAT32   ");
  } else {
    putLe16(boot_, 0x16, static_cast<std::uint16_t>(sectorsPerFat_));
    boot_[0x24] = 0x80;
    boot_[0x26] = 0x29;
    putText(boot_, 0x2B, width == FatWidth::Fat12 ? "NO NAME    FAT12   " : "NO NAME    FAT16   ");
  }
  boot_[510] = 0x55;
  boot_[511] = 0xAA;

  fat_.assign(clusters + 2ull, 0);
  fat_[0] = endOfChain() - 7;  // the media byte, 0xF8, in the low bits
  fat_[1] = endOfChain();
  if (fat32) chain({2});
}

std::uint32_t FatVolume::endOfChain() const {
  return width_ == FatWidth::Fat12 ? 0xFFF : width_ == FatWidth::Fat16 ? 0xFFFF : 0x0FFFFFFF;
}

void FatVolume::setFat(std::uint32_t cluster, std::uint32_t value) { fat_.at(cluster) = value; }

void FatVolume::chain(const std::vector<std::uint32_t>& clusters) {
  for (std::size_t i = 0; i < clusters.size(); ++i)
    setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : endOfChain());
}

void FatVolume::writeCluster(std::uint32_t cluster, const ByteVector& bytes) { writeAt(clusterOffset(cluster), bytes); }

void FatVolume::writeAt(std::uint64_t offset, const ByteVector& bytes) { writes_.emplace_back(offset, bytes); }

void FatVolume::writeRoot(const Directory& root) {
  if (width_ == FatWidth::Fat32)
    writeFolder(2, root);
  else
    writeAt(rootOffset_, root.bytes(rootEntries_ * 32));
}

ByteVector encodeFat(FatWidth width, const std::vector<std::uint32_t>& entries, std::size_t bytes) {
  ByteVector out(bytes, 0);
  for (std::uint32_t n = 0; n < entries.size(); ++n) {
    const std::uint32_t v = entries[n];
    switch (width) {
      case FatWidth::Fat12: {
        const std::size_t at = n + n / 2;
        if (n % 2 == 0) {
          out[at] = static_cast<std::uint8_t>(v);
          out[at + 1] = static_cast<std::uint8_t>((out[at + 1] & 0xF0) | ((v >> 8) & 0x0F));
        } else {
          out[at] = static_cast<std::uint8_t>((out[at] & 0x0F) | ((v & 0x0F) << 4));
          out[at + 1] = static_cast<std::uint8_t>(v >> 4);
        }
        break;
      }
      case FatWidth::Fat16: putLe16(out, 2 * std::size_t{n}, static_cast<std::uint16_t>(v)); break;
      case FatWidth::Fat32: putLe32(out, 4 * std::size_t{n}, v); break;
    }
  }
  return out;
}

std::unique_ptr<TempImage> FatVolume::materialize() const {
  auto image = std::make_unique<TempImage>(boot_);
  image->resize(size());
  const ByteVector fat = encodeFat(width_, fat_, fatBytes());
  for (int copy = 0; copy < 2; ++copy) image->write(fatOffset() + copy * fatBytes(), fat);
  for (const auto& [offset, bytes] : writes_) image->write(offset, bytes);
  return image;
}

EntryId ScannedFat::find(const std::string& path) const {
  std::vector<EntryId> level = parser->topEntries();
  EntryId current = kNoEntry;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = path.find('/', start);
    const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    current = kNoEntry;
    for (EntryId id : level)
      if (parser->name(id) == part) current = id;
    if (current == kNoEntry || slash == std::string::npos) return current;
    level = parser->children(current);
    start = slash + 1;
  }
}

ByteVector ScannedFat::content(EntryId id, bool* complete) const { return contentOf(*parser, id, complete); }

std::vector<std::string> ScannedFat::childNames(EntryId id) const { return namesOf(*parser, parser->children(id)); }

std::vector<std::string> ScannedFat::topNames() const { return namesOf(*parser, parser->topEntries()); }

std::unique_ptr<ScannedFat> scanFat(std::unique_ptr<TempImage> image, FatParserKind kind, AdvancedChoices choices) {
  auto v = std::make_unique<ScannedFat>();
  v->image = std::move(image);
  v->source = std::make_unique<FileReadSeek>();
  if (!v->source->open(v->image->path())) throw std::runtime_error("cannot open the test image");
  v->parser = kind == FatParserKind::Fat32 ? makeFat32Parser() : makeFat16Parser();
  ScanRequest request;
  request.volume = VolumeExtent{0, 0};  // the whole image
  request.advanced = choices;
  JobContext job(&v->observer);
  v->scanned = v->parser->scan(*v->source, request, job);
  return v;
}

std::unique_ptr<ScannedFat> scanFat(const FatVolume& volume, AdvancedChoices choices) {
  return scanFat(volume.materialize(), volume.width() == FatWidth::Fat32 ? FatParserKind::Fat32 : FatParserKind::Fat16,
                 choices);
}

ByteVector pattern(std::size_t length, std::uint8_t seed) {
  ByteVector out(length);
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + seed + (i >> 9) * 13);
  return out;
}

std::int64_t unixTime(int year, int month, int day, int hour, int minute, int second) {
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace quorvel::test
