#include "app/window/form_database_yolu.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

TFormDatabaseYolu::TFormDatabaseYolu(QWidget* parent, std::function<void(QWidget*)> translate)
    : QDialog(parent), translate_(std::move(translate)) {
  setObjectName(QStringLiteral("FormDatabaseYolu"));
  setWindowTitle(QStringLiteral("PATH"));
  resize(420, 460);

  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
  model_->setReadOnly(false);  // rename in place, drag and drop
  model_->setRootPath(QStringLiteral("/"));

  ShellTreeView1 = new QTreeView(this);
  ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
  ShellTreeView1->setModel(model_);
  for (int c = 1; c < model_->columnCount(); ++c) ShellTreeView1->hideColumn(c);
  ShellTreeView1->header()->hide();
  ShellTreeView1->setRootIndex(QModelIndex());  // show "/" itself as the top item
  ShellTreeView1->setDragDropMode(QAbstractItemView::DragDrop);
  ShellTreeView1->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  ShellTreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ShellTreeView1, &QWidget::customContextMenuRequested, this, &TFormDatabaseYolu::contextMenu);
  ShellTreeView1->setCurrentIndex(model_->index(QDir::homePath()));
  ShellTreeView1->scrollTo(ShellTreeView1->currentIndex());

  BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn2 = new QPushButton(QStringLiteral("CANCEL"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  connect(BitBtn1, &QPushButton::clicked, this, [this] { done(kResultOk); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { done(kResultCancel); });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ShellTreeView1);
  layout->addLayout(buttons);
}

QString TFormDatabaseYolu::selectedPath() const {
  const QModelIndex i = ShellTreeView1->currentIndex();
  return i.isValid() ? model_->filePath(i) : QString();
}

void TFormDatabaseYolu::selectPath(const QString& path) {
  const QModelIndex i = model_->index(path);
  ShellTreeView1->setCurrentIndex(i);
  ShellTreeView1->scrollTo(i);
}

void TFormDatabaseYolu::showEvent(QShowEvent* event) {
  if (translate_) translate_(this);
  QDialog::showEvent(event);
}

void TFormDatabaseYolu::contextMenu(const QPoint& at) {
  const QModelIndex index = ShellTreeView1->indexAt(at);
  if (!index.isValid()) return;
  QMenu menu(this);
  QAction* newFolder = menu.addAction(tr("New folder"));
  QAction* rename = menu.addAction(tr("Rename"));
  QAction* chosen = menu.exec(ShellTreeView1->viewport()->mapToGlobal(at));
  if (chosen == rename) {
    ShellTreeView1->edit(index);
  } else if (chosen == newFolder) {
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("New folder"), tr("Name:"), QLineEdit::Normal, QString(), &ok);
    if (ok && !name.isEmpty()) {
      const QModelIndex made = model_->mkdir(index, name);
      if (made.isValid()) ShellTreeView1->setCurrentIndex(made);
    }
  }
}
