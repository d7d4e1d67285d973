#include "app/window/choice_delegate.h"

#include <QComboBox>

#include <algorithm>

#include "app/window/dataset_model.h"

namespace orv::app {

namespace {
QStringList choicesOf(const QModelIndex& index) { return index.data(DataSetModel::kChoicesRole).toStringList(); }
}  // namespace

QWidget* ChoiceDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QStringList choices = choicesOf(index);
  if (choices.isEmpty()) return QStyledItemDelegate::createEditor(parent, option, index);
  auto* editor = new QComboBox(parent);
  editor->addItems(choices);
  editor->setFrame(false);
  return editor;
}

void ChoiceDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  if (auto* box = qobject_cast<QComboBox*>(editor)) {
    box->setCurrentIndex(std::max(0, box->findText(index.data(Qt::EditRole).toString())));
    return;
  }
  QStyledItemDelegate::setEditorData(editor, index);
}

void ChoiceDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
  if (auto* box = qobject_cast<QComboBox*>(editor)) {
    if (box->currentText() != index.data(Qt::EditRole).toString()) model->setData(index, box->currentText(), Qt::EditRole);
    return;
  }
  QStyledItemDelegate::setModelData(editor, model, index);
}

}  // namespace orv::app
