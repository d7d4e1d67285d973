// Datasets of the data-access layer: Table, Query and StoredProc over a DataConnection.
//
// Every dataset uses a static client-side cursor: opening fetches all rows, so record_count()
// is known at once and nothing is read again until the dataset is closed and opened. The
// dataset has a current row and a state:
//   Inactive  closed
//   Browse    open, no pending change
//   Edit      the current row is being changed (edit()); post() writes it, cancel() drops it
//   Insert    a new row was appended (append()) and is current; post() writes it
// Moving to another row (first, next, locate, go_to_bookmark, move_to) while in Edit or Insert
// posts the pending change first, as a bound grid does when it leaves a row; if that post
// fails, the error is thrown and nothing moves.
//
//   Table   whole table through a named index:  t.set_table_name("Database_List");
//           t.set_index_name("PrimaryKey"); t.open();  — editable.
//   Query   statement text set line by line; ":name" marks a parameter:
//           q.clear_sql(); q.add_sql("Select * From Language_Tbl"); q.add_sql("Where Degisken=:Degisken");
//           q.param("Degisken").set_string("RESTORE"); q.open();   (or q.exec_sql() for no rows)
//           — editable when every column comes from one table.
//   StoredProc  opened by name: p.set_procedure_name("sp_Databases"); p.open(); — read-only.
//
// Fields: field("Name") (letter case ignored) gives the column of the current row; a Field
// stays the same object across close and open while its column keeps its name. as_string()
// reads null as "", as_date_time() reads a date-time; set_string()/set_date_time()/set_value()
// change it in Edit or Insert state and then fire the field's change event.
//
// Events, in the order they fire:
//   append(): the pending change of the current row is posted; the new row is added at the end
//     and becomes current in Insert state; on_new_record runs (its field sets fire their change
//     events); then bound views hear row_inserted, current_changed, state_changed.
//   set on a field: the value is stored, the field's change handler runs, then views hear
//     row_changed.
// edit() on an empty dataset appends a row instead (the first edit of an empty table creates it).
//
// Bound views (a Qt model over a grid) implement DataSetObserver and add themselves with
// add_observer(). disable_controls()/enable_controls() nest: while disabled no observer is told
// anything; the last enable_controls() sends one dataset_changed and one current_changed.
//
// Ownership: a dataset does not own its DataConnection (which must outlive use of the dataset)
// nor its observers (which remove themselves before they die).
// Threading: one thread at a time, the connection's thread.
// Errors: provider failures throw ProviderError with the provider's text (driver.h); misuse of
// the dataset (field not found, set outside Edit/Insert, edit of a read-only dataset) throws
// DataSetError. A refused post leaves the dataset in its Edit or Insert state with its values.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dal/connection.h"
#include "dal/driver.h"

namespace orv::dal {

// Misuse of a dataset or of a closed connection. what() says what was wrong.
class DataSetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class DataSetState { Inactive, Browse, Edit, Insert };

class DataSet;

// One column of the current row. Owned by its dataset, which keeps it alive as long as itself.
class Field {
 public:
  const std::string& name() const { return info_.name; }
  ValueKind kind() const { return info_.kind; }
  int width() const { return info_.width; }  // characters for text columns, 0 = not limited
  bool read_only() const { return info_.read_only; }
  int index() const { return index_; }
  DataSet& dataset() const { return *dataset_; }

  // The value of the current row (the edited value in Edit/Insert state). Null on an empty
  // dataset.
  const Value& value() const;
  bool is_null() const;
  // Null reads as "". A date-time reads as "YYYY-MM-DD HH:MM:SS", "HH:MM:SS" when its date
  // part is day 0 (a bare time). Numbers read in their shortest exact form.
  std::string as_string() const;
  // Null and "" read as DateTime{0}. Text is parsed as by set_string on a date-time field;
  // throws DataSetError when it is not a date-time.
  DateTime as_date_time() const;

  // Setters: the dataset must be in Edit or Insert state (DataSetError otherwise, and for a
  // read-only field). Each fires the field's change handler after storing the value.
  void set_value(Value value);
  // On a date-time field the text is parsed ("YYYY-MM-DD[ HH:MM[:SS[.mmm]]]" or
  // "HH:MM[:SS[.mmm]]"); "" sets null.
  void set_string(const std::string& text);
  void set_date_time(DateTime value);
  void clear() { set_value(Value{}); }

