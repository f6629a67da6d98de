#pragma once
// The application object: sets up the shared state and keeps a second copy
// of the program from starting.
#include <QApplication>
#include <QLockFile>
#include <memory>

class WizardApp : public QApplication {
  Q_OBJECT
 public:
  WizardApp(int& argc, char** argv);

  // Takes the single-instance lock in the user's runtime folder. False when
  // another copy holds it; the user has then been told.
  bool claimSingleInstance();
  // Shows the source selection screen and runs until the process ends.
  int runWizard();

 private:
  std::unique_ptr<QLockFile> instanceLock_;
};

// What the program sets before its first screen: its names, the window icon
// every screen shows, and the shared state.
void setUpApplication(QApplication& app);

inline constexpr const char* kAnotherInstance = "Another instance of application is already running";

// The lock file that marks a running copy.
QString instanceLockPath();
// Claims `lock` for this copy. False when a live copy holds it, after
// telling the user; a lock file that cannot be made at all does not keep
// the program from starting.
bool claimInstanceLock(QLockFile& lock);
