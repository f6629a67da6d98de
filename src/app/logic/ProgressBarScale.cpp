#include "logic/ProgressBarScale.h"

#include <algorithm>
#include <climits>

namespace wizard {

namespace {

constexpr std::uint64_t kBarMost = INT_MAX;

// The distance from low to high, which may be more than an int64 holds.
std::uint64_t distance(std::int64_t low, std::int64_t high) {
  return static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low);
}

}  // namespace

BarRange ProgressBarScale::setJobRange(std::int64_t low, std::int64_t high) {
  low_ = low;
  high_ = std::max(low, high);
  const std::uint64_t width = distance(low_, high_);
  // The smallest divisor that brings the width within an int.
  divisor_ = std::max<std::uint64_t>(1, width / kBarMost + (width % kBarMost != 0 ? 1 : 0));
  return barRange();
}

BarRange ProgressBarScale::barRange() const {
  return {0, static_cast<int>(distance(low_, high_) / divisor_)};
}

int ProgressBarScale::barValue(std::int64_t position) const {
  return static_cast<int>(distance(low_, std::clamp(position, low_, high_)) / divisor_);
}

}  // namespace wizard
