#pragma once
// A progress bar that shows a job's 64-bit range and positions.
#include <QProgressBar>

#include "logic/ProgressBarScale.h"

class GuiJobBridge;

class JobProgressBar : public QProgressBar {
  Q_OBJECT
 public:
  explicit JobProgressBar(QWidget* parent = nullptr);

  void setJobRange(qint64 low, qint64 high);
  void setJobPosition(qint64 position);
  // Shows the range and position reports that arrive through `bridge`.
  void follow(GuiJobBridge& bridge);

 private:
  wizard::ProgressBarScale scale_;
};
