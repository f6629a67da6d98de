#include "fs/fat/ExFatBuilders.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "fs/exfat/ExFatParser.h"

namespace quorvel::test {

namespace {
constexpr std::size_t kSlot = 32;
constexpr std::size_t kUnitsPerNameEntry = 15;

// Every name in these tests upcases with this table: a-z to A-Z, all else
// unchanged. Stored compressed: 0xFFFF then a count of identical units.
std::vector<std::uint16_t> upcaseUnits() {
  std::vector<std::uint16_t> units{0xFFFF, 0x61};
  for (std::uint16_t c = u'A'; c <= u'Z'; ++c) units.push_back(c);
  units.push_back(0xFFFF);
  units.push_back(static_cast<std::uint16_t>(0x10000 - 0x7B));
  return units;
}

ByteVector upcaseTable() {
  const std::vector<std::uint16_t> units = upcaseUnits();
  ByteVector bytes(units.size() * 2);
  for (std::size_t i = 0; i < units.size(); ++i) putLe16(bytes, 2 * i, units[i]);
  return bytes;
}

std::uint32_t rotatingSum32(const ByteVector& bytes, std::uint32_t sum = 0) {
  for (std::uint8_t b : bytes) sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + b;
  return sum;
}

std::uint16_t nameHash(const std::u16string& name) {
  std::uint16_t hash = 0;
  for (char16_t c : name) {
    const std::uint16_t up = (c >= u'a' && c <= u'z') ? static_cast<std::uint16_t>(c - 0x20) : c;
    for (std::uint8_t b : {static_cast<std::uint8_t>(up), static_cast<std::uint8_t>(up >> 8)})
      hash = static_cast<std::uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + b);
  }
  return hash;
}

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }
}  // namespace

std::uint32_t exFatStamp(int year, int month, int day, int hour, int minute, int second) {
  return (std::uint32_t{dosDate(year, month, day)} << 16) | dosTime(hour, minute, second);
}

std::uint8_t utcOffset(int quarters) { return static_cast<std::uint8_t>(0x80 | (quarters & 0x7F)); }

std::uint16_t setChecksum(const std::vector<ByteVector>& slots) {
  std::uint16_t sum = 0;
  std::size_t index = 0;
  for (const ByteVector& slot : slots)
    for (std::uint8_t b : slot) {
      if (index != 2 && index != 3) sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
      ++index;
    }
  return sum;
}

std::vector<ByteVector> ExFatEntrySet::slots() const {
  const std::size_t nameEntries = ceilDiv(name.size(), kUnitsPerNameEntry);
  std::vector<ByteVector> out;

  ByteVector file(kSlot, 0);
  file[0] = 0x85;
  file[1] = secondaryCount.value_or(static_cast<std::uint8_t>(1 + nameEntries + extraSecondaries.size()));
  putLe16(file, 4, attributes);
  putLe32(file, 8, created);
  putLe32(file, 12, modified);
  putLe32(file, 16, accessed);
  file[20] = created10ms;
  file[21] = modified10ms;
  file[22] = createdUtcOffset;
  file[23] = modifiedUtcOffset;
  file[24] = accessedUtcOffset;
  out.push_back(file);

  ByteVector stream(kSlot, 0);
  stream[0] = 0xC0;
  stream[1] = static_cast<std::uint8_t>(0x01 | (noFatChain ? 0x02 : 0));  // allocation possible
  stream[3] = nameLength.value_or(static_cast<std::uint8_t>(name.size()));
  putLe16(stream, 4, nameHash(name));
  putLe64(stream, 8, validDataLength);
  putLe32(stream, 20, firstCluster);
  putLe64(stream, 24, dataLength.value_or(validDataLength));
  out.push_back(stream);

  for (std::size_t k = 0; k < nameEntries; ++k) {
    ByteVector entry(kSlot, 0);
    entry[0] = 0xC1;
    for (std::size_t i = 0; i < kUnitsPerNameEntry && k * kUnitsPerNameEntry + i < name.size(); ++i)
      putLe16(entry, 2 + 2 * i, name[k * kUnitsPerNameEntry + i]);
    out.push_back(entry);
  }
  for (const ByteVector& extra : extraSecondaries) out.push_back(extra);

  std::uint16_t sum = setChecksum(out);
  if (wrongChecksum) sum ^= 0x5A5A;
  putLe16(out[0], 2, sum);
  return out;
}

ExFatEntrySet exFile(const std::u16string& name, std::uint32_t cluster, std::uint64_t size, bool noFatChain) {
  ExFatEntrySet e;
  e.name = name;
  e.firstCluster = cluster;
  e.validDataLength = size;
  e.noFatChain = noFatChain;
  return e;
}

ExFatEntrySet exFolder(const std::u16string& name, std::uint32_t cluster, std::uint64_t bytes, bool noFatChain) {
  ExFatEntrySet e = exFile(name, cluster, bytes, noFatChain);
  e.attributes = 0x10;
  return e;
}

