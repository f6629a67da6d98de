#pragma once
// The status line, the detail line, the progress bar and Pause, Resume and
// Stop of a screen that runs jobs. The panel shows what a job reports through
// the screen's bridge and passes the buttons on to the screen's runner; the
// screen says when a job runs and does what else a job's end asks for.
#include <QString>
#include <QWidget>
#include <memory>

namespace Ui {
class JobPanel;
}
namespace quorvel {
class JobRunner;
}
class GuiJobBridge;

class JobPanel : public QWidget {
  Q_OBJECT
 public:
  explicit JobPanel(QWidget* parent = nullptr);
  ~JobPanel() override;

  // Shows the bridge's status, detail and progress reports and lets the
  // buttons act on the runner's job. The bridge's messages stay the screen's.
  void attach(GuiJobBridge& bridge, quorvel::JobRunner& runner);
  // What the status line says after Stop; "stop button pressed" unless set.
  void setStopText(const QString& text);

  // Shows or hides the bar and the buttons; the buttons act only while a job runs.
  void setJobRunning(bool running);
  bool jobRunning() const { return running_; }
  // An empty bar for the job about to start.
  void restartProgress();

  void setStatus(const QString& text);
  QString status() const;

  // The process is about to end: a running job is ended, whatever its
  // phase, and the status line says so.
  void stopBeforeExit();

 signals:
  // Stop was pressed while a job ran, and the job was told to stop.
  void stopPressed();

 private:
  void pause();
  void resume();
  void stop();

  std::unique_ptr<Ui::JobPanel> ui_;
  quorvel::JobRunner* runner_ = nullptr;
  QString stopText_;
  bool running_ = false;
};
