#include "JobProgressBar.h"

#include "GuiJobBridge.h"

JobProgressBar::JobProgressBar(QWidget* parent) : QProgressBar(parent) { setJobRange(0, 100); }

void JobProgressBar::setJobRange(qint64 low, qint64 high) {
  const wizard::BarRange range = scale_.setJobRange(low, high);
  setRange(range.minimum, range.maximum);
}

void JobProgressBar::setJobPosition(qint64 position) { setValue(scale_.barValue(position)); }

void JobProgressBar::follow(GuiJobBridge& bridge) {
  bridge.onProgressRange = [this](qint64 low, qint64 high) { setJobRange(low, high); };
  bridge.onProgress = [this](qint64 position) { setJobPosition(position); };
}