std::vector<ByteVector> deletedSet(std::vector<ByteVector> slots) {
  for (ByteVector& s : slots) s.at(0) &= 0x7F;
  return slots;
}

ExFatDirectory& ExFatDirectory::slot(ByteVector s) {
  if (s.size() != kSlot) throw std::invalid_argument("a directory entry is 32 bytes");
  bytes_.insert(bytes_.end(), s.begin(), s.end());
  return *this;
}

ExFatDirectory& ExFatDirectory::slots(const std::vector<ByteVector>& s) {
  for (const ByteVector& one : s) slot(one);
  return *this;
}

ExFatDirectory& ExFatDirectory::label(const std::u16string& text) {
  ByteVector s(kSlot, 0);
  s[0] = 0x83;
  s[1] = static_cast<std::uint8_t>(text.size());
  for (std::size_t i = 0; i < text.size() && i < 11; ++i) putLe16(s, 2 + 2 * i, text[i]);
  return slot(s);
}

ExFatDirectory& ExFatDirectory::padTo(std::size_t index) {
  if (slotCount() > index) throw std::invalid_argument("the directory is already past that slot");
  while (slotCount() < index) {
    ByteVector unused(kSlot, 0);
    unused[0] = 0x01;
    slot(unused);
  }
  return *this;
}

ByteVector ExFatDirectory::bytes(std::size_t size) const {
  if (bytes_.size() > size) throw std::invalid_argument("the directory does not fit");
  ByteVector out = bytes_;
  out.resize(size, 0);
  return out;
}

ExFatVolume::ExFatVolume(std::uint32_t clusters, unsigned sectorsPerClusterShift, unsigned bytesPerSectorShift,
                         unsigned fats)
    : clusters_(clusters),
      sectorsPerClusterShift_(sectorsPerClusterShift),
      bytesPerSectorShift_(bytesPerSectorShift),
      fats_(fats) {
  fatLength_ = static_cast<std::uint32_t>(ceilDiv((clusters + 2ull) * 4, bytesPerSector()));
  heapSector_ = 24 + fats * fatLength_;
  bitmapClusters_ = static_cast<std::uint32_t>(ceilDiv(ceilDiv(clusters, 8), clusterSize()));
  upcaseCluster_ = 2 + bitmapClusters_;
  fat_.assign(fats, std::vector<std::uint32_t>(clusters + 2ull, 0));
  used_.assign(clusters + 2ull, false);
  for (auto& table : fat_) {
    table[0] = 0xFFFFFFF8;
    table[1] = 0xFFFFFFFF;
  }
  std::vector<std::uint32_t> bitmap;
  for (std::uint32_t c = 0; c < bitmapClusters_; ++c) bitmap.push_back(2 + c);
  chain(bitmap);
  chain({upcaseCluster_});
  setRootChain({upcaseCluster_ + 1});

  boot_.assign(bytesPerSector(), 0);
  boot_[0] = 0xEB;
  boot_[1] = 0x76;
  boot_[2] = 0x90;
  putText(boot_, 3, "EXFAT   ");
  putLe64(boot_, 0x48, size() / bytesPerSector());
  putLe32(boot_, 0x50, 24);
  putLe32(boot_, 0x54, fatLength_);
  putLe32(boot_, 0x58, heapSector_);
  putLe32(boot_, 0x5C, clusters);
  putLe32(boot_, 0x60, rootCluster());
  putLe32(boot_, 0x64, 0x5EED1234);
  putLe16(boot_, 0x68, 0x0100);
  boot_[0x6C] = static_cast<std::uint8_t>(bytesPerSectorShift);
  boot_[0x6D] = static_cast<std::uint8_t>(sectorsPerClusterShift);
  boot_[0x6E] = static_cast<std::uint8_t>(fats);
  boot_[0x6F] = 0x80;
  boot_[0x70] = 0xFF;  // percent in use: not known
  boot_[510] = 0x55;
  boot_[511] = 0xAA;
}

void ExFatVolume::setFat(std::uint32_t cluster, std::uint32_t value) {
  for (auto& table : fat_) table.at(cluster) = value;
}

void ExFatVolume::setFatCopy(unsigned copy, std::uint32_t cluster, std::uint32_t value) {
  fat_.at(copy).at(cluster) = value;
}

void ExFatVolume::chain(const std::vector<std::uint32_t>& clusters) {
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFFFFFFF);
    used_.at(clusters[i]) = true;
  }
}

void ExFatVolume::markUsed(std::uint32_t first, std::uint32_t count) {
  for (std::uint32_t c = first; c < first + count; ++c) used_.at(c) = true;
}

