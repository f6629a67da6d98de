#pragma once
// What the advanced-input screen shows for a volume's kind, and what it
// hands to the scan once the user has chosen among the candidates. Which
// inputs a kind asks for is its registry row's to say; a kind that offers
// no Advanced mode, or no kind, asks for none.
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemId.h"
#include "fs/FileSystemParser.h"

namespace wizard {

struct AdvancedInputLayout {
  std::string firstCaption;      // the caption of the candidate list
  bool clusterListShown = false; // "Sector Per Cluster :"
  bool heapListShown = false;    // "Heap Offset :"
  bool searches = false;         // whether a worker searches the volume
  std::string openingStatus;     // shown when the screen opens
  std::string searchStatus;      // shown when the search starts
};

AdvancedInputLayout advancedInputLayout(std::optional<quorvel::FileSystemId> kind);

// The typed "Max File Systems to Find" number; 3 when below 1.
int maxCandidates(int typed);

// The cluster-size choices offered while a kind has no search of its own.
std::vector<std::string> fixedClusterChoices(std::optional<quorvel::FileSystemId> kind);

// The items of the cluster-size list for the values the search offers:
// exFAT's shifts say the cluster size they stand for ("9 (256 KiB
// clusters)"), the other kinds' counts stand as they are.
std::vector<std::string> clusterChoiceTexts(std::optional<quorvel::FileSystemId> kind,
                                            const std::vector<std::string>& values);

// Whether Next is offered once the search has delivered its lists: not
// after a Stop that left a list the scan needs empty.
bool nextOffered(std::optional<quorvel::FileSystemId> kind, const quorvel::CandidateLists& lists, bool stopped);

// What the user is told when the search has ended.
struct SearchReport {
  std::string message;
  std::string status;  // empty: the status line keeps its text
};
SearchReport searchReport(std::optional<quorvel::FileSystemId> kind, const quorvel::CandidateLists& lists);

// The picks of the three lists (-1: nothing picked); none when there is no
// candidate picked or no cluster size, so nothing can be scanned.
std::optional<quorvel::AdvancedChoices> advancedChoices(const quorvel::CandidateLists& lists, int candidate,
                                                        int clusterChoice, int heapOffset, bool formatted,
                                                        int maxCount);

}  // namespace wizard
