#pragma once
#include <QDialog>
#include <memory>

namespace Ui {
class CQuorvelAboutDlg;
}

// The about box of the Help menu: modal, closed with OK.
class CQuorvelAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CQuorvelAboutDlg(QWidget* parent = nullptr);
  ~CQuorvelAboutDlg() override;

 private:
  std::unique_ptr<Ui::CQuorvelAboutDlg> ui_;
};
