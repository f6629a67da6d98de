// The job panel: what a job reports shows on it, and its buttons act on the
// running job and on nothing else.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <functional>

#include "GuiJobBridge.h"
#include "JobPanel.h"
#include "ScreenTestSupport.h"
#include "session/JobRunner.h"

using namespace screentest;

namespace {

constexpr int kLongest = 60000;

// A panel with a bridge and a runner, held the way a screen holds them.
struct Host {
  QWidget window;
  JobPanel* panel = new JobPanel(&window);
  GuiJobBridge* bridge = new GuiJobBridge(&window);
  quorvel::JobRunner runner{bridge};

  Host() {
    panel->attach(*bridge, runner);
    window.show();
  }
  ~Host() {
    bridge->detach();
    runner.stop();
    runner.wait();
  }
  QProgressBar* bar() { return part<QProgressBar>(panel, "progressBar"); }
  QString status() { return part<QLabel>(panel, "statusLine")->text(); }
  QString detail() { return part<QLabel>(panel, "detailLine")->text(); }
  bool controlsShown() {
    for (const char* name : {"progressBar", "pauseButton", "resumeButton", "stopButton"})
      if (part<QWidget>(panel, name)->isHidden()) return false;
    return true;
  }

  // Runs `work` as a job and serves its reports until it has ended.
  bool run(std::function<void(quorvel::JobContext&)> work) {
    panel->setJobRunning(true);
    if (!runner.start(std::move(work))) return false;
    const bool ended = QTest::qWaitFor([this] { return !runner.running(); }, kLongest);
    if (!ended) runner.stop();  // a job left waiting would never be joined
    runner.wait();
    panel->setJobRunning(false);
    return ended;
  }
};

struct Seen {
  QString status;
  bool paused = false;
  bool stopRequested = false;
};

}  // namespace

class JobPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void theBarShowsTheJobsRangeAndPosition_data() {
    QTest::addColumn<qint64>("low");
    QTest::addColumn<qint64>("high");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::newRow("a range an int holds") << qint64(0) << qint64(1000) << qint64(250) << 1000 << 250;
    QTest::newRow("bytes of a 6 GB image") << qint64(0) << qint64(6'000'000'000) << qint64(3'000'000'000)
                                           << 2'000'000'000 << 1'000'000'000;
    QTest::newRow("a position past the end") << qint64(0) << qint64(1000) << qint64(5000) << 1000 << 1000;
    QTest::newRow("a negative low bound") << qint64(-50) << qint64(50) << qint64(0) << 100 << 50;
    QTest::newRow("reversed") << qint64(1000) << qint64(0) << qint64(500) << 0 << 0;
  }
  void theBarShowsTheJobsRangeAndPosition() {
    QFETCH(qint64, low);
    QFETCH(qint64, high);
    QFETCH(qint64, position);
    QFETCH(int, maximum);
    QFETCH(int, value);
    Host host;
    QVERIFY(host.run([&](quorvel::JobContext& job) {
      job.setProgressRange(low, high);
      job.setProgress(position);
    }));
    QCOMPARE(host.bar()->minimum(), 0);
    QCOMPARE(host.bar()->maximum(), maximum);
    QCOMPARE(host.bar()->value(), value);
  }

  // A job's next piece of work sets its own range; the next job starts on an
  // empty bar.
  void eachRangeAndEachJobStartsTheBarAfresh() {
    Host host;
    QVERIFY(host.run([](quorvel::JobContext& job) {
      job.setProgressRange(0, 6'000'000'000);
      job.setProgress(6'000'000'000);
      job.setProgressRange(0, 100);
      job.setProgress(40);
    }));
    QCOMPARE(host.bar()->maximum(), 100);
    QCOMPARE(host.bar()->value(), 40);

    host.panel->restartProgress();
    QCOMPARE(host.bar()->maximum(), 100);
    QCOMPARE(host.bar()->value(), 0);
    QVERIFY(host.run([](quorvel::JobContext& job) { job.setProgress(70); }));
    QCOMPARE(host.bar()->value(), 70);
  }

  void theStatusAndDetailLinesShowTheJobsTexts() {
    Host host;
    QVERIFY(host.run([](quorvel::JobContext& job) {
      job.setStatus("saving File  /out/a.txt");
      job.setDetail("File size: 3 kb");
    }));
    QCOMPARE(host.status(), QString("saving File  /out/a.txt"));
    QCOMPARE(host.detail(), QString("File size: 3 kb"));
    host.panel->setStatus("Work Done.");
    QCOMPARE(host.panel->status(), QString("Work Done."));
    QCOMPARE(host.status(), QString("Work Done."));
  }

  // Each press is made while the job waits for the interface, so the job
  // sees what the press did before it goes on.
  void theButtonsActOnTheRunningJob() {
    Host host;
    host.panel->setStopText("stop pressed, wait");
    QSignalSpy stopPressed(host.panel, &JobPanel::stopPressed);
    std::vector<Seen> seen;
    QVERIFY(host.run([&](quorvel::JobContext& job) {
      for (const char* button : {"pauseButton", "pauseButton", "resumeButton", "stopButton", "resumeButton"}) {
        Seen now;
        host.bridge->run([&] {
          QVERIFY(host.controlsShown());
          press(host.panel, button);
          now.status = host.status();
        });
        now.paused = job.paused();
        now.stopRequested = job.stopRequested();
        seen.push_back(now);
      }
    }));
    QCOMPARE(seen.size(), std::size_t{5});
    const Seen want[] = {{"Pause button pressed", true, false},
                         {"Pause button pressed", true, false},
                         {"Resume button pressed", true, false},  // two pauses need two resumes
                         {"stop pressed, wait", true, true},
                         {"Resume button pressed", false, true}};
    for (std::size_t i = 0; i < seen.size(); ++i) {
      QCOMPARE(seen[i].status, want[i].status);
      QCOMPARE(seen[i].paused, want[i].paused);
      QCOMPARE(seen[i].stopRequested, want[i].stopRequested);
    }
    QCOMPARE(stopPressed.count(), 1);
  }

  // Presses while no job runs change nothing, and leave nothing behind that
  // would hold or end the next job.
  void withNoJobRunningTheButtonsDoNothing() {
    Host host;
    host.panel->setJobRunning(false);
    QVERIFY(!host.controlsShown());
    host.panel->setStatus("Select volume");
    QSignalSpy stopPressed(host.panel, &JobPanel::stopPressed);
    for (const char* button : {"pauseButton", "stopButton", "resumeButton", "pauseButton"}) press(host.panel, button);
    host.panel->stopBeforeExit();
    QCOMPARE(host.status(), QString("Select volume"));
    QCOMPARE(stopPressed.count(), 0);

    Seen next;
    QVERIFY(host.run([&](quorvel::JobContext& job) {
      next.paused = job.paused();
      if (!next.paused) next.stopRequested = !job.checkpoint();
    }));
    QVERIFY(!next.paused);
    QVERIFY(!next.stopRequested);
  }

  void endingTheProcessStopsTheRunningJob() {
    Host host;
    QSignalSpy stopPressed(host.panel, &JobPanel::stopPressed);
    bool stopped = false;
    QVERIFY(host.run([&](quorvel::JobContext& job) {
      host.bridge->run([&] { host.panel->stopBeforeExit(); });
      stopped = !job.checkpoint();
    }));
    QVERIFY(stopped);
    QCOMPARE(host.status(), QString("All thread Stopped"));
    QCOMPARE(stopPressed.count(), 0);
  }
};

QTEST_MAIN(JobPanelTest)
#include "JobPanelTest.moc"
