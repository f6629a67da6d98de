#include "SectorEdit.h"

#include <QLineEdit>

#include "logic/VolumeListRules.h"

SectorEdit::SectorEdit(QWidget* parent) : QAbstractSpinBox(parent) {
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
}

QString SectorEdit::sectorText() const { return lineEdit()->text(); }

void SectorEdit::setSectorText(const QString& text) { lineEdit()->setText(text); }

void SectorEdit::stepBy(int steps) {
  setSectorText(QString::fromStdString(wizard::stepSector(sectorText().toStdString(), steps)));
}

QValidator::State SectorEdit::validate(QString& input, int&) const {
  for (const QChar c : input)
    if (c < u'0' || c > u'9') return QValidator::Invalid;
  return QValidator::Acceptable;
}
