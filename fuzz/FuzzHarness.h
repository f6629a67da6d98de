#pragma once
// What each fuzz target does with one input, kept apart from libFuzzer so
// the ordinary tests replay kept inputs through the same steps.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fs/FileSystemKinds.h"
#include "io/Endian.h"

namespace quorvel::fuzz {

// Attaches the kind's parser to the whole image, scans it in standard mode,
// walks the catalogue and reads every entry's content (bounded).
void exerciseFileSystem(FileSystemId kind, const std::string& imagePath);
// The partition listing (MBR/EBR and GPT), the volume-image probe and the
// sector scan for volumes.
void exercisePartitions(const std::string& imagePath);
// The LZNT1 decoder on the bytes as one compression unit.
void exerciseLznt1(Bytes input);
// The bytes as an ext journal (its block size from its own superblock):
// indexed, every copy found read back, and its fast-commit area decoded
// (and every block of it read as one).
void exerciseExtJournal(Bytes input);
// The file as a user's settings file: read, loaded, and carved with over
// itself (its records hold the very signatures they look for).
void exerciseSettingsFile(const std::string& path);
// The carving engine with the program's own signatures over the image.
void exerciseCarving(const std::string& imagePath);

// A target by its name ("ntfs", "fat16", "partitions", "lznt1", ...) run on
// a file; false for a name no target has.
bool exerciseTarget(std::string_view target, const std::string& path);

// The kind whose registry row names `target` as its fuzz target.
std::optional<FileSystemId> fileSystemTarget(std::string_view target);

}  // namespace quorvel::fuzz
