#include "logic/ProgressSpan.h"

#include <algorithm>

namespace wizard {

void ProgressSpan::beginWhole(std::int64_t total) {
  whole_ = true;
  base_ = 0;
  total_ = std::max<std::int64_t>(0, total);
  if (next_) next_->progressRangeChanged(0, total_);
}

void ProgressSpan::statusChanged(const std::string& text) {
  if (next_) next_->statusChanged(text);
}

void ProgressSpan::progressRangeChanged(std::int64_t low, std::int64_t high) {
  if (!whole_ && next_) next_->progressRangeChanged(low, high);
}

void ProgressSpan::progressChanged(std::int64_t position) {
  if (!next_) return;
  next_->progressChanged(whole_ ? std::min(total_, base_ + position) : position);
}

void ProgressSpan::detailChanged(const std::string& text) {
  if (next_) next_->detailChanged(text);
}

void ProgressSpan::message(const std::string& text) {
  if (next_) next_->message(text);
}

}  // namespace wizard