void ExFatVolume::setRootChain(const std::vector<std::uint32_t>& clusters) {
  for (std::uint32_t c : rootChain_) {
    setFat(c, 0);
    used_.at(c) = false;
  }
  rootChain_ = clusters;
  chain(clusters);
}

std::vector<ByteVector> ExFatVolume::systemEntries() const {
  ByteVector bitmap(kSlot, 0);
  bitmap[0] = 0x81;
  putLe32(bitmap, 20, bitmapCluster());
  putLe64(bitmap, 24, ceilDiv(clusters_, 8));
  ByteVector upcase(kSlot, 0);
  upcase[0] = 0x82;
  putLe32(upcase, 4, rotatingSum32(upcaseTable()));
  putLe32(upcase, 20, upcaseCluster_);
  putLe64(upcase, 24, upcaseTable().size());
  return {bitmap, upcase};
}

void ExFatVolume::writeRoot(const ExFatDirectory& root, bool withSystemEntries) {
  ExFatDirectory whole;
  if (withSystemEntries) whole.slots(systemEntries());
  const ByteVector own = root.bytes(root.slotCount() * kSlot);
  for (std::size_t at = 0; at < own.size(); at += kSlot)
    whole.slot(ByteVector(own.begin() + at, own.begin() + at + kSlot));
  writeFolder(rootChain_, whole);
}

void ExFatVolume::writeFolder(const std::vector<std::uint32_t>& clusters, const ExFatDirectory& folder) {
  spread(clusters, folder.bytes(clusters.size() * clusterSize()));
}

void ExFatVolume::spread(const std::vector<std::uint32_t>& clusters, const ByteVector& data) {
  const std::size_t size = clusterSize();
  for (std::size_t i = 0; i < clusters.size() && i * size < data.size(); ++i) {
    const auto from = data.begin() + static_cast<std::ptrdiff_t>(i * size);
    const auto to = data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), (i + 1) * size));
    writeCluster(clusters[i], ByteVector(from, to));
  }
}

void ExFatVolume::writeAt(std::uint64_t offset, const ByteVector& bytes) { writes_.emplace_back(offset, bytes); }

std::unique_ptr<TempImage> ExFatVolume::materialize() const {
  const std::size_t bps = bytesPerSector();
  // Main boot region: boot sector, eight extended boot sectors, OEM
  // parameters, a reserved sector, then the checksum sector.
  ByteVector region(12 * bps, 0);
  std::copy(boot_.begin(), boot_.end(), region.begin());
  for (std::size_t s = 1; s <= 8; ++s) putLe32(region, (s + 1) * bps - 4, 0xAA550000);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 11 * bps; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;  // volume flags and percent in use
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  for (std::size_t i = 0; i < bps; i += 4) putLe32(region, 11 * bps + i, sum);

  auto image = std::make_unique<TempImage>(region);
  image->resize(size());
  image->write(12 * bps, region);  // the backup region

  for (unsigned copy = 0; copy < fats_; ++copy) {
    ByteVector fat(fatBytes(), 0);
    for (std::size_t n = 0; n < fat_[copy].size(); ++n) putLe32(fat, 4 * n, fat_[copy][n]);
    image->write(fatOffset() + copy * fatBytes(), fat);
  }

  ByteVector bitmap(ceilDiv(clusters_, 8), 0);
  for (std::uint32_t c = 2; c < used_.size(); ++c)
    if (used_[c]) bitmap[(c - 2) / 8] |= static_cast<std::uint8_t>(1u << ((c - 2) % 8));
  image->write(clusterOffset(bitmapCluster()), bitmap);
  image->write(clusterOffset(upcaseCluster_), upcaseTable());

  for (const auto& [offset, bytes] : writes_) image->write(offset, bytes);
  return image;
}

std::unique_ptr<ScannedFat> scanExFat(std::unique_ptr<TempImage> image, AdvancedChoices choices) {
  auto v = std::make_unique<ScannedFat>();
  v->image = std::move(image);
  v->source = std::make_unique<FileReadSeek>();
  if (!v->source->open(v->image->path())) throw std::runtime_error("cannot open the test image");
  v->parser = makeExFatParser();
  ScanRequest request;
  request.volume = VolumeExtent{0, std::filesystem::file_size(v->image->path())};
  request.advanced = choices;
  JobContext job(&v->observer);
  v->scanned = v->parser->scan(*v->source, request, job);
  return v;
}

std::unique_ptr<ScannedFat> scanExFat(const ExFatVolume& volume, AdvancedChoices choices) {
  return scanExFat(volume.materialize(), choices);
}

TimeZoneGuard::TimeZoneGuard(const char* zone) {
  if (const char* old = std::getenv("TZ")) old_ = old, hadOld_ = true;
  set(zone);
}

TimeZoneGuard::~TimeZoneGuard() {
  if (hadOld_)
    setenv("TZ", old_.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

void TimeZoneGuard::set(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

}  // namespace quorvel::test
