#pragma once
// Hand-made NTFS structures: MFT records with chosen attributes, run lists,
// and small volumes around them. Everything is valid unless a test spoils a
// field on purpose.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/ntfs/NtfsParser.h"
#include "support/TestSupport.h"
#include "support/ContentSinks.h"

namespace quorvel::test {

using ByteVector = std::vector<std::uint8_t>;

// One run of a run list to encode: `lcn` < 0 for a sparse run.
struct RunSpec {
  std::uint64_t length;
  std::int64_t lcn;
};
// Mapping pairs with relative offsets in the narrowest signed width, ended by 0.
ByteVector encodeRuns(const std::vector<RunSpec>& runs);

struct NonResidentSpec {
  ByteVector runList;
  std::uint64_t firstVcn = 0;
  std::uint64_t lastVcn = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t realSize = 0;
  std::uint64_t initializedSize = 0;
  std::uint16_t flags = 0;
  std::uint8_t compressionUnit = 0;
  std::u16string name;
};

// A non-resident attribute mapped by `runs` from VCN 0, holding `realSize`
// bytes (all initialized) in clusters of `clusterSize`.
NonResidentSpec mappedAttribute(const std::vector<RunSpec>& runs, std::uint64_t clusterSize, std::uint64_t realSize);

struct AttributeListItem {
  std::uint32_t type;
  std::uint64_t firstVcn;
  std::uint64_t record;
  std::u16string name;
};

class RecordBuilder {
 public:
  explicit RecordBuilder(std::uint32_t size = 1024) : size_(size) {}

  RecordBuilder& inUse(bool used) { flags_ = used ? (flags_ | 1) : (flags_ & ~1); return *this; }
  RecordBuilder& sequence(std::uint16_t s) { sequence_ = s; return *this; }
  RecordBuilder& baseReference(std::uint64_t ref) { baseReference_ = ref; return *this; }
  RecordBuilder& ownNumber(std::uint32_t n) { ownNumber_ = n; return *this; }

  RecordBuilder& standardInformation(std::uint64_t created, std::uint64_t modified, std::uint64_t accessed);
  // parent: record number (48 bits) and sequence number.
  RecordBuilder& fileName(std::uint64_t parentRecord, std::uint16_t parentSequence, const std::u16string& name,
                          std::uint8_t nameSpace = 1, std::uint32_t flags = 0);
  RecordBuilder& folderName(std::uint64_t parentRecord, std::uint16_t parentSequence, const std::u16string& name) {
    return fileName(parentRecord, parentSequence, name, 1, 0x10000000);
  }
  RecordBuilder& residentData(const ByteVector& value, const std::u16string& name = u"");
  RecordBuilder& nonResidentData(const NonResidentSpec& layout, std::uint32_t type = 0x80);
  RecordBuilder& attributeList(const std::vector<AttributeListItem>& items);
  // Any hand-made attribute, copied as given (its length field included).
  RecordBuilder& rawAttribute(const ByteVector& bytes);

  // The record with its update-sequence array applied.
  ByteVector build() const;

 private:
  std::uint32_t size_;
  std::uint16_t flags_ = 1;
  std::uint16_t sequence_ = 1;
  std::uint64_t baseReference_ = 0;
  std::uint32_t ownNumber_ = 0;
  std::uint16_t nextId_ = 0;
  std::vector<ByteVector> attributes_;
};

// Builds an attribute: header plus resident value.
ByteVector residentAttribute(std::uint32_t type, const ByteVector& value, std::uint16_t id = 0,
                             const std::u16string& name = u"");

// The record with its own number in the header (outside every fix-up word).
ByteVector withOwnNumber(ByteVector record, std::uint32_t number);

// A volume image: a boot sector, an MFT at `mftCluster` holding `records`
// (record 0, the MFT's own, is made to map the whole MFT), and data clusters.
class TestVolume {
 public:
  TestVolume(std::uint64_t clusterSize = 4096, std::uint32_t recordSize = 1024, std::uint64_t clusters = 256,
             std::uint64_t mftCluster = 4, std::uint32_t recordCount = 32);

