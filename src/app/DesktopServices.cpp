#include "DesktopServices.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdlib>

#include "ShippedFiles.h"
#include "WizardState.h"

namespace {

class SystemDesktop : public DesktopServices {
 public:
  void information(QWidget* parent, const QString& text) override {
    QMessageBox::information(parent, kApplicationTitle, text);
  }
  void plainMessage(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box.exec();
  }
  bool question(QWidget* parent, const QString& text) override {
    return QMessageBox::question(parent, kApplicationTitle, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  }
  QString openFileName(QWidget* parent, const QString& caption, const QString& filter) override {
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
  }
  QString appendFileName(QWidget* parent, const QString& caption, const QString& filter) override {
    const std::unique_ptr<QFileDialog> dialog = appendFileDialog(parent, caption, filter);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
  }
  QString existingFolder(QWidget* parent, const QString& caption) override {
    return QFileDialog::getExistingDirectory(parent, caption);
  }
  void openPage(const QUrl& page) override { QDesktopServices::openUrl(page); }
  void endProcess(int exitCode) override { std::_Exit(exitCode); }
};

std::unique_ptr<DesktopServices>& installed() {
  static std::unique_ptr<DesktopServices> services = std::make_unique<SystemDesktop>();
  return services;
}

QUrl shippedPage(const QString& name) {
  return QUrl::fromLocalFile(shippedFile("quorvel/help/" + name, "help/" + name));
}

}  // namespace

DesktopServices& desktop() { return *installed(); }

// A save dialog names new files; not confirming overwrites lets it pick an
// existing one too, which is then added to, not replaced.
std::unique_ptr<QFileDialog> appendFileDialog(QWidget* parent, const QString& caption, const QString& filter) {
  auto dialog = std::make_unique<QFileDialog>(parent, caption, QString(), filter);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::DontConfirmOverwrite);
  return dialog;
}

std::unique_ptr<DesktopServices> replaceDesktopServices(std::unique_ptr<DesktopServices> services) {
  std::unique_ptr<DesktopServices> previous = std::move(installed());
  installed() = std::move(services);
  return previous;
}

QUrl userGuidePage() { return shippedPage("user-guide.html"); }
QUrl productPage() { return shippedPage("products.html"); }
