#pragma once
// A header that draws a check box in every section whose header data has a
// Qt::CheckStateRole value, and flips it through setHeaderData on a click.
#include <QHeaderView>

namespace quorvel {

class CheckHeaderView : public QHeaderView {
  Q_OBJECT
 public:
  explicit CheckHeaderView(Qt::Orientation orientation = Qt::Horizontal, QWidget* parent = nullptr);

 protected:
  void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;
  QSize sectionSizeFromContents(int logicalIndex) const override;

 private:
  QVariant checkState(int logicalIndex) const;
  void toggleCheck(int logicalIndex);
  QPixmap checkBoxPicture(bool checked) const;
};

}  // namespace quorvel
