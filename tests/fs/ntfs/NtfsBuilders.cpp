#include "fs/ntfs/NtfsBuilders.h"

#include <stdexcept>

#include "fs/ntfs/Lznt1Writer.h"
#include "support/ParserWalks.h"
#include "volumes/VolumeRecord.h"

namespace quorvel::test {

namespace {

std::size_t align8(std::size_t n) { return (n + 7) / 8 * 8; }

void putName(ByteVector& b, std::size_t off, const std::u16string& name) {
  for (std::size_t i = 0; i < name.size(); ++i) putLe16(b, off + 2 * i, name[i]);
}

int signedWidth(std::int64_t v) {
  for (int w = 1; w < 8; ++w) {
    const std::int64_t low = -(std::int64_t{1} << (8 * w - 1));
    const std::int64_t high = (std::int64_t{1} << (8 * w - 1)) - 1;
    if (v >= low && v <= high) return w;
  }
  return 8;
}

int unsignedWidth(std::uint64_t v) {
  int w = 1;
  while (w < 8 && (v >> (8 * w)) != 0) ++w;
  return w;
}

}  // namespace

NonResidentSpec mappedAttribute(const std::vector<RunSpec>& runs, std::uint64_t clusterSize, std::uint64_t realSize) {
  std::uint64_t clusters = 0;
  for (const RunSpec& r : runs) clusters += r.length;
  NonResidentSpec a;
  a.runList = encodeRuns(runs);
  a.lastVcn = clusters - 1;
  a.allocatedSize = clusters * clusterSize;
  a.realSize = a.initializedSize = realSize;
  return a;
}

ByteVector encodeRuns(const std::vector<RunSpec>& runs) {
  ByteVector out;
  std::int64_t previous = 0;
  for (const RunSpec& r : runs) {
    const int lw = unsignedWidth(r.length);
    int ow = 0;
    std::int64_t delta = 0;
    if (r.lcn >= 0) {
      delta = r.lcn - previous;
      ow = signedWidth(delta);
      previous = r.lcn;
    }
    out.push_back(static_cast<std::uint8_t>(lw | (ow << 4)));
    for (int i = 0; i < lw; ++i) out.push_back(static_cast<std::uint8_t>(r.length >> (8 * i)));
    for (int i = 0; i < ow; ++i) out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(delta) >> (8 * i)));
  }
  out.push_back(0);
  return out;
}

ByteVector residentAttribute(std::uint32_t type, const ByteVector& value, std::uint16_t id, const std::u16string& name) {
  const std::size_t nameOffset = 0x18;
  const std::size_t valueOffset = align8(nameOffset + 2 * name.size());
  ByteVector a(align8(valueOffset + value.size()));
  putLe32(a, 0, type);
  putLe32(a, 4, static_cast<std::uint32_t>(a.size()));
  a[8] = 0;
  a[9] = static_cast<std::uint8_t>(name.size());
  putLe16(a, 0x0A, static_cast<std::uint16_t>(nameOffset));
  putLe16(a, 0x0E, id);
  putLe32(a, 0x10, static_cast<std::uint32_t>(value.size()));
  putLe16(a, 0x14, static_cast<std::uint16_t>(valueOffset));
  putName(a, nameOffset, name);
  std::copy(value.begin(), value.end(), a.begin() + static_cast<std::ptrdiff_t>(valueOffset));
  return a;
}

ByteVector fileNameKeyBytes(const FileNameKey& key) {
  ByteVector v(0x42 + 2 * key.name.size());
  putLe64(v, 0x00, key.parentReference);
  for (std::size_t at : {0x08, 0x10, 0x18, 0x20}) putLe64(v, at, key.time);
  putLe64(v, 0x28, (key.realSize + 4095) / 4096 * 4096);
  putLe64(v, 0x30, key.realSize);
  putLe32(v, 0x38, key.flags);
  v[0x40] = key.nameLength.value_or(static_cast<std::uint8_t>(key.name.size()));
  v[0x41] = key.nameSpace;
  putName(v, 0x42, key.name);
  return v;
}

