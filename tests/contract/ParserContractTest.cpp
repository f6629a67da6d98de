// The contract every registered parser keeps, on every image of its kind
// and in every mode it runs: an intact volume lists a finite catalogue in a
// stable order, contents stay within their sizes, a volume inside a larger
// image reads exactly as alone and never past its extent, and spoilt
// copies end without a crash, a hang or a read outside the volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "contract/CatalogueContract.h"
#include "contract/ContractImages.h"
#include "contract/GuardedVolume.h"
#include "contract/SeededSpoil.h"
#include "fs/FileSystemKinds.h"
#include "session/ScanSession.h"
#include "support/TestSupport.h"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;

struct ContractCase {
  const FileSystemKind* kind;
  const ContractImage* image;
  RecoveryMode mode;
};

const char* modeName(RecoveryMode mode) {
  switch (mode) {
    case RecoveryMode::Standard: return "Standard";
    case RecoveryMode::Advanced: return "Advanced";
    case RecoveryMode::Deep: return "Deep";
  }
  return "?";
}

std::string kindName(const FileSystemKind& kind) {
  std::string name(kind.kindTexts.front());
  std::erase_if(name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
  return name;
}

void PrintTo(const ContractCase& c, std::ostream* os) {
  *os << kindName(*c.kind) << " " << c.image->name << " " << modeName(c.mode);
}

// Every registry row with a parser, every mode the row offers, every image
// listed for its kind.
std::vector<ContractCase> contractCases() {
  std::vector<ContractCase> cases;
  for (const FileSystemKind& kind : fileSystemKinds()) {
    if (!kind.create) continue;
    for (const RecoveryMode mode : kind.modes)
      for (const ContractImage& image : contractImages())
        if (image.kind == kind.id) cases.push_back({&kind, &image, mode});
  }
  return cases;
}

// The image alone in a file: a fixture as it is, a built one written out.
class ContractVolume {
 public:
  explicit ContractVolume(const ContractImage& image) {
    if (image.build) {
      const BuiltImage built = image.build();
      bare_ = folder_.path() / (image.name + ".img");
      std::ofstream(bare_, std::ios::binary)
          .write(reinterpret_cast<const char*>(built.bytes.data()), static_cast<std::streamsize>(built.bytes.size()));
      metadata_ = built.metadata;
    } else {
      bare_ = fixtureDir() / image.fixture;
      if (!fs::exists(bare_)) throw std::runtime_error("missing fixture image " + bare_.string());
      metadata_ = metadataRanges(image.kind, bare_);
    }
  }

  const fs::path& bare() const { return bare_; }
  VolumeExtent bareExtent() const { return {0, fs::file_size(bare_)}; }
  // A copy of the image alone, to spoil.
  fs::path copy() const {
    const fs::path target = folder_.path() / ("copy-" + bare_.filename().string());
    copyVolumeImage(bare_, target);
    return target;
  }
  GuardedVolume guarded() const { return GuardedVolume(folder_.path(), bare_); }
  const std::vector<ByteRange>& metadata() const { return metadata_; }

 private:
  TempFolder folder_;
  fs::path bare_;
  std::vector<ByteRange> metadata_;
};

struct Scan {
  FileReadSeek source;
  RecordingObserver observer;
  std::unique_ptr<ScanSession> session;
  CandidateLists candidates;
  bool scanned = false;

  const FileSystemParser& parser() const { return session->parser(); }
  std::string said() const {
    std::string text = "the scan said:";
    for (const std::string& m : observer.messages) text += " \"" + m + "\"";
    return text;
  }
};

// A scan as the session runs it; Advanced mode first searches and takes the
// first candidate of each list.
std::unique_ptr<Scan> scanVolume(const ContractCase& c, const fs::path& file, VolumeExtent extent) {
  auto s = std::make_unique<Scan>();
  if (!s->source.open(file.string())) throw std::runtime_error("cannot open " + file.string());
  std::unique_ptr<FileSystemParser> parser = parserFor(c.kind->id, c.mode);
  if (!parser) throw std::runtime_error("the registry gives no parser for this kind and mode");
  s->session = std::make_unique<ScanSession>(ScanRequest{extent, c.mode, {}}, std::move(parser));
  JobContext job(&s->observer);
  if (c.mode == RecoveryMode::Advanced) {
    s->candidates = s->session->findCandidates(s->source, job);
    AdvancedChoices choices;
    choices.tfs = s->candidates.tfs.empty() ? -1 : 0;
    choices.heapOffset = s->candidates.heapOffsets.empty() ? -1 : 0;
    s->session->choose(choices);
  }
  s->scanned = s->session->run(s->source, job);
  return s;
}

// Empty when both listings are the same, else where they part.
std::string firstDifference(const std::vector<ListedEntry>& got, const std::vector<ListedEntry>& want) {
  for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    if (got[i] == want[i]) continue;
    const ListedEntry& g = got[i];
    const ListedEntry& w = want[i];
    return "entry " + std::to_string(i) + ": " + describe(g) + " size " + std::to_string(g.size) + " [" + g.texts +
           "] streamed " + std::to_string(g.streamed) + (g.readWhole ? " whole" : " partly") + " digest " +
           std::to_string(g.digest) + ", expected " + describe(w) + " size " + std::to_string(w.size) + " [" +
           w.texts + "] streamed " + std::to_string(w.streamed) + (w.readWhole ? " whole" : " partly") + " digest " +
           std::to_string(w.digest);
  }
  if (got.size() != want.size())
    return std::to_string(got.size()) + " entries, expected " + std::to_string(want.size());
  return "";
}

