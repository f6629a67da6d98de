#pragma once
// A volume image placed inside a larger file, as a partition lies inside a
// disk, with the extent pointing at the volume alone. Guards around it
// make any read outside the extent show:
//  - before the volume, a marker: a 16-byte text no volume holds;
//  - after it, the marker again, then an echo of the volume's own first
//    MiBs. A parser that runs past the extent finds there what it looks for
//    (boot sectors, tables, folders, MFT records) and lists or reads it,
//    where the image alone would have given it nothing.
// So a listing and contents equal to the bare image's, without the marker,
// show that nothing beyond the volume was taken in. (Unreadable guards, a
// device-mapper error target, would need root and the dm module on every
// test machine; since the page cache reads whole pages, the volume's own
// last sectors would fail too where its end is not page-aligned, as here;
// and a failed read comes back as zeros, which a parser hides.)
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "io/Endian.h"
#include "io/VolumeView.h"

namespace quorvel::test {

inline constexpr std::array<std::uint8_t, 16> kGuardMarker = {'<', 'q', 'u', 'o', 'r', 'v', 'e', 'l', '-', 'g',
                                                              'u', 'a', 'r', 'd', '>', 0xA5};

class GuardedVolume {
 public:
  // Copies the image into `folder`; runs of zero blocks stay holes.
  GuardedVolume(const std::filesystem::path& folder, const std::filesystem::path& image);

  const std::string& path() const { return path_; }
  VolumeExtent extent() const { return extent_; }

  // Where the volume starts: a partition's old first sector, 63, so that
  // nothing is aligned to more than a sector.
  static constexpr std::uint64_t kGuardBefore = 63 * 512;
  static constexpr std::uint64_t kMarkerAfter = 64 * 1024;
  static constexpr std::uint64_t kEchoAfter = 4 * 1024 * 1024;

 private:
  std::string path_;
  VolumeExtent extent_;
};

// Copies a volume image alone; runs of zero blocks stay holes.
void copyVolumeImage(const std::filesystem::path& image, const std::filesystem::path& target);

// Finds the marker in a stream of bytes handed over in pieces.
class GuardMarkerSearch {
 public:
  void add(Bytes data);
  bool found() const { return found_; }

 private:
  std::vector<std::uint8_t> tail_;  // the last bytes seen, shorter than the marker
  bool found_ = false;
};

}  // namespace quorvel::test