ByteVector indexEntryBytes(std::uint64_t fileReference, const ByteVector& key) {
  ByteVector e(align8(0x10 + key.size()));
  putLe64(e, 0x00, fileReference);
  putLe16(e, 0x08, static_cast<std::uint16_t>(e.size()));
  putLe16(e, 0x0A, static_cast<std::uint16_t>(key.size()));
  std::copy(key.begin(), key.end(), e.begin() + 0x10);
  return e;
}

ByteVector overwrittenIndexEntryBytes(const ByteVector& key) {
  ByteVector e = indexEntryBytes(0, key);
  std::fill(e.begin(), e.begin() + 0x10, 0);
  putLe16(e, 0x08, 0x10);
  putLe16(e, 0x0C, 0x02);
  return e;
}

ByteVector indexRootAttribute(const std::vector<ByteVector>& entries, const ByteVector& slack) {
  ByteVector node;
  for (const ByteVector& e : entries) node.insert(node.end(), e.begin(), e.end());
  ByteVector end(0x10);
  putLe16(end, 0x08, 0x10);
  putLe16(end, 0x0C, 0x02);
  node.insert(node.end(), end.begin(), end.end());
  const std::size_t used = 0x10 + node.size();
  node.insert(node.end(), slack.begin(), slack.end());
  // The root's index facts, its node header, then the node.
  ByteVector value(0x20 + node.size());
  putLe32(value, 0x00, 0x30);
  putLe32(value, 0x04, 1);
  putLe32(value, 0x08, 4096);
  value[0x0C] = 1;
  putLe32(value, 0x10, 0x10);
  putLe32(value, 0x14, static_cast<std::uint32_t>(used));
  putLe32(value, 0x18, static_cast<std::uint32_t>(0x10 + node.size()));
  std::copy(node.begin(), node.end(), value.begin() + 0x20);
  return residentAttribute(0x90, value, 7, u"$I30");
}

ByteVector usnRecordBytes(const UsnRecordPlan& plan) {
  const bool v3 = plan.version == 3;
  const std::size_t fixed = v3 ? 0x4C : 0x3C;
  ByteVector r(align8(fixed + 2 * plan.name.size()));
  putLe32(r, 0x00, static_cast<std::uint32_t>(r.size()));
  putLe16(r, 0x04, static_cast<std::uint16_t>(plan.version));
  putLe64(r, 0x08, plan.fileReference);
  putLe64(r, v3 ? 0x18 : 0x10, plan.parentReference);
  putLe64(r, v3 ? 0x30 : 0x20, plan.timestamp);
  putLe32(r, v3 ? 0x38 : 0x28, plan.reason);
  putLe32(r, v3 ? 0x44 : 0x34, plan.attributes);
  putLe16(r, v3 ? 0x48 : 0x38, static_cast<std::uint16_t>(2 * plan.name.size()));
  putLe16(r, v3 ? 0x4A : 0x3A, static_cast<std::uint16_t>(fixed));
  putName(r, fixed, plan.name);
  return r;
}

RecordBuilder& RecordBuilder::standardInformation(std::uint64_t created, std::uint64_t modified, std::uint64_t accessed) {
  ByteVector v(0x48);
  putLe64(v, 0x00, created);
  putLe64(v, 0x08, modified);
  putLe64(v, 0x10, modified);
  putLe64(v, 0x18, accessed);
  attributes_.push_back(residentAttribute(0x10, v, nextId_++));
  return *this;
}

RecordBuilder& RecordBuilder::fileName(std::uint64_t parentRecord, std::uint16_t parentSequence,
                                       const std::u16string& name, std::uint8_t nameSpace, std::uint32_t flags) {
  ByteVector v(0x42 + 2 * name.size());
  putLe64(v, 0x00, parentRecord | (static_cast<std::uint64_t>(parentSequence) << 48));
  putLe32(v, 0x38, flags);
  v[0x40] = static_cast<std::uint8_t>(name.size());
  v[0x41] = nameSpace;
  putName(v, 0x42, name);
  attributes_.push_back(residentAttribute(0x30, v, nextId_++));
  return *this;
}

