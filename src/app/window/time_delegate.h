// The grid's editors: an hour:minute editor for time columns (cells whose edit value is a
// QTime); the default editors otherwise.
#pragma once

#include <QStyledItemDelegate>

namespace orv::app {

class TimeDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};

}  // namespace orv::app