 private:
  friend class DataSet;
  Field(DataSet* dataset, ColumnInfo info, int index) : dataset_(dataset), info_(std::move(info)), index_(index) {}
  DataSet* dataset_;
  ColumnInfo info_;
  int index_;
};

// A position in a dataset's rows that survives moving about. An empty Bookmark points nowhere.
class Bookmark {
 public:
  Bookmark() = default;
  bool empty() const { return id_ == 0; }
  friend bool operator==(const Bookmark&, const Bookmark&) = default;

 private:
  friend class DataSet;
  explicit Bookmark(std::uint64_t id) : id_(id) {}
  std::uint64_t id_ = 0;
};

// A bound view. Every notification comes after the dataset has changed; row numbers are
// 0-based positions as for value_at(). Default implementations ignore the notification.
class DataSetObserver {
 public:
  virtual ~DataSetObserver() = default;
  // Everything may have changed: opened, closed, controls enabled again.
  virtual void dataset_changed(DataSet&) {}
  // The values of one row changed (a field set, a post, a cancel of an edit).
  virtual void row_changed(DataSet&, int /*row*/) {}
  // A row was added (append) or removed (cancel of an append).
  virtual void row_inserted(DataSet&, int /*row*/) {}
  virtual void row_removed(DataSet&, int /*row*/) {}
  // The current row moved.
  virtual void current_changed(DataSet&) {}
  virtual void state_changed(DataSet&) {}
};

class DataSet {
 public:
  virtual ~DataSet();
  DataSet(const DataSet&) = delete;
  DataSet& operator=(const DataSet&) = delete;

  DataConnection& connection() const { return *connection_; }

  // Opening fetches every row and makes the first current; opening an open dataset does nothing.
  void open();
  // Drops the rows and any pending change (it is not posted); state becomes Inactive.
  void close();
  bool active() const { return state_ != DataSetState::Inactive; }
  DataSetState state() const { return state_; }
  // False for a StoredProc and for a Query whose rows do not come from one table.
  bool can_modify() const;

  // Navigation (each posts a pending change first).
  void first();
  void last();
  void next();
  void prior();
  // True when the dataset is empty or next() went past the last row; first() clears it.
  bool eof() const { return eof_; }
  bool bof() const { return bof_; }
  bool empty() const { return rows_.empty(); }
  // The number of rows, including a row being appended.
  int record_count() const { return static_cast<int>(rows_.size()); }
  // 0-based position of the current row, -1 when empty.
  int current_index() const { return current_; }
  void move_to(int row);

  // Makes current the first row whose field reads (as_string) exactly `value`: same letters,
  // same case, whole text. Returns false and stays when there is none.
  bool locate(std::string_view field_name, std::string_view value);

  Bookmark bookmark() const;  // the current row; empty Bookmark when the dataset is empty
  bool bookmark_valid(const Bookmark& bookmark) const;
  // Makes the bookmarked row current; DataSetError when that row no longer exists.
  void go_to_bookmark(const Bookmark& bookmark);
  void free_bookmark(Bookmark& bookmark) { bookmark = Bookmark(); }

  // Row work.
  void edit();
  void append();
  void post();
  void cancel();

  // Fields of the open dataset, in column order.
  int field_count() const { return static_cast<int>(fields_.size()); }
  Field& field(int index);
  Field& field(std::string_view name);             // DataSetError "Field 'X' not found"
  Field* find_field(std::string_view name);        // nullptr when absent
  const std::vector<std::unique_ptr<Field>>& fields() const { return fields_; }

  // Any row, without moving (for bound views). The current row shows its edited values.
  const Value& value_at(int row, int column) const;
  std::string text_at(int row, int column) const;

  // Events.
  std::function<void(DataSet&)> on_new_record;
  // The change handler of one field, by name (letter case ignored); may be set while closed.
  void set_on_field_change(std::string_view field_name, std::function<void(Field&)> handler);

  // Bound views.
  void add_observer(DataSetObserver* observer);
  void remove_observer(DataSetObserver* observer);
  void disable_controls();
  void enable_controls();
  bool controls_disabled() const { return disable_count_ > 0; }