RecordBuilder& RecordBuilder::residentData(const ByteVector& value, const std::u16string& name) {
  attributes_.push_back(residentAttribute(0x80, value, nextId_++, name));
  return *this;
}

RecordBuilder& RecordBuilder::nonResidentData(const NonResidentSpec& s, std::uint32_t type) {
  const std::size_t header = (s.flags & 0x0001) ? 0x48 : 0x40;
  const std::size_t runOffset = align8(header + 2 * s.name.size());
  ByteVector a(align8(runOffset + s.runList.size()));
  putLe32(a, 0, type);
  putLe32(a, 4, static_cast<std::uint32_t>(a.size()));
  a[8] = 1;
  a[9] = static_cast<std::uint8_t>(s.name.size());
  putLe16(a, 0x0A, static_cast<std::uint16_t>(header));
  putLe16(a, 0x0C, s.flags);
  putLe16(a, 0x0E, nextId_++);
  putLe64(a, 0x10, s.firstVcn);
  putLe64(a, 0x18, s.lastVcn);
  putLe16(a, 0x20, static_cast<std::uint16_t>(runOffset));
  a[0x22] = s.compressionUnit;
  putLe64(a, 0x28, s.allocatedSize);
  putLe64(a, 0x30, s.realSize);
  putLe64(a, 0x38, s.initializedSize);
  putName(a, header, s.name);
  std::copy(s.runList.begin(), s.runList.end(), a.begin() + static_cast<std::ptrdiff_t>(runOffset));
  attributes_.push_back(a);
  return *this;
}

RecordBuilder& RecordBuilder::attributeList(const std::vector<AttributeListItem>& items) {
  ByteVector v;
  for (const AttributeListItem& item : items) {
    ByteVector e(align8(0x1A + 2 * item.name.size()));
    putLe32(e, 0, item.type);
    putLe16(e, 4, static_cast<std::uint16_t>(e.size()));
    e[6] = static_cast<std::uint8_t>(item.name.size());
    e[7] = 0x1A;
    putLe64(e, 8, item.firstVcn);
    putLe64(e, 0x10, item.record | (std::uint64_t{1} << 48));
    putName(e, 0x1A, item.name);
    v.insert(v.end(), e.begin(), e.end());
  }
  attributes_.push_back(residentAttribute(0x20, v, nextId_++));
  return *this;
}

RecordBuilder& RecordBuilder::rawAttribute(const ByteVector& bytes) {
  attributes_.push_back(bytes);
  return *this;
}

ByteVector RecordBuilder::build() const {
  ByteVector r(size_);
  const std::uint16_t usaCount = static_cast<std::uint16_t>(size_ / 512 + 1);
  const std::size_t usaOffset = 0x30;
  const std::size_t first = align8(usaOffset + 2 * usaCount);
  putText(r, 0, "FILE");
  putLe16(r, 4, static_cast<std::uint16_t>(usaOffset));
  putLe16(r, 6, usaCount);
  putLe16(r, 0x10, sequence_);
  putLe16(r, 0x12, 1);
  putLe16(r, 0x14, static_cast<std::uint16_t>(first));
  putLe16(r, 0x16, flags_);
  putLe32(r, 0x1C, size_);
  putLe64(r, 0x20, baseReference_);
  putLe16(r, 0x28, nextId_);
  putLe32(r, 0x2C, ownNumber_);
  std::size_t at = first;
  for (const ByteVector& a : attributes_) {
    if (at + a.size() + 8 > size_) throw std::runtime_error("attributes do not fit the record");
    std::copy(a.begin(), a.end(), r.begin() + static_cast<std::ptrdiff_t>(at));
    at += a.size();
  }
  putLe32(r, at, 0xFFFFFFFF);
  putLe32(r, 0x18, static_cast<std::uint32_t>(at + 8));
  // The update sequence: each stride's last word moves into the array.
  const std::uint16_t usn = 0x0A0B;
  putLe16(r, usaOffset, usn);
  for (std::size_t i = 1; i < usaCount; ++i) {
    const std::size_t end = i * 512 - 2;
    r[usaOffset + 2 * i] = r[end];
    r[usaOffset + 2 * i + 1] = r[end + 1];
    putLe16(r, end, usn);
  }
  return r;
}

