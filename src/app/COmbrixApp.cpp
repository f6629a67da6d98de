#include "COmbrixApp.h"

#include <QDir>
#include <QStandardPaths>

#include "DesktopServices.h"
#include "ImageOptionDialog.h"
#include "WizardState.h"

COmbrixApp::COmbrixApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("QuorvelDraxmoorv22.0");
  setApplicationDisplayName(kApplicationTitle);
  WizardState& state = wizardState();
  state.rootFolderName = "ROOT";
  state.driveFormatted = false;
  state.searchText.clear();
}

bool COmbrixApp::claimSingleInstance() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  instanceLock_ = std::make_unique<QLockFile>(QDir(folder).filePath("quorvel-draxmoor.lock"));
  // A lock left by a crashed copy is taken over; a live holder is respected.
  instanceLock_->setStaleLockTime(0);
  if (instanceLock_->tryLock(0)) return true;
  desktop().information(nullptr, kAnotherInstance);
  return false;
}

int COmbrixApp::runWizard() {
  ImageOptionDialog source;
  source.show();
  return exec();
}
