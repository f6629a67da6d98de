#pragma once
// Everything a screen does to the world outside its own window: message
// boxes, file dialogs, web pages, ending the process. Tests replace it so
// that no modal box blocks them and nothing leaves the test.
#include <QString>
#include <QUrl>
#include <memory>

class QFileDialog;
class QWidget;

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;

  // An information box captioned with the application title.
  virtual void information(QWidget* parent, const QString& text) = 0;
  // A plain box with no caption of its own and an OK button.
  virtual void plainMessage(QWidget* parent, const QString& text) = 0;
  // A Yes/No question captioned with the application title; true for Yes.
  virtual bool question(QWidget* parent, const QString& text) = 0;

  // Empty when the user cancels.
  virtual QString openFileName(QWidget* parent, const QString& caption, const QString& filter) = 0;
  // An existing file or a new name, for a file that is added to: nothing
  // asks whether to replace it.
  virtual QString appendFileName(QWidget* parent, const QString& caption, const QString& filter) = 0;
  virtual QString existingFolder(QWidget* parent, const QString& caption) = 0;

  // Opens a page with the desktop's default handler.
  virtual void openPage(const QUrl& page) = 0;
  // Ends the process at once (the close confirmation's Yes).
  virtual void endProcess(int exitCode) = 0;
};

DesktopServices& desktop();
// The dialog appendFileName shows.
std::unique_ptr<QFileDialog> appendFileDialog(QWidget* parent, const QString& caption, const QString& filter);
// Installs another implementation (tests); returns the one it replaces.
std::unique_ptr<DesktopServices> replaceDesktopServices(std::unique_ptr<DesktopServices> services);

// The pages the program ships: the user guide, and the product page that
// "Software Webpage" and the link open.
QUrl userGuidePage();
QUrl productPage();
