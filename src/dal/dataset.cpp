#include "dal/dataset.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "dal/datetime.h"

namespace orv::dal {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

const Value& null_value() {
  static const Value v;
  return v;
}

std::string number_text(double d) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string value_text(const Value& v, ValueKind kind) {
  if (std::holds_alternative<std::monostate>(v)) return {};
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v))
    return kind == ValueKind::DateTime ? format_date_time(DateTime{*d}) : number_text(*d);
  return format_date_time(std::get<DateTime>(v));
}

}  // namespace

// ---------------- Field ----------------

const Value& Field::value() const {
  const DataSet& d = *dataset_;
  if (d.current_ < 0 || d.current_ >= static_cast<int>(d.rows_.size())) return null_value();
  return d.rows_[static_cast<size_t>(d.current_)].values[static_cast<size_t>(index_)];
}

bool Field::is_null() const { return std::holds_alternative<std::monostate>(value()); }

std::string Field::as_string() const { return value_text(value(), info_.kind); }

DateTime Field::as_date_time() const {
  const Value& v = value();
  if (const auto* dt = std::get_if<DateTime>(&v)) return *dt;
  if (const auto* d = std::get_if<double>(&v)) return DateTime{*d};
  if (const auto* i = std::get_if<std::int64_t>(&v)) return DateTime{static_cast<double>(*i)};
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (s->empty()) return DateTime{};
    if (auto parsed = parse_date_time(*s)) return *parsed;
    throw DataSetError("'" + *s + "' is not a valid date and time");
  }
  return DateTime{};
}

void Field::set_value(Value value) { dataset_->set_field_value(index_, std::move(value)); }

void Field::set_string(const std::string& text) {
  switch (info_.kind) {
    case ValueKind::DateTime: {
      if (text.empty()) return set_value(Value{});
      auto parsed = parse_date_time(text);
      if (!parsed) throw DataSetError("'" + text + "' is not a valid date and time");
      return set_value(*parsed);
    }
    case ValueKind::Integer: {
      if (text.empty()) return set_value(Value{});
      std::int64_t n = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
      if (ec != std::errc() || end != text.data() + text.size())
        throw DataSetError("'" + text + "' is not a valid integer value");
      return set_value(n);
    }
    case ValueKind::Real: {
      if (text.empty()) return set_value(Value{});
      double d = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
      if (ec != std::errc() || end != text.data() + text.size())
        throw DataSetError("'" + text + "' is not a valid floating point value");
      return set_value(d);
    }
    default:
      return set_value(text);
  }
}

void Field::set_date_time(DateTime value) {
  if (info_.kind == ValueKind::Text) return set_value(format_date_time(value));
  set_value(value);
}

// ---------------- DataSet ----------------

DataSet::DataSet(DataConnection& connection) : connection_(&connection) { connection.attach(this); }

DataSet::~DataSet() {
  if (connection_) connection_->detach(this);
}

void DataSet::check_active() const {
  if (state_ == DataSetState::Inactive) throw DataSetError("Cannot perform this operation on a closed dataset");
}

void DataSet::check_inactive(const char* what) const {
  if (state_ != DataSetState::Inactive)
    throw DataSetError(std::string("Cannot perform this operation on an open dataset (") + what + ")");
}

bool DataSet::can_modify() const { return active() && !table_.empty(); }

void DataSet::open() {
  if (active()) return;
  if (!connection_) throw DataSetError("The dataset has no connection");
  Fetched f = fetch();

  std::vector<std::unique_ptr<Field>> old = std::move(fields_);
  fields_.clear();
  for (size_t i = 0; i < f.columns.size(); ++i) {
    auto same = std::find_if(old.begin(), old.end(),
                             [&](const auto& fld) { return fld && lower(fld->name()) == lower(f.columns[i].name); });
    if (same != old.end()) {
      (*same)->info_ = f.columns[i];
      (*same)->index_ = static_cast<int>(i);
      fields_.push_back(std::move(*same));
    } else {
      fields_.push_back(std::unique_ptr<Field>(new Field(this, f.columns[i], static_cast<int>(i))));
    }
  }
  for (auto& fld : old)
    if (fld) retired_fields_.push_back(std::move(fld));

  columns_ = std::move(f.columns);
  rows_.clear();
  for (size_t r = 0; r < f.rows.size(); ++r) {
    Row row;
    row.values = std::move(f.rows[r]);
    row.values.resize(columns_.size());
    if (r < f.keys.size()) {
      row.key = f.keys[r];
      row.has_key = true;
    }
    row.id = next_id_++;
    rows_.push_back(std::move(row));
  }
  table_ = std::move(f.table);
  current_ = rows_.empty() ? -1 : 0;
  bof_ = true;
  eof_ = rows_.empty();
  state_ = DataSetState::Browse;
  notify([this](DataSetObserver& o) { o.dataset_changed(*this); });
  notify([this](DataSetObserver& o) { o.current_changed(*this); });
  notify([this](DataSetObserver& o) { o.state_changed(*this); });
}

