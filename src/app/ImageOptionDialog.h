#pragma once
#include <QMainWindow>
#include <memory>

namespace Ui {
class ImageOptionDialog;
}

// The source selection screen: the wizard's main window.
class ImageOptionDialog : public QMainWindow {
  Q_OBJECT
 public:
  explicit ImageOptionDialog(QWidget* parent = nullptr);
  ~ImageOptionDialog() override;

 private:
  std::unique_ptr<Ui::ImageOptionDialog> ui_;
};
