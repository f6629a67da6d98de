#include "JobPanel.h"

#include "GuiJobBridge.h"
#include "session/JobRunner.h"
#include "ui_JobPanel.h"

namespace {

constexpr const char* kPausePressed = "Pause button pressed";
constexpr const char* kResumePressed = "Resume button pressed";
constexpr const char* kStopPressed = "stop button pressed";
constexpr const char* kAllStopped = "All thread Stopped";

}  // namespace

JobPanel::JobPanel(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::JobPanel>()), stopText_(kStopPressed) {
  ui_->setupUi(this);
  connect(ui_->pauseButton, &QPushButton::clicked, this, &JobPanel::pause);
  connect(ui_->resumeButton, &QPushButton::clicked, this, &JobPanel::resume);
  connect(ui_->stopButton, &QPushButton::clicked, this, &JobPanel::stop);
}

JobPanel::~JobPanel() = default;

void JobPanel::attach(GuiJobBridge& bridge, quorvel::JobRunner& runner) {
  runner_ = &runner;
  bridge.onStatus = [this](const QString& text) { setStatus(text); };
  bridge.onDetail = [this](const QString& text) { ui_->detailLine->setText(text); };
  ui_->progressBar->follow(bridge);
}

void JobPanel::setStopText(const QString& text) { stopText_ = text; }

void JobPanel::setJobRunning(bool running) {
  running_ = running;
  for (QWidget* control : {static_cast<QWidget*>(ui_->progressBar), static_cast<QWidget*>(ui_->pauseButton),
                           static_cast<QWidget*>(ui_->resumeButton), static_cast<QWidget*>(ui_->stopButton)})
    control->setVisible(running);
}

void JobPanel::restartProgress() {
  ui_->progressBar->setJobRange(0, 100);
  ui_->progressBar->setJobPosition(0);
}

void JobPanel::setStatus(const QString& text) { ui_->statusLine->setText(text); }

QString JobPanel::status() const { return ui_->statusLine->text(); }

void JobPanel::pause() {
  if (!running_ || !runner_) return;
  runner_->pause();
  setStatus(kPausePressed);
}

void JobPanel::resume() {
  if (!running_ || !runner_) return;
  runner_->resume();
  setStatus(kResumePressed);
}

void JobPanel::stop() {
  if (!running_ || !runner_) return;
  runner_->stop();
  setStatus(stopText_);
  emit stopPressed();
}

void JobPanel::stopBeforeExit() {
  if (!running_ || !runner_) return;
  runner_->end();
  setStatus(kAllStopped);
}
