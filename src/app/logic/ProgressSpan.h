#pragma once
// Passes a job's reports on to another observer. While a whole is set, the
// ranges that pieces of work set are kept from the bar and their positions
// count on from where the earlier pieces ended, so saving several items shows
// one progress from start to end. Used from the job's worker only.
#include <cstdint>

#include "io/JobContext.h"

namespace wizard {

class ProgressSpan : public quorvel::JobObserver {
 public:
  explicit ProgressSpan(quorvel::JobObserver* next = nullptr) : next_(next) {}

  void beginWhole(std::int64_t total);
  void setBase(std::int64_t base) { base_ = base; }
  void endWhole() { whole_ = false; }

  void statusChanged(const std::string& text) override;
  void progressRangeChanged(std::int64_t low, std::int64_t high) override;
  void progressChanged(std::int64_t position) override;
  void detailChanged(const std::string& text) override;
  void message(const std::string& text) override;

 private:
  quorvel::JobObserver* next_;
  bool whole_ = false;
  std::int64_t base_ = 0;
  std::int64_t total_ = 0;
};

}  // namespace wizard
