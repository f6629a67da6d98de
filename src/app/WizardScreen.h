#pragma once
// What every screen of the wizard shares: the image the user works on, the
// application title, the close confirmation, Enter and Esc swallowed, the
// Help menu and the link, and moving to the next screen or back to the one
// that opened it.
#include <QDialog>

class QAbstractButton;
class QLabel;
class QToolButton;
namespace quorvel {
class OpenImage;
}

class WizardScreen : public QDialog {
  Q_OBJECT
 public:
  // Who opened a screen, for screens whose input depends on it.
  enum class Opener { None = 0, SourceSelection = 146, VolumeList = 134, VolumeInformation = 135 };

  // `image` is the wizard's one image; it outlives every screen, and each
  // screen hands it to the screens it opens.
  explicit WizardScreen(quorvel::OpenImage& image, QWidget* parent = nullptr);

  quorvel::OpenImage& image() const { return image_; }

  Opener opener() const { return opener_; }
  void setOpener(Opener opener) { opener_ = opener; }

  // Shows `next` (a fresh screen whose parent is this one) and hides this.
  void openNext(WizardScreen* next);
  // Shows the parent again and destroys this screen.
  void goBack();

 protected:
  // Gives the "Help" menu button its menu and the label its link.
  void setUpHelp(QToolButton* helpButton, QLabel* link);
  // Called before the process ends through the close confirmation.
  virtual void beforeProcessEnds() {}

  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override {}  // Esc must not close a screen

 private:
  quorvel::OpenImage& image_;
  Opener opener_ = Opener::None;
};
