#include "ui/qt/CheckHeaderView.h"

#include <QPainter>
#include <QPixmap>
#include <QStyleOptionButton>
#include <QStyleOptionHeader>

namespace quorvel {

CheckHeaderView::CheckHeaderView(Qt::Orientation orientation, QWidget* parent) : QHeaderView(orientation, parent) {
  setSectionsClickable(true);
  connect(this, &QHeaderView::sectionClicked, this, &CheckHeaderView::toggleCheck);
}

QVariant CheckHeaderView::checkState(int logicalIndex) const {
  return model() ? model()->headerData(logicalIndex, orientation(), Qt::CheckStateRole) : QVariant();
}

void CheckHeaderView::toggleCheck(int logicalIndex) {
  const QVariant state = checkState(logicalIndex);
  if (!state.isValid()) return;
  const Qt::CheckState next = state.toInt() == Qt::Checked ? Qt::Unchecked : Qt::Checked;
  model()->setHeaderData(logicalIndex, orientation(), static_cast<int>(next), Qt::CheckStateRole);
}

// The box goes where the section's icon would, so the label makes room for it.
void CheckHeaderView::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const {
  QHeaderView::initStyleOptionForIndex(option, logicalIndex);
  const QVariant state = checkState(logicalIndex);
  if (!state.isValid()) return;
  option->icon = QIcon(checkBoxPicture(state.toInt() == Qt::Checked));
  option->iconAlignment = Qt::AlignLeft | Qt::AlignVCenter;
}

QSize CheckHeaderView::sectionSizeFromContents(int logicalIndex) const {
  QSize size = QHeaderView::sectionSizeFromContents(logicalIndex);
  if (checkState(logicalIndex).isValid()) {
    size.rwidth() += style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this) + 4;
  }
  return size;
}

QPixmap CheckHeaderView::checkBoxPicture(bool checked) const {
  const int width = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
  const int height = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
  const qreal ratio = devicePixelRatioF();
  QPixmap picture(QSize(width, height) * ratio);
  picture.setDevicePixelRatio(ratio);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  QStyleOptionButton box;
  box.initFrom(this);
  box.rect = QRect(0, 0, width, height);
  box.state = (box.state & QStyle::State_Enabled) | (checked ? QStyle::State_On : QStyle::State_Off);
  style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, &painter, this);
  return picture;
}

}  // namespace quorvel
