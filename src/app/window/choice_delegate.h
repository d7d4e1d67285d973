// The grid's editor for columns with a fixed set of values (DataSetModel::setChoices): a drop-down
// list of those values; the default editors for other cells.
#pragma once

#include <QStyledItemDelegate>

namespace orv::app {

class ChoiceDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};

}  // namespace orv::app
