#pragma once
// What every FAT-family record holds beside the catalogue, whatever the
// volume kind: its data's placement.
#include <cstdint>

namespace quorvel::fatfmt {

inline constexpr const char* kDummyEntryName = "DUMMY ENTRY";

// Where a FAT-family entry's data lies, beside its catalogue entry.
struct FatFamilyRecord {
  std::uint64_t allocated = 0;     // bytes the volume reserved (exFAT folders have no size of their own)
  std::uint32_t firstCluster = 0;
  bool noFatChain = false;         // exFAT: one contiguous run, the FAT not used
};

}  // namespace quorvel::fatfmt
