#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "io/FileReadSeek.h"

namespace quorvel {

// The one sector source the process works on. The front end that picks a
// source replaces it; everything else only borrows it.
FileReadSeek* currentSource();
void replaceCurrentSource(std::unique_ptr<FileReadSeek> source);

// Sectors of the most recently opened source; every successful open sets it.
extern std::atomic<std::uint64_t> totalSectors;

}  // namespace quorvel
