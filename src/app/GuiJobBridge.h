#pragma once
// Carries a worker's job reports to the interface thread. Each report runs
// there while the worker waits, so a status, a row or a message is on screen
// before the work goes on. A screen that goes away detaches its bridge first:
// that releases a waiting worker and drops every later report, so joining
// the worker afterwards cannot deadlock.
#include <QObject>
#include <QString>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "io/JobContext.h"
#include "session/JobRunner.h"

class GuiJobBridge : public QObject, public quorvel::JobObserver {
 public:
  explicit GuiJobBridge(QObject* parent = nullptr) : QObject(parent) {}
  ~GuiJobBridge() override { detach(); }

  // Runs `call` on the interface thread: at once when called there, else
  // queued, returning when it has run or the bridge was detached.
  void run(std::function<void()> call);
  // Interface thread only.
  void detach();

  std::function<void(const QString&)> onStatus;
  std::function<void(qint64 low, qint64 high)> onProgressRange;
  std::function<void(qint64 position)> onProgress;
  std::function<void(const QString&)> onDetail;
  std::function<void(const QString&)> onMessage;

  void statusChanged(const std::string& text) override;
  void progressRangeChanged(std::int64_t low, std::int64_t high) override;
  void progressChanged(std::int64_t position) override;
  void detailChanged(const std::string& text) override;
  void message(const std::string& text) override;

 private:
  bool detached() {
    std::lock_guard lock(mutex_);
    return detached_;
  }

  std::mutex mutex_;
  std::condition_variable ran_;
  bool detached_ = false;
};

// Starts `work` on `runner` once the runner's last worker is gone; `finished`
// then runs on the interface thread, or at once when no worker could start.
void startJob(quorvel::JobRunner& runner, GuiJobBridge& bridge, std::function<void(quorvel::JobContext&)> work,
              std::function<void()> finished);
