#include "app/window/translate_form.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QTableView>

#include <functional>

#include "app/window/banded_grid.h"

namespace orv::app {

namespace {

bool isDesignComponent(const QObject* o) {
  const QString name = o->objectName();
  return !name.isEmpty() && !name.startsWith(QLatin1String("qt_"));
}

// Calls visit(current text, setter) for every caption of the window, in pass order.
using Visit = std::function<void(const QString&, const std::function<void(const QString&)>&)>;

void visitHeaders(QTableView* view, const QVector<int>& columns, const Visit& visit) {
  QAbstractItemModel* m = view->model();
  if (!m) return;
  for (int c : columns) {
    visit(m->headerData(c, Qt::Horizontal).toString(),
          [m, c](const QString& t) { m->setHeaderData(c, Qt::Horizontal, t); });
  }
}

void visitCaptions(QWidget* window, const Visit& visit) {
  visit(window->windowTitle(), [window](const QString& t) { window->setWindowTitle(t); });
  for (QObject* o : window->findChildren<QObject*>()) {
    if (!isDesignComponent(o)) continue;
    if (auto* grid = qobject_cast<BandedGrid*>(o)) {
      visitHeaders(grid->view(), grid->shownColumns(), visit);
      for (int b = 0; b < grid->bandCount(); ++b)
        visit(grid->bandCaption(b), [grid, b](const QString& t) { grid->setBandCaption(b, t); });
    } else if (auto* table = qobject_cast<QTableView*>(o)) {
      QVector<int> shown;
      if (table->model())
        for (int c = 0; c < table->model()->columnCount(); ++c)
          if (!table->isColumnHidden(c)) shown << c;
      visitHeaders(table, shown, visit);
    } else if (auto* label = qobject_cast<QLabel*>(o)) {
      visit(label->text(), [label](const QString& t) { label->setText(t); });
    } else if (auto* button = qobject_cast<QAbstractButton*>(o)) {
      visit(button->text(), [button](const QString& t) { button->setText(t); });
    } else if (auto* action = qobject_cast<QAction*>(o)) {
      if (action->isSeparator()) continue;
      visit(action->text(), [action](const QString& t) { action->setText(t); });
    }
  }
}

}  // namespace

void TranslateForm(QWidget* window, i18n::LanguageTable& table, i18n::MessageStrings& strings) {
  i18n::load_message_strings(table, strings);
  visitCaptions(window, [&table](const QString& current, const std::function<void(const QString&)>& set) {
    set(QString::fromStdString(i18n::TranslateText(table, current.toStdString())));
  });
}

QStringList captionKeys(QWidget* window) {
  QStringList keys;
  visitCaptions(window, [&keys](const QString& current, const std::function<void(const QString&)>&) { keys << current; });
  return keys;
}

}  // namespace orv::app