  std::uint64_t clusterSize() const { return clusterSize_; }
  std::uint32_t recordSize() const { return recordSize_; }
  std::uint64_t mftCluster() const { return mftCluster_; }
  std::uint32_t recordCount() const { return recordCount_; }
  // First cluster after the MFT, free for data.
  std::uint64_t firstFreeCluster() const;
  std::uint64_t recordPosition(std::uint32_t number) const;

  // The usual system records: $MFT (0), $MFTMirr, $LogFile, $Volume,
  // $AttrDef, the root "." (5), $Bitmap, $Boot (7).
  void addSystemRecords();
  void setRecord(std::uint32_t number, const ByteVector& record);
  void writeBytes(std::uint64_t offset, const ByteVector& bytes);
  void writeCluster(std::uint64_t lcn, const ByteVector& bytes) { writeBytes(lcn * clusterSize_, bytes); }
  ByteVector& bootSector() { return boot_; }

  // The image: boot sector, then everything written.
  ByteVector image() const;
  // The $MFT record as addSystemRecords makes it.
  ByteVector mftRecord() const;

 private:
  std::uint64_t clusterSize_;
  std::uint32_t recordSize_;
  std::uint64_t clusters_;
  std::uint64_t mftCluster_;
  std::uint32_t recordCount_;
  ByteVector boot_;
  std::vector<std::pair<std::uint64_t, ByteVector>> writes_;
};

// A file-name key, as a folder index and a $FILE_NAME attribute hold it.
struct FileNameKey {
  std::uint64_t parentReference = 0;  // record | sequence << 48
  std::u16string name;
  std::uint8_t nameSpace = 1;
  std::uint64_t time = 0;  // all four times
  std::uint64_t realSize = 0;
  std::uint32_t flags = 0;
  // A name length other than the name's own, to spoil it.
  std::optional<std::uint8_t> nameLength;
};
ByteVector fileNameKeyBytes(const FileNameKey& key);
// One index entry: the file reference, its lengths and the key.
ByteVector indexEntryBytes(std::uint64_t fileReference, const ByteVector& key);
// The same entry after a later removal wrote the node's end entry over its
// header: file reference and lengths are gone, the key stays.
ByteVector overwrittenIndexEntryBytes(const ByteVector& key);
// A folder's $INDEX_ROOT ("$I30") holding `entries`, then the end entry, then
// `slack` up to the node's allocated size.
ByteVector indexRootAttribute(const std::vector<ByteVector>& entries, const ByteVector& slack);

// One change-journal record, version 2 or 3.
struct UsnRecordPlan {
  std::uint64_t fileReference = 0;
  std::uint64_t parentReference = 0;
  std::uint64_t timestamp = 0;
  std::uint32_t reason = 0;
  std::uint32_t attributes = 0x20;
  std::u16string name;
  int version = 2;
};
ByteVector usnRecordBytes(const UsnRecordPlan& plan);

// A small volume with a bit of everything the parser reads: folders,
// resident, fragmented, sparse and compressed data, a short name beside a
// long one, data extents in extension records named by an attribute list.
TestVolume richVolume();

// A scanned volume: the image on disk, the source and the parser.
struct ScannedVolume {
  std::unique_ptr<TempImage> image;
  std::unique_ptr<FileReadSeek> source;
  std::unique_ptr<NtfsParser> parser;
  RecordingObserver observer;
  bool scanned = false;

  // The entry at a "/a/b" path below the top entries, or kNoEntry.
  EntryId find(const std::string& path) const;
  ByteVector content(EntryId id, bool* complete = nullptr) const;
  std::vector<std::string> childNames(EntryId id) const;
  std::vector<std::string> topNames() const;
};

std::unique_ptr<ScannedVolume> scanImage(const ByteVector& image, RecoveryMode mode = RecoveryMode::Standard,
                                         const std::string& sizeText = "1   MB", AdvancedChoices choices = {});

// A Windows file time for a UTC calendar time.
std::uint64_t windowsTime(int year, int month, int day, int hour, int minute, int second = 0);

}  // namespace quorvel::test
