#include "session/OpenImage.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "session/ScanSession.h"
#include "support/FakeParser.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using test::TempImage;

VolumeRecord volumeAt(std::int64_t startSector, const std::string& kind) {
  VolumeRecord v;
  v.kind = kind;
  v.label = std::to_string(startSector);
  v.sizeText = "1   MB";
  v.startSector = startSector;
  return v;
}

std::shared_ptr<ScanSession> beginFakeSession(OpenImage& image) {
  return image.beginSession(scanRequestFor(*image.chosen(), RecoveryMode::Standard),
                            std::make_unique<test::FakeParser>());
}

std::uint8_t firstByte(const OpenImage& image) {
  std::array<std::uint8_t, 1> byte{};
  EXPECT_TRUE(image.source()->readAt(0, byte.data(), byte.size()));
  return byte[0];
}

TEST(OpenImage, NothingIsOpenAtFirst) {
  const OpenImage image;
  EXPECT_FALSE(image.isOpen());
  EXPECT_EQ(image.source(), nullptr);
  EXPECT_TRUE(image.volumes().empty());
  EXPECT_FALSE(image.chosen());
  EXPECT_EQ(image.session(), nullptr);
  EXPECT_TRUE(image.errorText().empty());
}

TEST(OpenImage, OpensTheImageReadOnlyForReading) {
  TempImage file(std::vector<std::uint8_t>(4096, 0x5A));
  OpenImage image;
  ASSERT_TRUE(image.open(file.path())) << image.errorText();
  ASSERT_TRUE(image.isOpen());
  EXPECT_EQ(image.source()->path(), file.path());
  EXPECT_EQ(image.source()->sourceLength(), 4096u);
  EXPECT_EQ(firstByte(image), 0x5A);
  EXPECT_TRUE(image.errorText().empty());
}

// A path that cannot be opened leaves nothing open, not even the image that
// was open before, and says which path failed.
TEST(OpenImage, ABadPathGivesTheReasonAndNoSource) {
  TempImage good(std::vector<std::uint8_t>(1024, 1));
  const std::string folder = std::filesystem::path(good.path()).parent_path().string();
  for (const std::string& bad : {std::string("/nonexistent/disk.img"), folder}) {
    OpenImage image;
    ASSERT_TRUE(image.open(good.path()));
    image.setVolumes({volumeAt(0, "NTFS")});
    image.choose(volumeAt(0, "NTFS"));
    EXPECT_FALSE(image.open(bad)) << bad;
    EXPECT_FALSE(image.isOpen());
    EXPECT_EQ(image.source(), nullptr);
    EXPECT_NE(image.errorText().find(bad), std::string::npos) << image.errorText();
    EXPECT_TRUE(image.volumes().empty());
    EXPECT_FALSE(image.chosen());

    // A good path afterwards opens and forgets the failure.
    ASSERT_TRUE(image.open(good.path()));
    EXPECT_TRUE(image.errorText().empty());
  }
}

TEST(OpenImage, KeepsTheVolumesInTheOrderFoundAndTheChosenOne) {
  TempImage file(std::vector<std::uint8_t>(4096));
  OpenImage image;
  ASSERT_TRUE(image.open(file.path()));
  image.setVolumes({volumeAt(2048, "NTFS"), volumeAt(34816, "FAT32")});
  image.addVolume(volumeAt(8, "HFS+"));
  ASSERT_EQ(image.volumes().size(), 3u);
  EXPECT_EQ(image.volumes()[0], volumeAt(2048, "NTFS"));
  EXPECT_EQ(image.volumes()[1], volumeAt(34816, "FAT32"));
  EXPECT_EQ(image.volumes()[2], volumeAt(8, "HFS+"));

  // A chosen volume need not be a listed one (a custom range, a kind set by hand).
  image.choose(volumeAt(100, "CUSTOM "));
  EXPECT_EQ(image.chosen(), volumeAt(100, "CUSTOM "));
  image.choose(image.volumes()[1]);
  EXPECT_EQ(image.chosen(), volumeAt(34816, "FAT32"));
  EXPECT_EQ(image.volumes().size(), 3u);

  // A new listing replaces the old one and leaves the choice alone.
  image.setVolumes({volumeAt(63, "FAT16")});
  ASSERT_EQ(image.volumes().size(), 1u);
  EXPECT_EQ(image.chosen(), volumeAt(34816, "FAT32"));
}

TEST(OpenImage, ASessionBelongsToTheChosenVolume) {
  TempImage file(std::vector<std::uint8_t>(4096));
  OpenImage image;
  ASSERT_TRUE(image.open(file.path()));
  image.choose(volumeAt(2, "NTFS"));
  const std::shared_ptr<ScanSession> first = beginFakeSession(image);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(image.session(), first);
  EXPECT_EQ(first->request().volume.startByte, 2u * 512);

  // A second session replaces the first; ending the first then changes nothing.
  const std::shared_ptr<ScanSession> second = beginFakeSession(image);
  EXPECT_EQ(image.session(), second);
  image.endSession(first.get());
  EXPECT_EQ(image.session(), second);
  image.endSession(second.get());
  EXPECT_EQ(image.session(), nullptr);

  // Choosing another volume ends the session of the last.
  beginFakeSession(image);
  image.choose(volumeAt(4, "FAT32"));
  EXPECT_EQ(image.session(), nullptr);
}

// Another image, or closing, leaves nothing of the first behind; a job that
// still holds the old session keeps only that.
TEST(OpenImage, ReopeningOrClosingReplacesEverything) {
  TempImage first(std::vector<std::uint8_t>(2048, 0x11));
  TempImage second(std::vector<std::uint8_t>(8192, 0x22));
  for (const bool reopen : {true, false}) {
    OpenImage image;
    ASSERT_TRUE(image.open(first.path()));
    image.setVolumes({volumeAt(0, "FAT16"), volumeAt(1, "NTFS")});
    image.choose(image.volumes()[1]);
    std::weak_ptr<ScanSession> session = beginFakeSession(image);
    std::shared_ptr<ScanSession> heldByAJob = beginFakeSession(image);
    ASSERT_TRUE(session.expired());  // replaced by the second one

    if (reopen) {
      ASSERT_TRUE(image.open(second.path()));
      EXPECT_EQ(image.source()->sourceLength(), 8192u);
      EXPECT_EQ(firstByte(image), 0x22);
    } else {
      image.close();
      EXPECT_FALSE(image.isOpen());
      EXPECT_EQ(image.source(), nullptr);
    }
    EXPECT_TRUE(image.volumes().empty());
    EXPECT_FALSE(image.chosen());
    EXPECT_EQ(image.session(), nullptr);
    EXPECT_EQ(heldByAJob.use_count(), 1);
  }
}

}  // namespace
}  // namespace quorvel
