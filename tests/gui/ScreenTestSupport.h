#pragma once
// What the wizard screen tests share: a recording desktop installed for each
// test, fresh process-wide state, fixture paths, and finding the screen a
// press has opened. A test holds the wizard's image (quorvel::OpenImage)
// itself, declared before the screens so that it outlives them.
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QString>
#include <QWidget>
#include <memory>

#include "RecordingDesktop.h"
#include "WizardState.h"
#include "session/OpenImage.h"
#include "support/TestSupport.h"

namespace screentest {

inline QString fixture(const char* name) {
  return QString::fromStdString((quorvel::test::fixtureDir() / name).string());
}

// Installs a recording desktop for one test and puts the process-wide state
// back to how the program starts.
class TestDesktop {
 public:
  TestDesktop() {
    auto recording = std::make_unique<RecordingDesktop>();
    desktop_ = recording.get();
    previous_ = replaceDesktopServices(std::move(recording));
    wizardState() = WizardState();
  }
  ~TestDesktop() { replaceDesktopServices(std::move(previous_)); }
  RecordingDesktop* operator->() { return desktop_; }
  RecordingDesktop& operator*() { return *desktop_; }

 private:
  RecordingDesktop* desktop_;
  std::unique_ptr<DesktopServices> previous_;
};

// Runs the deletions that Back asked for.
inline void settle() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

// The screen `parent` has opened and shows, if any.
template <class Screen>
Screen* shownChild(QWidget* parent) {
  for (Screen* child : parent->findChildren<Screen*>(Qt::FindDirectChildrenOnly))
    if (child->isVisible()) return child;
  return nullptr;
}

template <class Widget>
Widget* part(QWidget* screen, const char* name) {
  return screen->findChild<Widget*>(name);
}

inline void press(QWidget* screen, const char* button) { part<QAbstractButton>(screen, button)->click(); }

}  // namespace screentest
