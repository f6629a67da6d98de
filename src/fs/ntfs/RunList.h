#pragma once
// The mapping pairs of a non-resident attribute: which clusters of the
// volume hold which clusters of the attribute.
#include <cstdint>
#include <vector>

#include "io/Endian.h"
#include "io/UnitNumber.h"

namespace quorvel::ntfsfmt {

// A logical cluster number: a cluster of the volume, counted from its start.
using Lcn = UnitNumber<struct LogicalClusterTag, std::int64_t>;

struct DataRun {
  std::uint64_t vcn = 0;     // first cluster of the attribute this run maps
  std::uint64_t length = 0;  // clusters
  Lcn lcn{-1};               // first cluster on the volume; -1 for a sparse run

  bool sparse() const { return lcn.value < 0; }
  std::uint64_t endVcn() const { return vcn + length; }
  bool operator==(const DataRun&) const = default;
};

enum class RunListEnd {
  Terminated,  // a zero header byte ended the list
  Truncated,   // the bytes ran out before the end marker
  Damaged,     // a field wider than 8 bytes, a zero length or a negative cluster
  Overrun,     // a run reaches past the extent's last VCN; it was dropped
};

// Decodes one extent's mapping pairs, appending runs that start at
// `firstVcn` and stay within [firstVcn, lastVcn]. Fields of up to 8 bytes
// are read whole; offsets are signed and relative to the previous run of
// this extent. Runs decoded before a problem are kept.
RunListEnd decodeRunList(Bytes pairs, std::uint64_t firstVcn, std::uint64_t vcnCount, std::vector<DataRun>& out);

// How many clusters of an extent its mapping pairs map, counted as
// decodeRunList would keep them; without storing the runs.
std::uint64_t mappedClusters(Bytes pairs, std::uint64_t vcnCount);

// Sorts runs by VCN and drops any that overlap an earlier one (a damaged
// extension record must not map the same clusters twice).
void normaliseRuns(std::vector<DataRun>& runs);

// The run holding `vcn`, or null (a gap the runs do not map).
const DataRun* findRun(const std::vector<DataRun>& runs, std::uint64_t vcn);

}  // namespace quorvel::ntfsfmt
