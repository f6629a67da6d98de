#pragma once
// What the advanced-input screen shows for a volume's kind, and what it
// hands to the scan once the user has chosen among the candidates.
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"

namespace wizard {

enum class AdvancedFamily { Ntfs, Fat16, Fat32, ExFat, Other };

// The family of the kind a text names (letter case ignored), when that kind
// offers the Advanced mode; Other for the rest.
AdvancedFamily advancedFamily(const std::string& kind);

struct AdvancedInputLayout {
  std::string firstCaption;      // the caption of the candidate list
  bool clusterListShown = false; // "Sector Per Cluster :"
  bool heapListShown = false;    // "Heap Offset :"
  bool searches = false;         // whether a worker searches the volume
  std::string openingStatus;     // shown when the screen opens
  std::string searchStatus;      // shown when the search starts
};

AdvancedInputLayout advancedInputLayout(AdvancedFamily family);

// The typed "Max File Systems to Find" number; 3 when below 1.
int maxCandidates(int typed);

// The cluster-size choices offered while a kind has no search of its own.
std::vector<std::string> fixedClusterChoices(AdvancedFamily family);

// What the user is told when the search has ended.
struct SearchReport {
  std::string message;
  std::string status;  // empty: the status line keeps its text
};
SearchReport searchReport(AdvancedFamily family, const quorvel::CandidateLists& lists);

// The picks of the three lists (-1: nothing picked); none when there is no
// candidate picked or no cluster size, so nothing can be scanned.
std::optional<quorvel::AdvancedChoices> advancedChoices(const quorvel::CandidateLists& lists, int candidate,
                                                        int clusterChoice, int heapOffset, bool formatted,
                                                        int maxCount);

}  // namespace wizard