 protected:
  explicit DataSet(DataConnection& connection);

  // What open() fetches; implemented by Table, Query and StoredProc.
  struct Fetched {
    std::vector<ColumnInfo> columns;
    std::vector<std::vector<Value>> rows;
    std::vector<RowKey> keys;  // one per row when rows are written back by key, else empty
    std::string table;         // table written to by post(), "" = read-only
  };
  virtual Fetched fetch() = 0;
  void check_inactive(const char* what) const;

 private:
  friend class Field;
  friend class DataConnection;

  struct Row {
    std::vector<Value> values;
    RowKey key = 0;
    bool has_key = false;
    std::uint64_t id = 0;
  };

  void check_active() const;
  void check_browse_mode();  // posts a pending change
  void set_field_value(int column, Value value);
  void set_current(int row);
  void connection_closing();

  void notify(const std::function<void(DataSetObserver&)>& message);

  DataConnection* connection_;
  DataSetState state_ = DataSetState::Inactive;
  std::vector<ColumnInfo> columns_;
  // Fields keep their address across close and open when the column keeps its name; fields of
  // columns that went away are kept until the dataset dies, so no Field reference dangles.
  std::vector<std::unique_ptr<Field>> fields_;
  std::vector<std::unique_ptr<Field>> retired_fields_;
  std::vector<Row> rows_;
  std::string table_;
  bool keyed_ = false;
  int current_ = -1;
  bool eof_ = true;
  bool bof_ = true;
  std::uint64_t next_id_ = 1;
  // Edit/Insert: the values before the change, which fields were set, and the row that was
  // current before an append (restored by cancel).
  std::vector<Value> original_;
  std::vector<bool> modified_;
  int before_insert_ = -1;
  std::map<std::string, std::function<void(Field&)>> change_handlers_;  // by lower-case name
  std::vector<DataSetObserver*> observers_;
  int disable_count_ = 0;
  bool in_new_record_ = false;  // bound views hear of the new row only after on_new_record
};

// A whole table read through a named index, which gives the row order.
class Table : public DataSet {
 public:
  explicit Table(DataConnection& connection) : DataSet(connection) {}
  void set_table_name(std::string name);
  void set_index_name(std::string name);
  const std::string& table_name() const { return table_name_; }
  const std::string& index_name() const { return index_name_; }

 protected:
  Fetched fetch() override;

 private:
  std::string table_name_;
  std::string index_name_;
};

// A named parameter of a Query, written ":name" in its text.
class Parameter {
 public:
  const std::string& name() const { return name_; }
  const Value& value() const { return value_; }
  void set_value(Value value) { value_ = std::move(value); }
  void set_string(std::string text) { value_ = std::move(text); }

 private:
  friend class Query;
  explicit Parameter(std::string name) : name_(std::move(name)) {}
  std::string name_;
  Value value_;
};

// A statement whose text is set line by line (lines joined by line breaks). Changing the text
// re-reads the parameter list from it; earlier parameter values are dropped.
class Query : public DataSet {
 public:
  explicit Query(DataConnection& connection) : DataSet(connection) {}

  void clear_sql();
  void add_sql(std::string line);
  void set_sql(std::vector<std::string> lines);
  const std::vector<std::string>& sql() const { return lines_; }
  std::string sql_text() const;  // the lines joined by "\n"

  // Parameters in order of first appearance; param() throws DataSetError
  // "Parameter 'X' not found" for a name the text does not hold (letter case ignored).
  const std::vector<Parameter>& params() const { return params_; }
  Parameter& param(std::string_view name);

  // Runs a statement that returns no rows; returns the rows it changed (-1 when not known).
  // The dataset stays closed.
  std::int64_t exec_sql();

 protected:
  Fetched fetch() override;

 private:
  void text_changed();
  std::vector<Param> bound_params() const;
  std::vector<std::string> lines_;
  std::vector<Parameter> params_;
};

// A stored procedure of the server, opened by name; its rows are read-only.
class StoredProc : public DataSet {
 public:
  explicit StoredProc(DataConnection& connection) : DataSet(connection) {}
  void set_procedure_name(std::string name);
  const std::string& procedure_name() const { return name_; }

 protected:
  Fetched fetch() override;

 private:
  std::string name_;
};

}  // namespace orv::dal
