// Real FAT and exFAT images with random bytes spoiled where the metadata
// lives: whatever the bytes, the scan ends, every folder's children are
// finite, and every file streams no more than its size.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "fs/CatalogueWalk.h"
#include "session/ScanSession.h"
#include "support/TestSupport.h"
#include "support/ContentSinks.h"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;


struct CorruptionCase {
  std::string image;
  std::string kind;
};

void PrintTo(const CorruptionCase& c, std::ostream* os) { *os << c.image; }

class FatFamilyCorruption : public ::testing::TestWithParam<CorruptionCase> {};

// Writes bytes into the copy and gives back what was there before.
std::vector<std::pair<std::uint64_t, char>> spoil(const fs::path& path, std::mt19937_64& random, std::uint64_t span, int count) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<std::pair<std::uint64_t, char>> undo;
  for (int k = 0; k < count; ++k) {
    // Half of the hits land in the first sectors, where the geometry is.
    const std::uint64_t offset = (k % 2 == 0) ? random() % 4096 : random() % span;
    char before = 0;
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(&before, 1);
    undo.emplace_back(offset, before);
    const char after = static_cast<char>(random() & 0xFF);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(&after, 1);
  }
  return undo;
}

void restore(const fs::path& path, const std::vector<std::pair<std::uint64_t, char>>& undo) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
    file.seekp(static_cast<std::streamoff>(it->first));
    file.write(&it->second, 1);
  }
}

TEST_P(FatFamilyCorruption, ScanAndReadsEndWhateverTheBytes) {
  const fs::path original = fixtureDir() / "fat" / (GetParam().image + ".img");
  ASSERT_TRUE(fs::exists(original)) << original;
  TempFolder folder;
  const fs::path copy = folder.path() / "spoilt.img";
  fs::copy_file(original, copy);
  const std::uint64_t span = std::min<std::uint64_t>(fs::file_size(copy), 2 * 1024 * 1024);

  std::mt19937_64 random(20261210);
  int scanned = 0;
  std::size_t entries = 0;
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const auto undo = spoil(copy, random, span, 1 + round % 16);
    FileReadSeek source;
    ASSERT_TRUE(source.open(copy.string()));
    ScanRequest request;
    request.volume.sizeBytes = 64 << 20;
    auto parser = parserFor(GetParam().kind, RecoveryMode::Standard);
    ASSERT_TRUE(parser);
    RecordingObserver observer;
    JobContext job(&observer);
    ScanSession session(request, std::move(parser));
    if (session.run(source, job)) {
      ++scanned;
      std::set<EntryId> seen;
      walkCatalogue(session.parser(), std::nullopt, [&](const CatalogueItem& item) {
        EXPECT_TRUE(seen.insert(item.id).second) << "entry reached twice: " << itemPath(item);
        ++entries;
        session.parser().formatRow(item.id);
        if (!item.folder) {
          CountingSink sink;
          session.parser().readContent(item.id, sink);
          EXPECT_LE(sink.bytes, session.parser().size(item.id)) << itemPath(item);
        }
        return true;
      });
    } else {
      EXPECT_FALSE(observer.messages.empty()) << "a refused volume must say why";
    }
    restore(copy, undo);
  }
  // Most spoils must leave a volume to walk, or the walk was never tried.
  EXPECT_GE(scanned, 20);
  EXPECT_GE(entries, 20u * 1000);
}

INSTANTIATE_TEST_SUITE_P(Images, FatFamilyCorruption,
                         ::testing::Values(CorruptionCase{"fat12", "FAT12"}, CorruptionCase{"fat16-2k", "FAT16"},
                                           CorruptionCase{"fat32-512", "FAT32"}, CorruptionCase{"exfat-4k", "FAT64"}),
                         [](const auto& info) {
                           std::string name = info.param.image;
                           std::erase(name, '-');
                           return name;
                         });

}  // namespace
}  // namespace quorvel::test
