// A Qt table model over a data-access dataset (dal::DataSet), for grids bound to a table.
//
// Columns are the dataset's fields. A column can be shown as a check box (stores "True" when
// ticked, "False" when cleared), as an hour:minute time (a date-time field; the editor sets a
// bare time), as one of a fixed set of values (setChoices), or as text. Editing a cell makes
// that row current (posting any pending change of the row left), puts the dataset in Edit state
// and sets the field, which fires the field's change handler; the change is posted when the
// current row changes, as a bound grid does.
// Column captions are header data set by the owner (and by the translation pass).
//
// The model observes the dataset and must be destroyed before it. Errors from the dataset
// (a refused post) propagate to the caller of setData/moveTo; the window reports them.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QMap>
#include <QSet>
#include <QStringList>

#include "dal/dataset.h"

namespace orv::app {

class DataSetModel : public QAbstractTableModel, public dal::DataSetObserver {
  Q_OBJECT
 public:
  DataSetModel(dal::DataSet& dataset, QObject* parent = nullptr);
  ~DataSetModel() override;

  dal::DataSet& dataset() const { return dataset_; }

  enum class Kind { Text, Check, Time, DateTime };
  // Column behaviour by field name (letter case ignored); unknown names are ignored.
  void setColumnKind(const QString& field, Kind kind);
  void setReadOnly(const QString& field, bool readOnly = true);
  // The values a column takes: data(kChoicesRole) gives them to the editor, and setData refuses
  // any other value. An empty cell shows the first choice (the column's default).
  void setChoices(const QString& field, const QStringList& choices);
  static constexpr int kChoicesRole = Qt::UserRole + 1;
  // "White bold on red" style highlight of a column.
  void setHighlight(const QString& field, QColor background, QColor foreground, bool bold);
  // The model column of a field, -1 when the dataset has no such field (or is closed).
  int columnOf(const QString& field) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role = Qt::EditRole) override;
  // True once a caption was set for the column (the field name shows until then).
  bool hasCaption(int section) const { return captions_.contains(section); }

  // Makes row current in the dataset (posting a pending change of the row left).
  void moveTo(int row);

  // DataSetObserver
  void dataset_changed(dal::DataSet&) override;
  void row_changed(dal::DataSet&, int row) override;
  void row_inserted(dal::DataSet&, int row) override;
  void row_removed(dal::DataSet&, int row) override;
  void current_changed(dal::DataSet&) override;

 signals:
  // The dataset's current row moved (to -1 when empty).
  void currentRowChanged(int row);

 private:
  struct Column {
    Kind kind = Kind::Text;
    bool readOnly = false;
    bool highlight = false;
    QColor background, foreground;
    bool bold = false;
    QStringList choices;
  };
  Column columnSpec(int column) const;
  QString fieldName(int column) const;

  dal::DataSet& dataset_;
  QMap<QString, Column> spec_;  // by lower-case field name
  QMap<int, QString> captions_;
};

}  // namespace orv::app
