// A window on a content stream gives exactly the slice of the bytes the
// stream stands for, holes included, and stops the stream once it is full.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "session/ContentWindow.h"

namespace quorvel {
namespace {

Bytes bytesOf(const std::string& s) { return Bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }

struct WindowCase {
  std::uint64_t offset;
  std::optional<std::uint64_t> length;
};

TEST(ContentWindow, GivesTheSliceOfBytesAndHolesAlikeAndStopsTheStreamWhenFull) {
  // The stream: "abc", a hole of 5, "defg" — 12 bytes.
  const std::string whole = std::string("abc") + std::string(5, '\0') + "defg";
  for (const WindowCase c : {WindowCase{0, std::nullopt}, WindowCase{0, 0}, WindowCase{1, 1}, WindowCase{2, 3},
                             WindowCase{4, 2}, WindowCase{7, 3}, WindowCase{11, 10}, WindowCase{12, std::nullopt},
                             WindowCase{40, 2}}) {
    SCOPED_TRACE(std::to_string(c.offset) + "+" + (c.length ? std::to_string(*c.length) : "rest"));
    std::string got;
    ContentWindow w(c.offset, c.length, [&](Bytes b) {
      got.append(reinterpret_cast<const char*>(b.data()), b.size());
      return true;
    });
    const bool more = w.write(bytesOf("abc")) && w.zeros(5) && w.write(bytesOf("defg"));
    const std::string want = c.offset >= whole.size() ? "" : whole.substr(c.offset, c.length.value_or(std::string::npos));
    EXPECT_EQ(got, want);
    EXPECT_EQ(w.given(), want.size());
    // The stream goes on only while the window wants more.
    EXPECT_EQ(more, !w.full());
  }
}

TEST(ContentWindow, AnOutputThatFailsStopsTheStreamWithoutBeingFull) {
  ContentWindow w(0, std::nullopt, [](Bytes) { return false; });
  EXPECT_FALSE(w.write(bytesOf("abc")));
  EXPECT_FALSE(w.full());
  EXPECT_FALSE(w.zeros(3));
}

}  // namespace
}  // namespace quorvel
