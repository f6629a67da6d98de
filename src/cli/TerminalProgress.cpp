#include "cli/TerminalProgress.h"

#include <unistd.h>

#include <cstdio>

namespace quorvel::cli {

TerminalProgress::TerminalProgress() : enabled_(::isatty(STDERR_FILENO) == 1) {}

TerminalProgress::~TerminalProgress() {
  if (drawn_) std::fputs("\r\033[K", stderr);
}

void TerminalProgress::statusChanged(const std::string& text) {
  status_ = text;
  draw();
}

void TerminalProgress::progressRangeChanged(std::int64_t low, std::int64_t high) {
  low_ = low;
  high_ = high;
  position_ = low;
  draw();
}

void TerminalProgress::progressChanged(std::int64_t position) {
  position_ = position;
  draw();
}

void TerminalProgress::message(const std::string& text) {
  lastMessage_ = text;
  if (!enabled_) return;
  if (drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
  std::fprintf(stderr, "%s\n", text.c_str());
}

void TerminalProgress::draw() {
  if (!enabled_) return;
  constexpr int kWidth = 30;
  const std::int64_t span = high_ > low_ ? high_ - low_ : 1;
  const double share = static_cast<double>(position_ - low_) / static_cast<double>(span);
  const int filled = static_cast<int>(share * kWidth + 0.5);
  std::string bar(static_cast<std::size_t>(filled < 0 ? 0 : filled > kWidth ? kWidth : filled), '#');
  bar.resize(kWidth, ' ');
  std::fprintf(stderr, "\r\033[K[%s] %3d%%  %s", bar.c_str(), static_cast<int>(share * 100), status_.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace quorvel::cli
