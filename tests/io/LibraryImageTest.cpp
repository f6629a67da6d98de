#include "io/images/LibraryImage.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TestSupport.h"

namespace quorvel::images {
namespace {

// Where a child's stored parent name leads: the stored path only where it
// is a Unix path that exists, else the same name beside the child.
TEST(FindBeside, ParentsAreLookedForBesideTheChild) {
  test::TempFolder folder;
  test::TempFolder elsewhere;
  const std::string dir = folder.path().string();
  std::ofstream(dir + "/base.vhd") << "x";
  std::ofstream(elsewhere.path() / "other.qcow2") << "x";
  const std::string child = dir + "/child.vhd";
  const std::string absolute = (elsewhere.path() / "other.qcow2").string();

  struct Case {
    std::string stored;
    std::string found;
  };
  for (const Case& c : {Case{"base.vhd", dir + "/base.vhd"},
                        Case{"C:\\VMs\\disks\\base.vhd", dir + "/base.vhd"},
                        Case{"..\\disks\\base.vhd", dir + "/base.vhd"},
                        Case{"/srv/old/place/base.vhd", dir + "/base.vhd"},
                        Case{absolute, absolute},
                        Case{"gone.vhd", ""},
                        Case{"", ""}})
    EXPECT_EQ(findBeside(child, c.stored), c.found) << c.stored;
}

TEST(CannotRead, OneSentenceWithTheLibrarysWordsApart) {
  EXPECT_EQ(cannotRead("VHD", "/x/a.vhd", "its parent disk b.vhd is missing"),
            "Cannot read the VHD image /x/a.vhd: its parent disk b.vhd is missing.");
  EXPECT_EQ(cannotRead("VMDK", "a.vmdk", "the file is damaged", "libvmdk_handle_open: unable to read header"),
            "Cannot read the VMDK image a.vmdk: the file is damaged (libvmdk_handle_open: unable to read header).");
}

}  // namespace
}  // namespace quorvel::images
