#pragma once
// The volume list screen's rules, apart from its widgets: which rows it shows
// for which records, the sector range of a row, the custom setting and what
// Next does with the selected volume.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "volumes/VolumeRecord.h"

namespace wizard {

enum class ListingMode { Standard = 1, Advanced = 2 };

// What the drive parsing mode screen hands to the volume list.
struct VolumeListRequest {
  std::string imagePath;
  ListingMode mode = ListingMode::Standard;
  bool gpt = false;        // "GPT format"
  bool doNotSkip = false;  // "Do not Skip Volume Size While Parsing in Advance  Scan "
  std::int64_t customStart = 0;
  std::int64_t customEnd = 0;
};

// The entries of "Treat file system as:", sorted: every kind the registry
// has a parser for, by its first text in capitals, and "RAW".
const std::vector<std::string>& treatAsEntries();
// The entry a click on a row selects, as a list box finds an entry by the
// text shown: the first that begins with the row's kind text, letter case
// ignored; -1 if none.
int treatAsEntryFor(const std::string& kindText);

// The range a selected row stands for: its start and its last sector, or
// end 0 when the row's size is 0.
struct SectorRange {
  std::int64_t start = 0;
  std::int64_t end = 0;
};
SectorRange rangeOfRow(const std::string& sizeText, const std::string& startText);

struct VolumeRow;
// The same for a listed row, from the volume's exact size where the listing
// knows it: the size text shows whole MiB only, and a range made from it
// would leave the volume's last sectors out.
SectorRange rangeOfRow(const VolumeRow& row);

// An up-down press on a sector edit: up raises the number by one, down lowers
// it by one while it is above 0.
std::string stepSector(const std::string& text, int stepsUp);

// The custom setting of the volume list when Next is pressed.
struct CustomSetting {
  bool ticked = false;  // "Custom Settings For Selected Volume "
  std::string startText;
  std::string endText;
  std::string treatAs;  // the chosen entry of "Treat file system as:", empty if none
};

enum class NextStep { NoSelection, RawRecovery, UnknownVolume, RecoveryMode };

// One row: the texts it shows and the record the next screens receive.
struct VolumeRow {
  std::array<std::string, 4> texts;  // VOLUME, FILE_SYSTEM, VOLUME_SIZE, START_SECTOR
  quorvel::VolumeRecord record;
  quorvel::VolumeRecord listed;  // the record as listed, for undoing a custom setting
};

class VolumeListRows {
 public:
  explicit VolumeListRows(ListingMode mode) : mode_(mode) {}

  ListingMode mode() const { return mode_; }
  const std::vector<quorvel::VolumeRecord>& volumes() const { return volumes_; }
  const std::vector<VolumeRow>& rows() const { return rows_; }
  bool customApplied() const { return customApplied_; }

  // Empties the rows and the volume list before a listing or scan.
  void clear();
  // The standard listing's result: labelled by place, shown in list order.
  void setListed(std::vector<quorvel::VolumeRecord> volumes);
  // An advanced scan's find: kept in the order found, shown newest first.
  void addFound(const quorvel::VolumeRecord& volume);
  // "Add Custom Volume"; returns the new row's index.
  int addCustom();
  // "Filter Entries": only records that start one sector after the one
  // before them, newest at the top.
  void filter();

  // Next on a row (-1 when none is selected). Applies or undoes the custom
  // setting on that row's record, which record(row) then returns.
  NextStep next(int row, const CustomSetting& custom);
  const quorvel::VolumeRecord& record(int row) const { return rows_.at(static_cast<std::size_t>(row)).record; }

 private:
  static VolumeRow rowFor(const quorvel::VolumeRecord& volume);
  void insertRow(const quorvel::VolumeRecord& volume, bool atTop);

  ListingMode mode_;
  std::vector<quorvel::VolumeRecord> volumes_;
  std::vector<VolumeRow> rows_;
  bool customApplied_ = false;
};

}  // namespace wizard
