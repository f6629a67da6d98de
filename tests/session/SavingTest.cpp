#include "session/Saving.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <fstream>

#include "session/OutputNames.h"
#include "support/FakeParser.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::FakeParser;

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every path below a folder, relative, with a trailing '/' for folders.
std::vector<std::string> tree(const fs::path& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    out.push_back(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
  std::sort(out.begin(), out.end());
  return out;
}

class Saving : public ::testing::Test {
 protected:
  void SetUp() override {
    out = fs::temp_directory_path() / ("quorvel-save-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(out);
    fs::create_directories(out);
  }
  void TearDown() override { fs::remove_all(out); }

  SaveSummary save(const FakeParser& p, std::optional<EntryId> folder = std::nullopt) {
    JobContext job(&observer);
    return saveFolderContents(p, folder, out, job);
  }

  fs::path out;
  test::RecordingObserver observer;
};

TEST_F(Saving, WritesTheFolderTreeWithContentAndTimes) {
  FakeParser p;
  const EntryId docs = p.folder("docs");
  const EntryId letter = p.file("letter.txt", docs, "dear reader");
  p.entries[letter].times = {FileTime{1000000000, 5}, FileTime{1200000000, 0}, FileTime{1100000000, 250}};
  p.folder("empty", docs);
  const EntryId sparse = p.file("sparse.bin", docs, "head");
  p.entries[sparse].sparseTail = 10 << 20;
  p.file("top.txt", kNoEntry, "top");

  const SaveSummary summary = save(p, docs);
  EXPECT_EQ(summary.filesSaved, 2u);
  EXPECT_EQ(summary.filesFailed, 0u);
  EXPECT_EQ(tree(out), (std::vector<std::string>{"empty/", "letter.txt", "sparse.bin"}));
  // Times first: reading the file would move its access time.
  struct stat info {};
  ASSERT_EQ(stat((out / "letter.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 1100000000);
  EXPECT_EQ(info.st_mtim.tv_nsec, 250);
  EXPECT_EQ(info.st_atim.tv_sec, 1200000000);
  char created[64] = {};
  if (getxattr((out / "letter.txt").c_str(), "user.creation_time", created, sizeof created) > 0) {
    EXPECT_STREQ(created, "1000000000.5");
  }

  EXPECT_EQ(readText(out / "letter.txt"), "dear reader");

  ASSERT_EQ(stat((out / "sparse.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 4 + (10 << 20));
  EXPECT_LT(info.st_blocks * 512, 1 << 20);  // the zeros are a hole, not written blocks
  EXPECT_EQ(readText(out / "sparse.bin").substr(0, 4), "head");

  EXPECT_EQ(observer.ranges.front(), (std::pair<std::int64_t, std::int64_t>{0, 2}));
  EXPECT_EQ(observer.positions.back(), 2);
  EXPECT_EQ(observer.statuses.front(), "saving File  " + (out / "letter.txt").string());
}

TEST_F(Saving, NamesCannotLeaveTheOutputFolder) {
  FakeParser p;
  const EntryId up = p.folder("..");
  p.file("escaped", up, "x");
  p.file("../../etc-passwd", kNoEntry, "y");
  p.file("a/b", kNoEntry, "z");
  p.file("  spaced name.txt  ", kNoEntry, "s");
  p.file("", kNoEntry, "nameless");
  p.file(std::string(300, 'n') + ".txt", kNoEntry, "long");
  const SaveSummary summary = save(p);
  EXPECT_EQ(summary.filesSaved, 6u);
  EXPECT_FALSE(fs::exists(out.parent_path() / "escaped"));
  EXPECT_TRUE(fs::exists(out / "_.." / "escaped"));
  EXPECT_TRUE(fs::exists(out / ".._.._etc-passwd"));
  EXPECT_TRUE(fs::exists(out / "a_b"));
  EXPECT_TRUE(fs::exists(out / "spaced name.txt"));
  EXPECT_TRUE(fs::exists(out / "_"));
  EXPECT_TRUE(fs::exists(out / std::string(255, 'n')));
}

TEST_F(Saving, ALinkInTheOutputFolderIsNotFollowed) {
  const fs::path elsewhere = out.string() + "-elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, out / "docs");
  fs::create_symlink(elsewhere / "target", out / "file.txt");
  fs::create_directory(out / "plain");  // a folder where a file goes
  FakeParser p;
  p.file("inside.txt", p.folder("docs"), "x");
  p.file("file.txt", kNoEntry, "y");
  p.file("plain", kNoEntry, "z");
  const SaveSummary summary = save(p);
  EXPECT_EQ(summary.filesSaved, 3u);
  EXPECT_EQ(summary.filesFailed, 0u);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  // The links stay as they were; the saved entries take the next names.
  EXPECT_TRUE(fs::is_symlink(out / "docs"));
  EXPECT_TRUE(fs::is_symlink(out / "file.txt"));
  EXPECT_EQ(readText(out / "docs (2)" / "inside.txt"), "x");
  EXPECT_EQ(readText(out / "file (2).txt"), "y");
  EXPECT_EQ(readText(out / "plain (2)"), "z");
  fs::remove_all(elsewhere);
}

TEST_F(Saving, AHardLinkInTheOutputFolderKeepsItsOtherName) {
  // A file saved over one that has a second name elsewhere replaces this
  // name only: the bytes behind the other name stay as they were.
  const fs::path elsewhere = out.string() + "-elsewhere";
  fs::create_directories(elsewhere);
  {
    std::ofstream(elsewhere / "precious.txt") << "keep me";
  }
  fs::create_hard_link(elsewhere / "precious.txt", out / "file.txt");
  FakeParser p;
  p.file("file.txt", kNoEntry, "saved");
  const SaveSummary summary = save(p);
  EXPECT_EQ(summary.filesSaved, 1u);
  EXPECT_EQ(readText(elsewhere / "precious.txt"), "keep me");
  EXPECT_EQ(readText(out / "file.txt"), "saved");
  fs::remove_all(elsewhere);
}

TEST_F(Saving, ASingleFileGoesPastALink) {
  const fs::path elsewhere = out.string() + "-elsewhere";
  fs::create_directories(elsewhere);
  fs::create_symlink(elsewhere / "target", out / "file.txt");
  FakeParser p;
  const EntryId file = p.file("file.txt", kNoEntry, "y");
  JobContext job(&observer);
  EXPECT_EQ(saveSingleFile(p, file, out).firstFile, out / "file (2).txt");
  EXPECT_TRUE(fs::is_empty(elsewhere));
  fs::remove_all(elsewhere);
}

TEST_F(Saving, CollidingSafeNamesGetDistinctNames) {
  FakeParser p;
  const std::string longName(4096, 'n');
  p.file("a/b", kNoEntry, "slash");
  p.file("a_b", kNoEntry, "underscore");
  p.file("a\nb", kNoEntry, "newline");
  p.file(longName, kNoEntry, "long one");
  p.file(longName + "x", kNoEntry, "long two");
  p.file(std::string("nul\0.txt", 8), kNoEntry, "nul");
  p.file("nul\x01.txt", kNoEntry, "control");
  const EntryId sub = p.folder("dir/x");
  p.file("inner", sub, "in the first folder");
  p.file("inner", p.folder("dir_x"), "in the second folder");
  const SaveSummary summary = save(p);
  EXPECT_EQ(summary.filesSaved, 9u);
  std::string cut(251, 'n');
  EXPECT_EQ(tree(out), (std::vector<std::string>{"a_b", "a_b (2)", "a_b (3)", "dir_x (2)/", "dir_x (2)/inner", "dir_x/",
                                                 "dir_x/inner", cut + " (2)", std::string(255, 'n'), "nul_ (2).txt",
                                                 "nul_.txt"}));
  EXPECT_EQ(readText(out / "a_b"), "slash");
  EXPECT_EQ(readText(out / "a_b (2)"), "underscore");
  EXPECT_EQ(readText(out / "a_b (3)"), "newline");
  EXPECT_EQ(readText(out / cut.append(" (2)")), "long two");
  EXPECT_EQ(readText(out / "nul_ (2).txt"), "control");
  EXPECT_EQ(readText(out / "dir_x (2)" / "inner"), "in the second folder");
}

TEST(OutputNameNumbers, KeepTheExtensionAndTheLimit) {
  EXPECT_EQ(numberedName("photo.jpg", 2), "photo (2).jpg");
  EXPECT_EQ(numberedName(".profile", 3), ".profile (3)");
  EXPECT_EQ(numberedName("archive.tar.gz", 2), "archive.tar (2).gz");
  EXPECT_EQ(numberedName("no-extension", 10), "no-extension (10)");
  // A cut inside a two-byte character moves before it.
  std::string wide;
  for (int i = 0; i < 127; ++i) wide += "\xC3\xA9";
  const std::string numbered = numberedName(wide, 2);
  EXPECT_LE(numbered.size(), 255u);
  EXPECT_EQ(numbered, wide.substr(0, 250) + " (2)");
}

TEST_F(Saving, SkippedAndUnreadableFiles) {
  FakeParser p;
  const EntryId dot = p.folder(".");
  p.file("not-entered", dot, "x");
  p.entries[p.file("$BadClus", kNoEntry, "never")].neverSaved = true;
  const EntryId broken = p.file("broken", kNoEntry, "partial");
  p.entries[broken].unreadable = true;
  const SaveSummary summary = save(p);
  EXPECT_EQ(summary.filesSaved, 0u);
  EXPECT_EQ(summary.filesFailed, 1u);
  EXPECT_FALSE(fs::exists(out / "$BadClus"));
  EXPECT_FALSE(fs::exists(out / "not-entered"));
}

TEST_F(Saving, FilesOfOneNameEachKeepTheirContent) {
  // Small files are written on other threads, large ones on the save's own,
  // and a size can understate the content: whichever way each goes, every
  // file of the name lands whole under a name of its own.
  enum Kind { Small, Large, Understated };
  const auto contentOf = [](Kind kind, int index) {
    const std::size_t length = kind == Small ? 20 + index : (3u << 20) + index;
    std::string text(length, static_cast<char>('a' + index % 26));
    return text;
  };
  const std::vector<std::vector<Kind>> orders = {
      {Small, Small}, {Large, Small}, {Small, Large}, {Small, Understated}, {Understated, Small},
      {Small, Small, Small, Small, Small, Small, Small, Small, Large, Small, Small, Small}};
  for (const auto& order : orders) {
    SCOPED_TRACE(::testing::PrintToString(order));
    FakeParser p;
    for (int i = 0; i < static_cast<int>(order.size()); ++i) {
      const EntryId id = p.file("same.txt", kNoEntry, contentOf(order[i], i));
      if (order[i] == Understated) p.entries[id].claimedSize = 10;
      p.file("other-" + std::to_string(i) + ".txt", kNoEntry, "beside");
    }
    fs::remove_all(out);
    const SaveSummary summary = save(p);
    EXPECT_EQ(summary.filesSaved, 2 * order.size());
    for (int i = 0; i < static_cast<int>(order.size()); ++i) {
      const std::string name = i == 0 ? "same.txt" : numberedName("same.txt", static_cast<unsigned>(i + 1));
      EXPECT_EQ(readText(out / name), contentOf(order[i], i)) << name;
    }
  }
}

TEST_F(Saving, ManySmallFilesKeepTheirBytesHolesAndTimes) {
  FakeParser p;
  const EntryId folder = p.folder("many");
  for (int i = 0; i < 2000; ++i) {
    const EntryId id = p.file("f" + std::to_string(i), i % 3 ? folder : kNoEntry, "file " + std::to_string(i));
    p.entries[id].times.modified = FileTime{1000000 + i, 0};
    if (i % 100 == 0) p.entries[id].sparseTail = 512 << 10;
  }
  const SaveSummary summary = save(p);
  EXPECT_EQ(summary.filesSaved, 2000u);
  EXPECT_EQ(observer.statuses.size(), 2000u);
  for (int i = 0; i < 2000; ++i) {
    const fs::path path = (i % 3 ? out / "many" : out) / ("f" + std::to_string(i));
    const std::string text = "file " + std::to_string(i);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0) << path;
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000 + i);
    if (i % 100 == 0) {
      EXPECT_EQ(info.st_size, static_cast<off_t>(text.size() + (512 << 10)));
      EXPECT_LT(info.st_blocks * 512, 256 << 10);
    }
    EXPECT_EQ(readText(path).substr(0, text.size()), text);
  }
  // Statuses come in catalogue order, as when saving one after another.
  std::vector<std::string> expected;
  for (int i = 0; i < 2000; i += 3) expected.push_back("saving File  " + (out / ("f" + std::to_string(i))).string());
  std::vector<std::string> top;
  for (const std::string& status : observer.statuses)
    if (status.find("/many/") == std::string::npos) top.push_back(status);
  EXPECT_EQ(top, expected);
}

TEST_F(Saving, FoldersOnlyGiveAnEmptyRangeAndStopEndsTheSave) {
  FakeParser p;
  p.folder("b", p.folder("a"));
  save(p);
  EXPECT_EQ(tree(out), (std::vector<std::string>{"a/", "a/b/"}));
  EXPECT_EQ(observer.ranges.front(), (std::pair<std::int64_t, std::int64_t>{0, 0}));

  FakeParser many;
  for (int i = 0; i < 10; ++i) many.file("f" + std::to_string(i), kNoEntry, "x");
  struct StopAfterThree : test::RecordingObserver {
    JobContext* job = nullptr;
    void statusChanged(const std::string& text) override {
      if (++count == 3) job->requestStop();
      RecordingObserver::statusChanged(text);
    }
    int count = 0;
  } stopper;
  JobContext job(&stopper);
  stopper.job = &job;
  fs::remove_all(out);
  const SaveSummary summary = saveFolderContents(many, std::nullopt, out, job);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.filesSaved, 3u);
}

TEST(SavingTexts, OutputFolderAndQuestion) {
  EXPECT_FALSE(outputFolderFromText(""));
  EXPECT_FALSE(outputFolderFromText("   \t"));
  EXPECT_EQ(outputFolderFromText("  /tmp/out "), fs::path("/tmp/out"));
  EXPECT_EQ(saveQuestion(42),
            "number of files found inside this folder = 42 .do u want to continue dumping these files..?");
}

TEST_F(Saving, SingleFileGoesIntoTheOutputFolder) {
  FakeParser p;
  const EntryId id = p.file("one.txt", p.folder("deep"), "content");
  const auto written = saveSingleFile(p, id, out / "new").firstFile;
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, out / "new" / "one.txt");
  EXPECT_EQ(readText(*written), "content");
}

}  // namespace
}  // namespace quorvel
