#pragma once
#include <string>

#include "io/JobContext.h"

namespace quorvel::cli {

// Draws a job's progress and status on one line of a terminal's stderr.
// When stderr is not a terminal it draws nothing, so pipes stay clean.
// Messages are kept: a command that fails says the last one as its error.
class TerminalProgress : public JobObserver {
 public:
  TerminalProgress();
  ~TerminalProgress() override;
  void statusChanged(const std::string& text) override;
  void progressRangeChanged(std::int64_t low, std::int64_t high) override;
  void progressChanged(std::int64_t position) override;
  void message(const std::string& text) override;
  const std::string& lastMessage() const { return lastMessage_; }

 private:
  void draw();
  bool enabled_;
  bool drawn_ = false;
  std::int64_t low_ = 0;
  std::int64_t high_ = 0;
  std::int64_t position_ = 0;
  std::string status_;
  std::string lastMessage_;
};

}  // namespace quorvel::cli