void DataSet::close() {
  if (!active()) return;
  rows_.clear();
  original_.clear();
  modified_.clear();
  current_ = -1;
  bof_ = eof_ = true;
  table_.clear();
  state_ = DataSetState::Inactive;
  notify([this](DataSetObserver& o) { o.dataset_changed(*this); });
  notify([this](DataSetObserver& o) { o.state_changed(*this); });
}

void DataSet::connection_closing() { close(); }

void DataSet::check_browse_mode() {
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) post();
}

void DataSet::set_current(int row) {
  if (row == current_) return;
  current_ = row;
  notify([this](DataSetObserver& o) { o.current_changed(*this); });
}

void DataSet::first() {
  check_active();
  check_browse_mode();
  bof_ = true;
  eof_ = rows_.empty();
  if (!rows_.empty()) set_current(0);
}

void DataSet::last() {
  check_active();
  check_browse_mode();
  eof_ = true;
  bof_ = rows_.empty();
  if (!rows_.empty()) set_current(record_count() - 1);
}

void DataSet::next() {
  check_active();
  check_browse_mode();
  if (current_ + 1 < record_count()) {
    bof_ = eof_ = false;
    set_current(current_ + 1);
  } else {
    eof_ = true;
  }
}

void DataSet::prior() {
  check_active();
  check_browse_mode();
  if (current_ > 0) {
    bof_ = eof_ = false;
    set_current(current_ - 1);
  } else {
    bof_ = true;
  }
}

void DataSet::move_to(int row) {
  check_active();
  if (row < 0 || row >= record_count()) throw DataSetError("Row " + std::to_string(row) + " is out of range");
  check_browse_mode();
  bof_ = eof_ = false;
  set_current(row);
}

bool DataSet::locate(std::string_view field_name, std::string_view value) {
  check_active();
  int column = field(field_name).index();
  check_browse_mode();
  for (int r = 0; r < record_count(); ++r) {
    if (text_at(r, column) == value) {
      bof_ = eof_ = false;
      set_current(r);
      return true;
    }
  }
  return false;
}

Bookmark DataSet::bookmark() const {
  if (current_ < 0 || current_ >= record_count()) return Bookmark();
  return Bookmark(rows_[static_cast<size_t>(current_)].id);
}

bool DataSet::bookmark_valid(const Bookmark& bookmark) const {
  return !bookmark.empty() &&
         std::any_of(rows_.begin(), rows_.end(), [&](const Row& r) { return r.id == bookmark.id_; });
}

void DataSet::go_to_bookmark(const Bookmark& bookmark) {
  check_active();
  check_browse_mode();
  for (int r = 0; r < record_count(); ++r) {
    if (!bookmark.empty() && rows_[static_cast<size_t>(r)].id == bookmark.id_) {
      bof_ = eof_ = false;
      set_current(r);
      return;
    }
  }
  throw DataSetError("Record not found");
}

void DataSet::edit() {
  check_active();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
  if (!can_modify()) throw DataSetError("Cannot modify a read-only dataset");
  if (rows_.empty()) {
    append();
    return;
  }
  original_ = rows_[static_cast<size_t>(current_)].values;
  modified_.assign(columns_.size(), false);
  state_ = DataSetState::Edit;
  notify([this](DataSetObserver& o) { o.state_changed(*this); });
}

void DataSet::append() {
  check_active();
  if (!can_modify()) throw DataSetError("Cannot modify a read-only dataset");
  check_browse_mode();
  before_insert_ = current_;
  Row row;
  row.values.resize(columns_.size());
  row.id = next_id_++;
  rows_.push_back(std::move(row));
  current_ = record_count() - 1;
  original_ = rows_.back().values;
  modified_.assign(columns_.size(), false);
  bof_ = eof_ = false;
  state_ = DataSetState::Insert;
  if (on_new_record) {
    in_new_record_ = true;
    try {
      on_new_record(*this);
    } catch (...) {
      in_new_record_ = false;
      rows_.pop_back();
      current_ = before_insert_;
      eof_ = rows_.empty();
      state_ = DataSetState::Browse;
      throw;
    }
    in_new_record_ = false;
  }
  int row_index = current_;
  notify([&](DataSetObserver& o) { o.row_inserted(*this, row_index); });
  notify([this](DataSetObserver& o) { o.current_changed(*this); });
  notify([this](DataSetObserver& o) { o.state_changed(*this); });
}