CatalogueRules contentRules(const ContractCase& c) {
  return {.readContent = true, .wholeSizeAlways = keepsOffsetsOnFailedReads(c.kind->id)};
}

class ParserContract : public ::testing::TestWithParam<ContractCase> {};

TEST_P(ParserContract, IntactVolumeListsAFiniteCatalogueInAStableOrder) {
  const ContractVolume volume(*GetParam().image);
  const auto first = scanVolume(GetParam(), volume.bare(), volume.bareExtent());
  ASSERT_TRUE(first->scanned) << first->said();
  if (GetParam().mode == RecoveryMode::Advanced && GetParam().kind->advanced.candidates) {
    EXPECT_FALSE(first->candidates.tfs.empty()) << "an intact volume offers no candidate";
  }
  const CatalogueReport listing = checkCatalogue(first->parser(), {.readContent = false, .namesRequired = true});
  expectNoProblems(listing.problems, "catalogue faults");

  const auto second = scanVolume(GetParam(), volume.bare(), volume.bareExtent());
  ASSERT_TRUE(second->scanned) << second->said();
  const CatalogueReport again = checkCatalogue(second->parser(), {.readContent = false});
  EXPECT_EQ(firstDifference(again.entries, listing.entries), "") << "a second scan lists otherwise";
}

TEST_P(ParserContract, ContentReadsWithinItsSize) {
  const ContractVolume volume(*GetParam().image);
  const auto s = scanVolume(GetParam(), volume.bare(), volume.bareExtent());
  ASSERT_TRUE(s->scanned) << s->said();
  CatalogueRules rules = contentRules(GetParam());
  rules.namesRequired = true;
  rules.liveFilesWhole = true;
  const CatalogueReport report = checkCatalogue(s->parser(), rules);
  expectNoProblems(report.problems, "content faults");
}

TEST_P(ParserContract, VolumeInsideALargerImageReadsAsAlone) {
  const ContractVolume volume(*GetParam().image);
  const auto alone = scanVolume(GetParam(), volume.bare(), volume.bareExtent());
  ASSERT_TRUE(alone->scanned) << alone->said();
  const CatalogueReport want = checkCatalogue(alone->parser(), contentRules(GetParam()));

  const GuardedVolume guarded = volume.guarded();
  const auto inside = scanVolume(GetParam(), guarded.path(), guarded.extent());
  ASSERT_TRUE(inside->scanned) << inside->said();
  const CatalogueReport got = checkCatalogue(inside->parser(), contentRules(GetParam()));
  expectNoProblems(got.problems, "faults inside the larger image");
  EXPECT_EQ(firstDifference(got.entries, want.entries), "");
}

