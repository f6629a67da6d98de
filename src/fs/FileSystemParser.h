#pragma once
// The one interface every file system offers. Browsing, saving, search,
// recycle-bin names, the CLI and the GUI use only this; none of them asks
// which kind of file system is behind it.
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fs/Catalogue.h"
#include "fs/EntryTypes.h"
#include "io/Endian.h"
#include "io/FileReadSeek.h"
#include "io/JobContext.h"
#include "io/VolumeView.h"

namespace quorvel {

// The list row's texts, in the order of the list's columns.
struct RowTexts {
  std::string created;
  std::string accessed;
  std::string modified;
  std::string attributes;
};

enum class RecoveryMode { Standard = 1, Advanced = 2, Deep = 3 };

// Where a heap-offset candidate lies and what shows it to be the heap.
struct HeapOffsetFind {
  std::uint64_t offset = 0;           // bytes from the volume's start
  std::vector<std::string> evidence;  // "boot", "upcase", "bitmap", "root", "signature"
};

// What the advanced-input searches found, as their lists show it.
struct CandidateLists {
  std::vector<std::string> tfs;                // "MFT_ENTRY:%d", "FAT32_ENTRY:%d", ...
  std::vector<std::string> sectorsPerCluster;  // the cluster-size choices: the values the scan takes
  std::vector<std::string> heapOffsets;        // "HEAP_OFFSET_ENTRY:%d" (exFAT)
  std::vector<HeapOffsetFind> heapFinds;       // beside heapOffsets, item for item
};

// The user's picks among the candidate lists; -1 means none picked.
struct AdvancedChoices {
  int tfs = -1;
  int sectorsPerCluster = 0;   // the chosen item's value (its text as a number); 0 = none
  int heapOffset = -1;
  bool formatted = false;      // "Is Drive Formated..?"
  int maxCandidates = 3;       // how many candidates the searches collect
};

enum class RecycleBinLayout {
  None,                // no restoration
  UserFolders,         // index and data files in per-user sub-folders
  FlatAndUserFolders,  // those, and pairs lying in the recycle-bin folder itself
};

struct ScanRequest {
  VolumeExtent volume;  // where the volume lies in the source
  RecoveryMode mode = RecoveryMode::Standard;
  AdvancedChoices advanced;
};

// Where an entry's content goes, in file order. A false return stops the read.
class ContentSink {
 public:
  virtual ~ContentSink() = default;
  virtual bool write(Bytes data) = 0;
  // A run of zero bytes (sparse regions); by default written out as zeros.
  virtual bool zeros(std::uint64_t count);
};

class FileSystemParser {
 public:
  FileSystemParser() = default;
  virtual ~FileSystemParser() = default;
  FileSystemParser(const FileSystemParser&) = delete;
  FileSystemParser& operator=(const FileSystemParser&) = delete;

  // ---- scanning, on the job's worker thread ----
  // The advanced-input searches; the scan in Advanced mode reads their
  // results by position. Kinds without them return empty lists.
  virtual CandidateLists findCandidates(const FileReadSeek& source, const ScanRequest& request, JobContext& job);
  // Runs the job of the request's mode, one of the modes the kind's
  // registry row offers: status texts, progress and Stop go through `job`.
  // False when the volume could not be parsed at all; the parser has then
  // told the user why through job.showMessage.
  // Every read goes through a VolumeView of request.volume.
  virtual bool scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) = 0;
  // Whether the session gives recycle-bin files their former names after a
  // scan, and where in the recycle-bin folder it looks for index files.
  virtual RecycleBinLayout recycleBinLayout() const { return RecycleBinLayout::None; }

  // ---- the catalogue, after the scan; one thread at a time ----
  // Read from the catalogue the scan filled; a test double may answer
  // itself.
  // The entries shown directly under the tree's top item ("ROOT").
  virtual std::vector<EntryId> topEntries() const { return catalogue_.topEntries(); }
  // A folder's children in catalogue order; finite even on a damaged volume.
  virtual std::vector<EntryId> children(EntryId folder) const { return catalogue_.children(folder); }
  virtual std::string name(EntryId id) const { return std::string(catalogue_.name(id)); }  // UTF-8
  virtual bool isFolder(EntryId id) const { return catalogue_.isFolder(id); }
  virtual bool isDeleted(EntryId id) const { return catalogue_.isDeleted(id); }
  // Whether the entry gets a row in the file list of its folder.
  bool getsListRow(EntryId id) const { return !isFolder(id); }
  virtual std::uint64_t size(EntryId id) const { return catalogue_.size(id); }  // bytes of the content
  virtual EntryTimes times(EntryId id) const { return catalogue_.times(id); }
  // When the entry was deleted, where the volume keeps a record of it.
  virtual std::optional<FileTime> deletionTime(EntryId) const { return std::nullopt; }
  // Where a deleted entry's content was found other than in the volume's own
  // structures as they are now ("journal"); null when it was not.
  virtual const char* recoveredFrom(EntryId) const { return nullptr; }
  // The kind's own texts for the list's columns.
  virtual RowTexts formatRow(EntryId id) const;
  std::string formatSize(EntryId id) const;
  // Entries a save passes over: they hold nothing of the user's however
  // large they claim to be.
  virtual bool neverSaved(EntryId id) const { return catalogue_.has(id, Catalogue::kNeverSaved); }
  // Gives an entry another name (recycle-bin restoration).
  virtual void rename(EntryId id, const std::string& newName);

  // ---- content, after the scan
  // Streams the entry's content. False when it could not be read whole.
  virtual bool readContent(EntryId id, ContentSink& sink) const = 0;

  const Catalogue& catalogue() const { return catalogue_; }

 protected:
  Catalogue catalogue_;
};

}  // namespace quorvel