void DataSet::post() {
  check_active();
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  Row& row = rows_[static_cast<size_t>(current_)];
  std::vector<std::pair<std::string, Value>> changed;
  for (size_t i = 0; i < columns_.size(); ++i)
    if (modified_[i] && !columns_[i].read_only) changed.emplace_back(columns_[i].name, row.values[i]);

  Connection& provider = connection_->provider();
  if (state_ == DataSetState::Edit) {
    if (!changed.empty()) {
      if (row.has_key) {
        provider.update_row(table_, row.key, changed);
      } else {
        std::vector<std::pair<std::string, Value>> original;
        for (size_t i = 0; i < columns_.size(); ++i) original.emplace_back(columns_[i].name, original_[i]);
        provider.update_row_matching(table_, original, changed);
      }
    }
  } else {
    RowKey key = provider.insert_row(table_, changed);
    row.key = key;
    row.has_key = true;
  }
  bool inserted = state_ == DataSetState::Insert;
  state_ = DataSetState::Browse;
  original_.clear();
  modified_.clear();
  int row_index = current_;
  if (inserted) {
    // The engine may have filled columns (autonumber, defaults): read the row back.
    TableRows back = provider.read_row(table_, row.key);
    if (!back.rows.empty()) {
      for (size_t c = 0; c < back.columns.size(); ++c)
        if (Field* f = find_field(back.columns[c].name)) row.values[static_cast<size_t>(f->index())] = back.rows[0][c];
    }
  }
  notify([&](DataSetObserver& o) { o.row_changed(*this, row_index); });
  notify([this](DataSetObserver& o) { o.state_changed(*this); });
}

void DataSet::cancel() {
  check_active();
  if (state_ == DataSetState::Edit) {
    rows_[static_cast<size_t>(current_)].values = original_;
    state_ = DataSetState::Browse;
    original_.clear();
    modified_.clear();
    int row_index = current_;
    notify([&](DataSetObserver& o) { o.row_changed(*this, row_index); });
    notify([this](DataSetObserver& o) { o.state_changed(*this); });
  } else if (state_ == DataSetState::Insert) {
    int removed = current_;
    rows_.erase(rows_.begin() + removed);
    state_ = DataSetState::Browse;
    original_.clear();
    modified_.clear();
    current_ = rows_.empty() ? -1 : std::clamp(before_insert_, 0, record_count() - 1);
    eof_ = rows_.empty();
    notify([&](DataSetObserver& o) { o.row_removed(*this, removed); });
    notify([this](DataSetObserver& o) { o.current_changed(*this); });
    notify([this](DataSetObserver& o) { o.state_changed(*this); });
  }
}

void DataSet::set_field_value(int column, Value value) {
  check_active();
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
    throw DataSetError("Dataset not in edit or insert mode");
  Field& f = *fields_[static_cast<size_t>(column)];
  if (f.read_only()) throw DataSetError("Field '" + f.name() + "' cannot be modified");
  rows_[static_cast<size_t>(current_)].values[static_cast<size_t>(column)] = std::move(value);
  modified_[static_cast<size_t>(column)] = true;
  auto handler = change_handlers_.find(lower(f.name()));
  if (handler != change_handlers_.end() && handler->second) {
    auto fn = handler->second;  // the handler may replace itself
    fn(f);
  }
  if (!in_new_record_ && active()) {
    int row_index = current_;
    notify([&](DataSetObserver& o) { o.row_changed(*this, row_index); });
  }
}

Field& DataSet::field(int index) {
  if (index < 0 || index >= field_count()) throw DataSetError("Field index " + std::to_string(index) + " out of range");
  return *fields_[static_cast<size_t>(index)];
}

Field& DataSet::field(std::string_view name) {
  if (Field* f = find_field(name)) return *f;
  throw DataSetError("Field '" + std::string(name) + "' not found");
}

Field* DataSet::find_field(std::string_view name) {
  std::string key = lower(name);
  for (auto& f : fields_)
    if (lower(f->name()) == key) return f.get();
  return nullptr;
}