// Each round spoils the image alone and inside guards alike: the two must
// list and read the same, and neither may show guard bytes.
TEST_P(ParserContract, SpoiltCopiesEndWithinTheVolume) {
  const ContractImage& image = *GetParam().image;
  const SpoilPlan& plan = image.spoil;
  const ContractVolume volume(image);
  const auto intact = scanVolume(GetParam(), volume.bare(), volume.bareExtent());
  ASSERT_TRUE(intact->scanned) << intact->said();
  const std::size_t intactEntries = checkCatalogue(intact->parser(), {.readContent = false}).entries.size();
  const fs::path alone = volume.copy();
  const GuardedVolume guarded = volume.guarded();
  SeededSpoil spoil({{alone, 0}, {guarded.path(), guarded.extent().startByte}}, volume.metadata(), plan.seed);
  ASSERT_TRUE(spoil.hasRanges()) << "no metadata ranges for this kind: add them to metadataRanges()";

  std::vector<std::string> problems;
  int scanned = 0;
  std::size_t listed = 0;
  for (int round = 0; round < plan.rounds + plan.heavyRounds; ++round) {
    const std::string where = "round " + std::to_string(round) + ": ";
    const bool heavy = round >= plan.rounds;
    spoil.spoil(heavy ? plan.heavyHits : plan.maxHits);
    const auto inside = scanVolume(GetParam(), guarded.path(), guarded.extent());
    const auto bare = scanVolume(GetParam(), alone, volume.bareExtent());
    if (inside->scanned != bare->scanned) {
      problems.push_back(where + (inside->scanned ? "scanned inside the larger image only" : "scanned alone only"));
    } else if (inside->scanned) {
      const CatalogueReport got = checkCatalogue(inside->parser(), contentRules(GetParam()));
      const CatalogueReport want = checkCatalogue(bare->parser(), contentRules(GetParam()));
      if (!heavy) {
        ++scanned;
        listed += got.entries.size();
      }
      for (const std::string& p : got.problems) problems.push_back(where + p);
      if (const std::string d = firstDifference(got.entries, want.entries); !d.empty())
        problems.push_back(where + "inside the larger image, " + d);
    } else if (inside->observer.messages.empty()) {
      problems.push_back(where + "the volume was refused without a word why");
    }
    spoil.undo();
  }
  expectNoProblems(problems, "faults on spoilt copies");
  // Light spoils that leave little to walk would test little.
  EXPECT_GE(scanned, plan.mustScan);
  EXPECT_GE(2 * listed, intactEntries * static_cast<std::size_t>(plan.rounds))
      << "the lightly spoilt rounds list less than half of what as many intact scans list";
}

INSTANTIATE_TEST_SUITE_P(Registry, ParserContract, ::testing::ValuesIn(contractCases()), [](const auto& info) {
  return kindName(*info.param.kind) + "_" + info.param.image->name + "_" + modeName(info.param.mode);
});

// The table must keep up with the registry: a parser without images would
// escape the contract unnoticed, images of a kind without a parser would
// never run, and an image listed under another kind would test the wrong
// parser.
TEST(ParserContractImages, EveryKindWithAParserHasImagesAndEveryImageAParser) {
  for (const FileSystemKind& kind : fileSystemKinds()) {
    const bool listed = std::any_of(contractImages().begin(), contractImages().end(),
                                    [&](const ContractImage& image) { return image.kind == kind.id; });
    if (kind.create) {
      EXPECT_TRUE(listed) << kind.kindTexts.front()
                          << " has a parser but no images: list its fixture images in contractImages()";
    } else {
      EXPECT_FALSE(listed) << kind.kindTexts.front() << " has images but no parser to run them";
    }
  }
}

TEST(ParserContractImages, EveryImageIsRecognisedAsItsKind) {
  for (const ContractImage& image : contractImages()) {
    SCOPED_TRACE(image.name);
    if (!image.startIntact) continue;
    const FileSystemKind& kind = fileSystemKind(image.kind);
    const ContractVolume volume(image);
    std::vector<std::uint8_t> sector(512);
    std::ifstream file(volume.bare(), std::ios::binary);
    file.seekg(kind.sniffOffset);
    file.read(reinterpret_cast<char*>(sector.data()), static_cast<std::streamsize>(sector.size()));
    const std::optional<Sniffed> sniffed = sniffSector(sector, kind.sniffOffset, SniffContext::VolumeStart);
    ASSERT_TRUE(sniffed) << "not recognised at all";
    EXPECT_EQ(sniffed->kind, &kind) << "recognised as " << sniffed->kind->kindTexts.front();
  }
}

}  // namespace
}  // namespace quorvel::test
