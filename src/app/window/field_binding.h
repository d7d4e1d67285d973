// Binds a check box or a line edit to a field of the current row of a dataset, as the bound
// controls of the windows are (the working folder, "To zip", the login of the connection dialog).
//
// The control shows the field and follows the dataset. An operator's change puts the dataset in
// Edit state (or creates the row of an empty table) and sets the field; it is posted at the
// dataset's next post point, not here. A check box stores "True" when ticked and "False" when
// cleared; anything but "True" shows cleared.
//
// Errors from the dataset are passed to the report function (the standard error box) and the
// control shows the field again.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <string>

#include "dal/dataset.h"

class QAbstractButton;
class QLineEdit;

namespace orv::app {

class FieldBinding : public QObject, public dal::DataSetObserver {
  Q_OBJECT
 public:
  using ReportError = std::function<void(const std::string&)>;
  FieldBinding(dal::DataSet& dataset, std::string field, QAbstractButton* checkBox, ReportError report);
  FieldBinding(dal::DataSet& dataset, std::string field, QLineEdit* edit, ReportError report);
  ~FieldBinding() override;

  // Shows the field's current value in the control.
  void refresh();

  void dataset_changed(dal::DataSet&) override { refresh(); }
  void row_changed(dal::DataSet&, int) override { refresh(); }
  void current_changed(dal::DataSet&) override { refresh(); }

 private:
  void store(const std::string& text);
  std::string current() const;

  dal::DataSet& dataset_;
  std::string field_;
  QPointer<QAbstractButton> check_;
  QPointer<QLineEdit> edit_;
  ReportError report_;
  bool updating_ = false;
};

}  // namespace orv::app