const Value& DataSet::value_at(int row, int column) const {
  if (row < 0 || row >= record_count() || column < 0 || column >= static_cast<int>(columns_.size()))
    return null_value();
  return rows_[static_cast<size_t>(row)].values[static_cast<size_t>(column)];
}

std::string DataSet::text_at(int row, int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return {};
  return value_text(value_at(row, column), columns_[static_cast<size_t>(column)].kind);
}

void DataSet::set_on_field_change(std::string_view field_name, std::function<void(Field&)> handler) {
  change_handlers_[lower(field_name)] = std::move(handler);
}

void DataSet::add_observer(DataSetObserver* observer) {
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) observers_.push_back(observer);
}

void DataSet::remove_observer(DataSetObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void DataSet::disable_controls() { ++disable_count_; }

void DataSet::enable_controls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ == 0) {
    notify([this](DataSetObserver& o) { o.dataset_changed(*this); });
    notify([this](DataSetObserver& o) { o.current_changed(*this); });
  }
}

void DataSet::notify(const std::function<void(DataSetObserver&)>& message) {
  if (disable_count_ > 0) return;
  for (DataSetObserver* o : std::vector<DataSetObserver*>(observers_))
    if (std::find(observers_.begin(), observers_.end(), o) != observers_.end()) message(*o);
}

// ---------------- Table ----------------

void Table::set_table_name(std::string name) {
  check_inactive("table name");
  table_name_ = std::move(name);
}

void Table::set_index_name(std::string name) {
  check_inactive("index name");
  index_name_ = std::move(name);
}

DataSet::Fetched Table::fetch() {
  if (table_name_.empty()) throw DataSetError("No table name specified");
  TableRows t = connection().provider().read_table(table_name_, index_name_);
  return Fetched{std::move(t.columns), std::move(t.rows), std::move(t.keys), table_name_};
}

// ---------------- Query ----------------

void Query::clear_sql() {
  lines_.clear();
  text_changed();
}

void Query::add_sql(std::string line) {
  lines_.push_back(std::move(line));
  text_changed();
}

void Query::set_sql(std::vector<std::string> lines) {
  lines_ = std::move(lines);
  text_changed();
}

std::string Query::sql_text() const {
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i) out += '\n';
    out += lines_[i];
  }
  return out;
}

void Query::text_changed() {
  close();  // a new text means new rows
  // ":name" outside quotes and brackets marks a parameter.
  std::vector<Parameter> found;
  std::string text = sql_text();
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '[') {
      quote = ']';
    } else if (c == ':' && i + 1 < text.size() &&
               (std::isalpha(static_cast<unsigned char>(text[i + 1])) || text[i + 1] == '_')) {
      size_t j = i + 1;
      while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_')) ++j;
      std::string name = text.substr(i + 1, j - i - 1);
      bool known = std::any_of(found.begin(), found.end(), [&](const Parameter& p) { return lower(p.name()) == lower(name); });
      if (!known) found.push_back(Parameter(name));
      i = j - 1;
    }
  }
  params_ = std::move(found);
}

Parameter& Query::param(std::string_view name) {
  for (auto& p : params_)
    if (lower(p.name()) == lower(name)) return p;
  throw DataSetError("Parameter '" + std::string(name) + "' not found");
}

std::vector<Param> Query::bound_params() const {
  std::vector<Param> out;
  for (const auto& p : params_) out.push_back(Param{p.name(), p.value()});
  return out;
}

std::int64_t Query::exec_sql() {
  return connection().provider().execute(sql_text(), bound_params()).rows_affected;
}

DataSet::Fetched Query::fetch() {
  ResultSet rs = connection().provider().execute(sql_text(), bound_params());
  if (!rs.has_rows) throw DataSetError("CommandText does not return a result set");
  return Fetched{std::move(rs.columns), std::move(rs.rows), {}, std::move(rs.base_table)};
}

// ---------------- StoredProc ----------------

void StoredProc::set_procedure_name(std::string name) {
  check_inactive("procedure name");
  name_ = std::move(name);
}

DataSet::Fetched StoredProc::fetch() {
  if (name_.empty()) throw DataSetError("No procedure name specified");
  ResultSet rs = connection().provider().call_procedure(name_);
  if (!rs.has_rows) throw DataSetError("CommandText does not return a result set");
  return Fetched{std::move(rs.columns), std::move(rs.rows), {}, {}};
}

}  // namespace orv::dal
