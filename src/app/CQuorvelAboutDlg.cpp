#include "CQuorvelAboutDlg.h"

#include "WizardState.h"
#include "ui_CQuorvelAboutDlg.h"

CQuorvelAboutDlg::CQuorvelAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CQuorvelAboutDlg>()) {
  ui_->setupUi(this);
  setWindowTitle(kApplicationTitle);
}

CQuorvelAboutDlg::~CQuorvelAboutDlg() = default;
