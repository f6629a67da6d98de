#include "RawSettingDlg.h"

#include <QToolTip>
#include <fcntl.h>
#include <unistd.h>

#include "DesktopServices.h"
#include "raw/SettingsFile.h"
#include "ui_RawSettingDlg.h"

namespace {

constexpr const char* kExtensionHelp =
    "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)";
constexpr const char* kExtensionHelpClicked =
    "here enter the file extentiom .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)";
constexpr const char* kStartHelp =
    "here enter the file signature that happens to be in the starting of the file.\n example 0x89,0x50,0x4E,0x47  for png File";
constexpr const char* kEndHelp =
    "here enter the file signature that happens to be in the end of the file.\n Example "
    "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 for png File.\n its optional Field .you can leave it if you dont know .";
constexpr const char* kSizeOffsetHelp =
    "if  the size of file is given in the header and you know its offset please enter that offset here.\n its optional "
    "Field .you can leave it if you don't know.";
constexpr const char* kSizeBytesHelp =
    "if  you know how many bytes represents size please enter that number of bytes  here.\n its optional Field .you can "
    "leave it ifyou  don't know.";
constexpr const char* kIncludesHeaderHelp =
    "check this checkbox if the size alkso includes the header size else leave it.\n its optional Field .you can leave it "
    "if you don't know.";
constexpr const char* kHeaderSizeHelp =
    "please enter the header size in bytes here.\n its optional Field .you can leave it if you don't know.";
constexpr const char* kSkipHelp =
    "when we find the file signature you mentioned  above we can skip further file scanning by an amount you enter "
    "here.\n For example mp3 are generally greater then 2 mb .so you can enter 2097152 bytes here.\n its optional Field "
    ".you can leave it .";
constexpr const char* kApproxHelp =
    "please enter approx file size here.\n its optional Field .you can leave it if you don't know.";
constexpr const char* kCategoryHelp = "here enter the name of category you want to put these files under";

std::string text(const QLineEdit* edit) { return edit->text().toStdString(); }

}  // namespace

RawSettingDlg::RawSettingDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::RawSettingDlg>()) {
  ui_->setupUi(this);
  const std::pair<QToolButton*, const char*> helps[] = {
      {ui_->extensionHelp, kExtensionHelp},   {ui_->startSignatureHelp, kStartHelp},
      {ui_->endSignatureHelp, kEndHelp},      {ui_->sizeOffsetHelp, kSizeOffsetHelp},
      {ui_->sizeBytesHelp, kSizeBytesHelp},   {ui_->includesHeaderHelp, kIncludesHeaderHelp},
      {ui_->headerSizeHelp, kHeaderSizeHelp}, {ui_->skipSizeHelp, kSkipHelp},
      {ui_->approxSizeHelp, kApproxHelp},     {ui_->categoryHelp, kCategoryHelp},
  };
  for (const auto& [button, help] : helps) {
    button->setToolTip(help);
    const QString clicked = button == ui_->extensionHelp ? kExtensionHelpClicked : help;
    connect(button, &QToolButton::clicked, this, [this, button, clicked] { showHelp(button, clicked); });
  }
  connect(ui_->browseButton, &QPushButton::clicked, this, &RawSettingDlg::chooseFile);
  connect(ui_->saveButton, &QPushButton::clicked, this, &RawSettingDlg::saveRecord);
  connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

RawSettingDlg::~RawSettingDlg() = default;

void RawSettingDlg::showHelp(QToolButton* button, const QString& text) {
  button->setToolTip(text);
  QToolTip::showText(button->mapToGlobal(button->rect().bottomLeft()), text, button);
}

// An existing file is kept and appended to; a missing one is created.
void RawSettingDlg::chooseFile() {
  const QString path = desktop().appendFileName(this, "Select settings file", "All files (*)");
  if (path.isEmpty()) return;
  const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    desktop().information(this, quorvel::raw::kCannotCreateFile);
    return;
  }
  ::close(fd);
  settingsPath_ = path;
  ui_->pathEdit->setText(path);
}

quorvel::raw::SignatureForm RawSettingDlg::form() const {
  quorvel::raw::SignatureForm f;
  f.extension = text(ui_->extensionEdit);
  f.startSignature = text(ui_->startSignatureEdit);
  f.endSignature = text(ui_->endSignatureEdit);
  f.sizeFieldOffset = text(ui_->sizeOffsetEdit);
  f.sizeFieldBytes = text(ui_->sizeBytesEdit);
  f.sizeIncludesHeader = ui_->includesHeaderCheck->isChecked();
  f.headerSize = text(ui_->headerSizeEdit);
  f.skipSize = text(ui_->skipSizeEdit);
  f.approximateSize = text(ui_->approxSizeEdit);
  f.category = text(ui_->categoryEdit);
  return f;
}

void RawSettingDlg::saveRecord() {
  if (settingsPath_.isEmpty()) return;
  const std::string message = quorvel::raw::appendToSettingsFile(settingsPath_.toStdString(), form());
  desktop().information(this, QString::fromStdString(message));
}
