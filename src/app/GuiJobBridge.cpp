#include "GuiJobBridge.h"

#include <QThread>
#include <memory>

void GuiJobBridge::run(std::function<void()> call) {
  if (QThread::currentThread() == thread()) {
    if (!detached()) call();
    return;
  }
  if (detached()) return;
  auto done = std::make_shared<bool>(false);
  // Posted to this object, so a bridge deleted meanwhile drops the call.
  QMetaObject::invokeMethod(
      this,
      [this, call = std::move(call), done] {
        if (!detached()) call();
        {
          std::lock_guard lock(mutex_);
          *done = true;
        }
        ran_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  ran_.wait(lock, [&] { return *done || detached_; });
}

void GuiJobBridge::detach() {
  {
    std::lock_guard lock(mutex_);
    detached_ = true;
  }
  ran_.notify_all();
}

void GuiJobBridge::statusChanged(const std::string& text) {
  run([this, text = QString::fromStdString(text)] {
    if (onStatus) onStatus(text);
  });
}

void GuiJobBridge::progressRangeChanged(std::int64_t low, std::int64_t high) {
  run([this, low, high] {
    if (onProgressRange) onProgressRange(low, high);
  });
}

void GuiJobBridge::progressChanged(std::int64_t position) {
  run([this, position] {
    if (onProgress) onProgress(position);
  });
}

void GuiJobBridge::detailChanged(const std::string& text) {
  run([this, text = QString::fromStdString(text)] {
    if (onDetail) onDetail(text);
  });
}

void GuiJobBridge::message(const std::string& text) {
  run([this, text = QString::fromStdString(text)] {
    if (onMessage) onMessage(text);
  });
}

void startJob(quorvel::JobRunner& runner, GuiJobBridge& bridge, std::function<void(quorvel::JobContext&)> work,
              std::function<void()> finished) {
  runner.wait();  // the last job's worker may still be on its way out
  const bool started = runner.start([&bridge, work = std::move(work), finished](quorvel::JobContext& context) {
    work(context);
    bridge.run(finished);
  });
  if (!started) finished();
}