TestVolume::TestVolume(std::uint64_t clusterSize, std::uint32_t recordSize, std::uint64_t clusters,
                       std::uint64_t mftCluster, std::uint32_t recordCount)
    : clusterSize_(clusterSize), recordSize_(recordSize), clusters_(clusters), mftCluster_(mftCluster),
      recordCount_(recordCount), boot_(512) {
  boot_[0] = 0xEB, boot_[1] = 0x52, boot_[2] = 0x90;
  putText(boot_, 3, "NTFS    ");
  putLe16(boot_, 0x0B, 512);
  boot_[0x0D] = static_cast<std::uint8_t>(clusterSize / 512);
  putLe64(boot_, 0x28, clusters * clusterSize / 512);
  putLe64(boot_, 0x30, mftCluster);
  putLe64(boot_, 0x38, 0);
  if (recordSize >= clusterSize) {
    boot_[0x40] = static_cast<std::uint8_t>(recordSize / clusterSize);
  } else {
    int shift = 0;
    while ((1u << shift) < recordSize) ++shift;
    boot_[0x40] = static_cast<std::uint8_t>(-shift);
  }
  boot_[510] = 0x55, boot_[511] = 0xAA;
}

std::uint64_t TestVolume::firstFreeCluster() const {
  return mftCluster_ + (std::uint64_t{recordCount_} * recordSize_ + clusterSize_ - 1) / clusterSize_;
}

std::uint64_t TestVolume::recordPosition(std::uint32_t number) const {
  return mftCluster_ * clusterSize_ + std::uint64_t{number} * recordSize_;
}

ByteVector TestVolume::mftRecord() const {
  const std::uint64_t mftClusters = firstFreeCluster() - mftCluster_;
  NonResidentSpec data;
  data.runList = encodeRuns({{mftClusters, static_cast<std::int64_t>(mftCluster_)}});
  data.lastVcn = mftClusters - 1;
  data.allocatedSize = mftClusters * clusterSize_;
  data.realSize = data.initializedSize = std::uint64_t{recordCount_} * recordSize_;
  return RecordBuilder(recordSize_).sequence(1).standardInformation(1, 1, 1).fileName(5, 5, u"$MFT").nonResidentData(data).build();
}

void TestVolume::addSystemRecords() {
  setRecord(0, mftRecord());
  const std::u16string names[] = {u"$MFTMirr", u"$LogFile", u"$Volume", u"$AttrDef", u".", u"$Bitmap", u"$Boot"};
  for (std::uint32_t n = 1; n <= 7; ++n) {
    RecordBuilder b(recordSize_);
    b.sequence(static_cast<std::uint16_t>(n)).standardInformation(1, 1, 1);
    if (n == 5)
      b.folderName(5, 5, names[n - 1]);
    else
      b.fileName(5, 5, names[n - 1]).residentData({});
    setRecord(n, b.build());
  }
}

ByteVector withOwnNumber(ByteVector record, std::uint32_t number) {
  putLe32(record, 0x2C, number);
  return record;
}

void TestVolume::setRecord(std::uint32_t number, const ByteVector& record) {
  writeBytes(recordPosition(number), withOwnNumber(record, number));
}

void TestVolume::writeBytes(std::uint64_t offset, const ByteVector& bytes) { writes_.emplace_back(offset, bytes); }

