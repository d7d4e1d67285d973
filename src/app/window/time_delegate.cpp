#include "app/window/time_delegate.h"

#include <QTimeEdit>

namespace orv::app {

namespace {
bool isTime(const QModelIndex& index) { return index.data(Qt::EditRole).userType() == QMetaType::QTime; }
}  // namespace

QWidget* TimeDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  if (!isTime(index)) return QStyledItemDelegate::createEditor(parent, option, index);
  auto* editor = new QTimeEdit(parent);
  editor->setDisplayFormat(QStringLiteral("HH:mm"));
  editor->setFrame(false);
  return editor;
}

void TimeDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  if (auto* t = qobject_cast<QTimeEdit*>(editor)) {
    t->setTime(index.data(Qt::EditRole).toTime());
    return;
  }
  QStyledItemDelegate::setEditorData(editor, index);
}

void TimeDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
  if (auto* t = qobject_cast<QTimeEdit*>(editor)) {
    const QTime time(t->time().hour(), t->time().minute());
    if (time != index.data(Qt::EditRole).toTime()) model->setData(index, time, Qt::EditRole);
    return;
  }
  QStyledItemDelegate::setModelData(editor, model, index);
}

}  // namespace orv::app
