#include "raw/CarvedFileSaving.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "fs/OutputFile.h"

namespace quorvel::raw {

namespace {
CarvedFileWritten failed(const std::filesystem::path& path, const std::string& why) {
  return CarvedFileWritten{false, path.string() + ": " + why};
}
}  // namespace

CarvedFileWritten saveCarvedFile(const VolumeView& view, const CarvedFile& file, const std::filesystem::path& folder,
                                 const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
    return failed(folder / name, "not a name a file can have here.");
  const std::filesystem::path path = folder / name;
  OutputFile out(path);
  constexpr std::size_t kPiece = 1 << 20;
  std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, file.length)));
  bool readable = true;
  bool written = out.isOpen();
  for (std::uint64_t done = 0; written && done < file.length;) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), file.length - done));
    // Unreadable bytes come out as zeros; the file is then reported as not whole.
    if (!view.read(file.start + done, piece.data(), count)) readable = false;
    written = out.write(Bytes(piece.data(), count));
    done += count;
  }
  written = out.finish(EntryTimes{}) && written;
  if (!written) return failed(path, std::string(std::strerror(out.error() != 0 ? out.error() : EIO)) + ".");
  if (!readable) return failed(path, "some of its bytes could not be read; they were written as zeros.");
  return CarvedFileWritten{true, {}};
}

}  // namespace quorvel::raw
