#include "app/window/dataset_model.h"

#include <QFont>
#include <QTime>

#include "dal/datetime.h"

namespace orv::app {

DataSetModel::DataSetModel(dal::DataSet& dataset, QObject* parent) : QAbstractTableModel(parent), dataset_(dataset) {
  dataset_.add_observer(this);
}

DataSetModel::~DataSetModel() { dataset_.remove_observer(this); }

void DataSetModel::setColumnKind(const QString& field, Kind kind) { spec_[field.toLower()].kind = kind; }

void DataSetModel::setReadOnly(const QString& field, bool readOnly) { spec_[field.toLower()].readOnly = readOnly; }

void DataSetModel::setChoices(const QString& field, const QStringList& choices) {
  spec_[field.toLower()].choices = choices;
}

void DataSetModel::setHighlight(const QString& field, QColor background, QColor foreground, bool bold) {
  Column& c = spec_[field.toLower()];
  c.highlight = true;
  c.background = background;
  c.foreground = foreground;
  c.bold = bold;
}

QString DataSetModel::fieldName(int column) const {
  if (!dataset_.active() || column < 0 || column >= dataset_.field_count()) return {};
  return QString::fromStdString(dataset_.field(column).name());
}

int DataSetModel::columnOf(const QString& field) const {
  if (!dataset_.active()) return -1;
  const dal::Field* f = dataset_.find_field(field.toStdString());
  return f ? f->index() : -1;
}

DataSetModel::Column DataSetModel::columnSpec(int column) const {
  return spec_.value(fieldName(column).toLower());
}

int DataSetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !dataset_.active() ? 0 : dataset_.record_count();
}

int DataSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || !dataset_.active() ? 0 : dataset_.field_count();
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const Column spec = columnSpec(index.column());
  const dal::Value& v = dataset_.value_at(index.row(), index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
      if (spec.kind == Kind::Check) return {};
      if (spec.kind == Kind::Time) {
        if (std::holds_alternative<std::monostate>(v)) return role == Qt::EditRole ? QVariant(QTime(0, 0)) : QVariant();
        dal::DateTime t{};
        if (const auto* d = std::get_if<dal::DateTime>(&v)) t = *d;
        else if (const auto* r = std::get_if<double>(&v)) t = dal::DateTime{*r};
        else return QString::fromStdString(dataset_.text_at(index.row(), index.column()));
        if (role == Qt::EditRole) return QTime(dal::hour_of(t), dal::minute_of(t));
        return QString::fromStdString(dal::format_hh_mm(t));
      }
      const QString text = QString::fromStdString(dataset_.text_at(index.row(), index.column()));
      if (text.isEmpty() && !spec.choices.isEmpty()) return spec.choices.front();
      return text;
    }
    case kChoicesRole:
      return spec.choices;
    case Qt::CheckStateRole:
      if (spec.kind != Kind::Check) return {};
      return dataset_.text_at(index.row(), index.column()) == "True" ? Qt::Checked : Qt::Unchecked;
    case Qt::BackgroundRole:
      return spec.highlight ? QVariant(spec.background) : QVariant();
    case Qt::ForegroundRole:
      return spec.highlight ? QVariant(spec.foreground) : QVariant();
    case Qt::FontRole:
      if (spec.highlight && spec.bold) {
        QFont f;
        f.setBold(true);
        return f;
      }
      return {};
    case Qt::TextAlignmentRole:
      return spec.kind == Kind::Time ? QVariant(int(Qt::AlignCenter)) : QVariant();
    default:
      return {};
  }
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const Column spec = columnSpec(index.column());
  const bool writable = !spec.readOnly && dataset_.can_modify() && !dataset_.field(index.column()).read_only();
  if (!writable) return f;
  if (spec.kind == Kind::Check) return f | Qt::ItemIsUserCheckable;
  return f | Qt::ItemIsEditable;
}

void DataSetModel::moveTo(int row) {
  if (!dataset_.active() || row < 0 || row >= dataset_.record_count()) return;
  if (dataset_.current_index() != row) dataset_.move_to(row);
}

bool DataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || !(flags(index) & (Qt::ItemIsEditable | Qt::ItemIsUserCheckable))) return false;
  const Column spec = columnSpec(index.column());
  moveTo(index.row());
  auto begin_edit = [this] {
    if (dataset_.state() == dal::DataSetState::Browse) dataset_.edit();
  };
  dal::Field& field = dataset_.field(index.column());
  if (spec.kind == Kind::Check) {
    if (role != Qt::CheckStateRole) return false;
    const bool ticked = value.toInt() == Qt::Checked;
    begin_edit();
    field.set_string(ticked ? "True" : "False");
    return true;
  }
  if (role != Qt::EditRole) return false;
  if (spec.kind == Kind::Time) {
    const QTime t = value.toTime();
    if (!t.isValid()) return false;
    begin_edit();
    field.set_date_time(dal::encode_time(t.hour(), t.minute()));
    return true;
  }
  if (!spec.choices.isEmpty() && !spec.choices.contains(value.toString())) return false;
  begin_edit();
  field.set_string(value.toString().toStdString());
  return true;
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::EditRole)) {
    auto it = captions_.find(section);
    if (it != captions_.end()) return *it;
    return fieldName(section);
  }
  return QAbstractTableModel::headerData(section, orientation, role);
}

bool DataSetModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) {
  if (orientation != Qt::Horizontal || (role != Qt::EditRole && role != Qt::DisplayRole)) return false;
  captions_[section] = value.toString();
  emit headerDataChanged(orientation, section, section);
  return true;
}

void DataSetModel::dataset_changed(dal::DataSet&) {
  beginResetModel();
  endResetModel();
}

void DataSetModel::row_changed(dal::DataSet&, int row) {
  if (row < 0 || row >= rowCount()) return;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void DataSetModel::row_inserted(dal::DataSet&, int row) {
  // The dataset already holds the row; announce it as inserted.
  beginInsertRows({}, row, row);
  endInsertRows();
}

void DataSetModel::row_removed(dal::DataSet&, int) {
  // The row is already gone, so views are reset rather than told which one went.
  beginResetModel();
  endResetModel();
}

void DataSetModel::current_changed(dal::DataSet&) {
  emit currentRowChanged(dataset_.current_index());
}

}  // namespace orv::app
