#pragma once
// A job counts its progress in 64 bits, a progress bar in int. The bar runs
// from 0 to the width of the job's range, divided down when that is more than
// an int holds; a position outside the range shows at its nearer end, and a
// reversed range is an empty one.
#include <cstdint>

namespace wizard {

struct BarRange {
  int minimum = 0;
  int maximum = 0;
  bool operator==(const BarRange&) const = default;
};

class ProgressBarScale {
 public:
  // Until a job sets its range: 0 to 100, a bar's own default.
  ProgressBarScale() { setJobRange(0, 100); }

  // Takes the job's new range; returns the bar's.
  BarRange setJobRange(std::int64_t low, std::int64_t high);
  BarRange barRange() const;
  // Where the bar stands for a position in the job's current range.
  int barValue(std::int64_t position) const;

 private:
  std::int64_t low_ = 0;
  std::int64_t high_ = 0;
  std::uint64_t divisor_ = 1;
};

}  // namespace wizard
