#pragma once
// Where a file of a known type ends, found by walking its structure from its
// first byte. The generic rules (an end signature, a size field, an
// approximate size) cut most real files wrong: a JPEG's thumbnail ends with
// the JPEG's own end marker, a PDF may hold several "%%EOF", an archive ends
// with its central directory. A start whose structure does not hold is no
// file of that type.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "io/VolumeView.h"

namespace quorvel::raw {

enum class FileStructure {
  None,  // the generic rules
  Jpeg,
  Png,
  Gif,
  Bmp,
  Riff,      // WAV, AVI
  Zip,       // and the office formats inside it
  Pdf,
  Sqlite,
  SevenZip,
  Gzip,
  Elf,
  Pe,        // EXE, DLL
  Ole,       // compound documents
  IsoMedia,  // MP4, MOV
  Matroska,
  Tiff,
  Mp3,  // with an ID3v2 tag
  Rar,  // versions 4 and 5
};

// The structure the default table's type with this extension has.
FileStructure structureForExtension(std::string_view extension);

struct FileEnd {
  std::uint64_t length = 0;
  std::string extension;  // a more precise one than the setting's ("docx"), or empty
};

// The length of the file that starts at `start`, no longer than `limit`;
// none when the bytes there are not a whole file of that structure.
std::optional<FileEnd> findFileEnd(FileStructure structure, const VolumeView& view, std::uint64_t start,
                                   std::uint64_t limit);

}  // namespace quorvel::raw