ByteVector TestVolume::image() const {
  ByteVector out(clusters_ * clusterSize_);
  std::copy(boot_.begin(), boot_.end(), out.begin());
  for (const auto& [offset, bytes] : writes_) {
    if (offset + bytes.size() > out.size()) out.resize(offset + bytes.size());
    std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  return out;
}

TestVolume richVolume() {
  TestVolume volume(4096, 1024, 128, 4, 32);
  volume.addSystemRecords();
  volume.setRecord(10, RecordBuilder().standardInformation(1, 2, 3).folderName(5, 5, u"dir").build());
  volume.setRecord(11, RecordBuilder().fileName(10, 1, u"resident.txt").residentData(ByteVector(200, 'r')).build());
  NonResidentSpec plain;
  plain.runList = encodeRuns({{2, 40}, {1, -1}, {1, 60}});
  plain.lastVcn = 3;
  plain.allocatedSize = 4 * 4096;
  plain.realSize = plain.initializedSize = 4 * 4096 - 7;
  volume.setRecord(12, RecordBuilder().fileName(10, 1, u"runs.bin").fileName(10, 1, u"RUNS.BIN", 2).nonResidentData(plain)
                           .build());
  Lznt1Chunk chunk;
  chunk.literals("compressed").reference(10, 4000);
  volume.writeCluster(70, chunk.bytes());
  NonResidentSpec packed;
  packed.runList = encodeRuns({{1, 70}, {15, -1}});
  packed.lastVcn = 15;
  packed.allocatedSize = 16 * 4096;
  packed.realSize = packed.initializedSize = 5000;
  packed.flags = 0x0001;
  packed.compressionUnit = 4;
  volume.setRecord(13, RecordBuilder().fileName(5, 5, u"packed.bin").nonResidentData(packed).build());
  NonResidentSpec head = plain;
  head.runList = encodeRuns({{2, 80}});
  head.lastVcn = 1;
  NonResidentSpec tail = plain;
  tail.runList = encodeRuns({{2, 90}});
  tail.firstVcn = 2;
  volume.setRecord(14, RecordBuilder().fileName(10, 1, u"listed.bin")
                           .attributeList({{0x80, 0, 15, u""}, {0x80, 2, 16, u""}}).build());
  volume.setRecord(15, RecordBuilder().baseReference(14 | (1ull << 48)).nonResidentData(head).build());
  volume.setRecord(16, RecordBuilder().baseReference(14 | (1ull << 48)).nonResidentData(tail).build());
  volume.setRecord(17, RecordBuilder().folderName(10, 1, u"sub").build());
  volume.setRecord(18, RecordBuilder().fileName(17, 1, u"deep.txt").residentData({'d'}).build());
  return volume;
}

EntryId ScannedVolume::find(const std::string& path) const {
  std::vector<EntryId> level = parser->topEntries();
  EntryId current = kNoEntry;
  std::size_t start = path.empty() || path[0] != '/' ? 0 : 1;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    current = kNoEntry;
    for (EntryId id : level)
      if (parser->name(id) == part) current = id;
    if (current == kNoEntry || slash == std::string::npos) break;
    level = parser->children(current);
    start = slash + 1;
  }
  return current;
}

ByteVector ScannedVolume::content(EntryId id, bool* complete) const { return contentOf(*parser, id, complete); }

std::vector<std::string> ScannedVolume::childNames(EntryId id) const { return namesOf(*parser, parser->children(id)); }

std::vector<std::string> ScannedVolume::topNames() const { return namesOf(*parser, parser->topEntries()); }

std::unique_ptr<ScannedVolume> scanImage(const ByteVector& image, RecoveryMode mode, const std::string& sizeText,
                                         AdvancedChoices choices) {
  auto v = std::make_unique<ScannedVolume>();
  v->image = std::make_unique<TempImage>(image);
  v->source = std::make_unique<FileReadSeek>();
  if (!v->source->open(v->image->path())) throw std::runtime_error("cannot open the test image");
  v->parser = std::make_unique<NtfsParser>();
  ScanRequest request;
  request.volume = volumeExtent(VolumeRecord{"NTFS", "", "1", sizeText, 0});
  request.mode = mode;
  request.advanced = choices;
  JobContext job(&v->observer);
  if (mode == RecoveryMode::Advanced) v->parser->findCandidates(*v->source, request, job);
  v->scanned = v->parser->scan(*v->source, request, job);
  return v;
}

std::uint64_t windowsTime(int year, int month, int day, int hour, int minute, int second) {
  // Days from the civil date (proleptic Gregorian), then seconds since 1970.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
  const std::int64_t epochSeconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<std::uint64_t>(epochSeconds + 11644473600) * 10000000ull;
}

}  // namespace quorvel::test
