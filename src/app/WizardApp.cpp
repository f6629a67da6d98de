#include "WizardApp.h"

#include <QDir>
#include <QStandardPaths>

#include "ApplicationIcon.h"
#include "DesktopServices.h"
#include "ImageOptionDialog.h"
#include "WizardState.h"
#include "session/OpenImage.h"

WizardApp::WizardApp(int& argc, char** argv) : QApplication(argc, argv) { setUpApplication(*this); }

void setUpApplication(QApplication& app) {
  app.setApplicationName("QuorvelDraxmoorv22.0");
  app.setApplicationDisplayName(kApplicationTitle);
  app.setWindowIcon(applicationIcon());
  WizardState& state = wizardState();
  state.rootFolderName = "ROOT";
  state.driveFormatted = false;
  state.searchText.clear();
}

QString instanceLockPath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return QDir(folder).filePath("quorvel-draxmoor.lock");
}

bool claimInstanceLock(QLockFile& lock) {
  // A lock left by a crashed copy is taken over; a live holder is respected.
  lock.setStaleLockTime(0);
  if (lock.tryLock(0)) return true;
  if (lock.error() != QLockFile::LockFailedError) return true;
  desktop().information(nullptr, kAnotherInstance);
  return false;
}

bool WizardApp::claimSingleInstance() {
  instanceLock_ = std::make_unique<QLockFile>(instanceLockPath());
  return claimInstanceLock(*instanceLock_);
}

int WizardApp::runWizard() {
  quorvel::OpenImage image;  // outlives every screen, which all read it
  ImageOptionDialog source(image);
  source.show();
  return exec();
}
