#include "raw/CarvedFileSaving.h"

#include <algorithm>
#include <vector>

#include "fs/OutputFile.h"

namespace quorvel::raw {

std::optional<std::filesystem::path> saveCarvedFile(const VolumeView& view, const CarvedFile& file,
                                                    const std::filesystem::path& folder) {
  // Carved names never hold a separator, so the path stays in the folder.
  if (file.name.empty() || file.name.find('/') != std::string::npos || file.name == "." || file.name == "..")
    return std::nullopt;
  const std::filesystem::path path = folder / file.name;
  OutputFile out(path);
  if (!out.isOpen()) return std::nullopt;
  constexpr std::size_t kPiece = 1 << 20;
  std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, file.length)));
  bool whole = true;
  for (std::uint64_t done = 0; done < file.length;) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), file.length - done));
    // Unreadable bytes come out as zeros; the file is then reported as not whole.
    if (!view.read(file.start + done, piece.data(), count)) whole = false;
    if (!out.write(Bytes(piece.data(), count))) return std::nullopt;
    done += count;
  }
  if (!out.finish(EntryTimes{}) || !whole) return std::nullopt;
  return path;
}

}  // namespace quorvel::raw
