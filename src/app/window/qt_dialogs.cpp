#include "app/window/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "app/window/form_database_yolu.h"

namespace orv::app {

ui::Answer QtDialogs::show_box(const ui::Box& box) {
  QMessageBox m(parent_);
  m.setWindowTitle(QString::fromStdString(box.caption.empty() ? std::string(kApplicationTitle) : box.caption));
  m.setText(QString::fromStdString(box.text));
  switch (box.kind) {
    case ui::BoxKind::Plain: m.setIcon(QMessageBox::NoIcon); break;
    case ui::BoxKind::Information: m.setIcon(QMessageBox::Information); break;
    case ui::BoxKind::Warning: m.setIcon(QMessageBox::Warning); break;
    case ui::BoxKind::Error: m.setIcon(QMessageBox::Critical); break;
    case ui::BoxKind::Question: m.setIcon(QMessageBox::Question); break;
  }
  switch (box.buttons) {
    case ui::Buttons::Ok: m.setStandardButtons(QMessageBox::Ok); break;
    case ui::Buttons::OkCancel: m.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case ui::Buttons::YesNo: m.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
  }
  switch (m.exec()) {
    case QMessageBox::Yes: return ui::Answer::Yes;
    case QMessageBox::No: return ui::Answer::No;
    case QMessageBox::Cancel: return ui::Answer::Cancel;
    default: return box.buttons == ui::Buttons::YesNo ? ui::Answer::No : ui::Answer::Ok;
  }
}

QString qtNameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    out << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return out.join(QStringLiteral(";;"));
}

std::optional<std::string> QtDialogs::open_file(const ui::FileRequest& request) {
  QFileDialog d(parent_, QString::fromStdString(request.title));
  d.setFileMode(QFileDialog::ExistingFile);
  d.setAcceptMode(QFileDialog::AcceptOpen);
  if (!request.filter.empty()) d.setNameFilter(qtNameFilters(request.filter));
  QString ext = QString::fromStdString(request.default_extension);
  ext.remove(QLatin1Char('*')).remove(QLatin1Char('.'));
  if (!ext.isEmpty()) d.setDefaultSuffix(ext);
  if (!request.initial_file.empty()) {
    const QFileInfo fi(QString::fromStdString(request.initial_file));
    d.setDirectory(fi.absolutePath());
    d.selectFile(fi.fileName());
  }
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return std::nullopt;
  return d.selectedFiles().first().toStdString();
}

std::optional<std::string> QtDialogs::choose_folder() {
  TFormDatabaseYolu dialog(parent_, translate_);
  if (dialog.exec() != TFormDatabaseYolu::kResultOk) return std::nullopt;
  const QString path = dialog.selectedPath();
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

void QtDialogs::beep() { QApplication::beep(); }

void QtDialogs::repaint() { QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest); }

void QtDialogs::process_events() { QCoreApplication::processEvents(); }

}  // namespace orv::app
