#pragma once
// A sector number edit with up and down arrows. It keeps the typed text as
// it is (64-bit numbers do not fit a QSpinBox); the arrows step the number
// the text starts with.
#include <QAbstractSpinBox>

class SectorEdit : public QAbstractSpinBox {
  Q_OBJECT
 public:
  explicit SectorEdit(QWidget* parent = nullptr);

  QString sectorText() const;
  void setSectorText(const QString& text);

  void stepBy(int steps) override;

 protected:
  StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
  QValidator::State validate(QString& input, int& pos) const override;
};
