#include "WizardScreen.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include "CQuorvelAboutDlg.h"
#include "DesktopServices.h"
#include "WizardState.h"

namespace {
constexpr const char* kCloseQuestion = "Do you want to Close Application ?";
constexpr const char* kLinkCaption = "Explore more database products";
}  // namespace

WizardScreen::WizardScreen(quorvel::OpenImage& image, QWidget* parent) : QDialog(parent), image_(image) {
  // A screen is its own window even with a parent: the chain hides and
  // shows them one at a time.
  setWindowFlag(Qt::Window, true);
  setAttribute(Qt::WA_DeleteOnClose, false);
}

void WizardScreen::openNext(WizardScreen* next) {
  if (!next) return;
  next->show();
  hide();
}

void WizardScreen::goBack() {
  if (auto* parentScreen = qobject_cast<QWidget*>(parent())) parentScreen->show();
  hide();
  deleteLater();
}

void WizardScreen::setUpHelp(QToolButton* helpButton, QLabel* link) {
  if (helpButton) {
    auto* menu = new QMenu(helpButton);
    menu->addAction("Help", this, [] { desktop().openPage(userGuidePage()); });
    menu->addAction("About", this, [this] {
      CQuorvelAboutDlg about(this);
      about.exec();
    });
    menu->addAction("Software Webpage", this, [] { desktop().openPage(productPage()); });
    helpButton->setMenu(menu);
    helpButton->setPopupMode(QToolButton::InstantPopup);
  }
  if (link) {
    link->setText(QString("<a href=\"%1\">%2</a>").arg(productPage().toString(), kLinkCaption));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(false);
    connect(link, &QLabel::linkActivated, this, [](const QString& page) { desktop().openPage(QUrl(page)); });
  }
}

void WizardScreen::showEvent(QShowEvent* event) {
  setWindowTitle(kApplicationTitle);
  // A dialog's push buttons take Enter by default; on these screens it does nothing.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  QDialog::showEvent(event);
}

void WizardScreen::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();  // neither presses a button nor closes the screen
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void WizardScreen::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (!desktop().question(this, kCloseQuestion)) return;
  beforeProcessEnds();
  desktop().endProcess(0);
}
