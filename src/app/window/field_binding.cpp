#include "app/window/field_binding.h"

#include <QAbstractButton>
#include <QLineEdit>

namespace orv::app {

FieldBinding::FieldBinding(dal::DataSet& dataset, std::string field, QAbstractButton* checkBox, ReportError report)
    : QObject(checkBox), dataset_(dataset), field_(std::move(field)), check_(checkBox), report_(std::move(report)) {
  dataset_.add_observer(this);
  connect(checkBox, &QAbstractButton::toggled, this, [this](bool on) {
    if (!updating_) store(on ? "True" : "False");
  });
  refresh();
}

FieldBinding::FieldBinding(dal::DataSet& dataset, std::string field, QLineEdit* edit, ReportError report)
    : QObject(edit), dataset_(dataset), field_(std::move(field)), edit_(edit), report_(std::move(report)) {
  dataset_.add_observer(this);
  connect(edit, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (!updating_) store(text.toStdString());
  });
  refresh();
}

FieldBinding::~FieldBinding() { dataset_.remove_observer(this); }

std::string FieldBinding::current() const {
  if (!dataset_.active() || dataset_.empty()) return {};
  const dal::Field* f = const_cast<dal::DataSet&>(dataset_).find_field(field_);
  return f ? f->as_string() : std::string();
}

void FieldBinding::refresh() {
  updating_ = true;
  const std::string value = current();
  if (check_) check_->setChecked(value == "True");
  if (edit_ && edit_->text().toStdString() != value) edit_->setText(QString::fromStdString(value));
  updating_ = false;
}

void FieldBinding::store(const std::string& text) {
  try {
    if (!dataset_.active()) throw dal::DataSetError("Cannot perform this operation on a closed dataset");
    if (dataset_.state() == dal::DataSetState::Browse) dataset_.edit();
    dataset_.field(field_).set_string(text);
  } catch (const std::exception& e) {
    if (report_) report_(e.what());
    refresh();
  }
}

}  // namespace orv::app
