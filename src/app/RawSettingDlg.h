#pragma once
// The setting screen: one signature setting typed in, appended to a
// settings file the user chose.
#include <QDialog>
#include <QString>
#include <memory>

#include "raw/SignatureRecord.h"

namespace Ui {
class RawSettingDlg;
}
class QToolButton;

class RawSettingDlg : public QDialog {
  Q_OBJECT
 public:
  explicit RawSettingDlg(QWidget* parent = nullptr);
  ~RawSettingDlg() override;

  // The file records are appended to; empty until one was chosen.
  const QString& settingsPath() const { return settingsPath_; }
  // What the fields hold, as typed.
  quorvel::raw::SignatureForm form() const;

 private:
  void chooseFile();
  void saveRecord();
  void showHelp(QToolButton* button, const QString& text);

  std::unique_ptr<Ui::RawSettingDlg> ui_;
  QString settingsPath_;
};
