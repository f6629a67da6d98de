#pragma once
#include <memory>

#include "WizardScreen.h"
#include "fs/FileSystemParser.h"
#include "logic/AdvancedInputRules.h"
#include "session/JobRunner.h"
#include "volumes/VolumeRecord.h"

namespace Ui {
class AdvancedInputScreen;
}
namespace quorvel {
class ScanSession;
}
class GuiJobBridge;

// The advanced-input screen: searches a damaged volume on a worker for the
// structures its scan can start from (MFT records, FAT copies, heap starts),
// offers them with the cluster sizes, and hands the user's choices to the
// scan screen, which scans with the session this screen began on the image.
class AdvancedInputScreen : public WizardScreen {
  Q_OBJECT
 public:
  // For the image's chosen volume. `maxFileSystems`: how many candidates to
  // look for (3 when below 1).
  AdvancedInputScreen(quorvel::OpenImage& image, int maxFileSystems, QWidget* parent);
  ~AdvancedInputScreen() override;

  const quorvel::VolumeRecord& volume() const { return volume_; }
  bool searching() const { return searching_; }

 signals:
  // The search has ended and its lists are filled.
  void searchFinished();

 protected:
  void beforeProcessEnds() override;

 private:
  void startSearch();
  void finishSearch(const quorvel::CandidateLists& lists);
  void showSearchRunning(bool running);
  void back();
  void next();

  std::unique_ptr<Ui::AdvancedInputScreen> ui_;
  quorvel::VolumeRecord volume_;
  int maxCount_;
  std::shared_ptr<quorvel::ScanSession> session_;
  quorvel::CandidateLists lists_;
  bool searching_ = false;
  bool stopped_ = false;  // Stop was pressed during the search
  GuiJobBridge* bridge_;
  quorvel::JobRunner runner_;
};
