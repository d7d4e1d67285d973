#include "dal/sqlite_driver.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <mutex>
#include <optional>

#include "dal/datetime.h"

namespace orv::dal {

namespace {

// ---- clock behind Time() and Now() ----

std::mutex clock_mutex;
std::function<DateTime()> clock_source;

// ---- small text helpers ----

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool same_name(std::string_view a, std::string_view b) { return lower(a) == lower(b); }

std::string quote_name(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// Characters of UTF-8 text (continuation bytes not counted).
size_t utf8_length(std::string_view s) {
  return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The kind and text width a declared column type stands for.
ColumnInfo column_from_declared(std::string name, const char* declared) {
  ColumnInfo info;
  info.name = std::move(name);
  std::string t = declared ? lower(declared) : "";
  if (t.empty()) {
    info.kind = ValueKind::Null;  // expression: decided by its values
  } else if (t.find("char") != std::string::npos || t.find("text") != std::string::npos ||
             t.find("clob") != std::string::npos) {
    info.kind = ValueKind::Text;
    size_t open = t.find('(');
    if (open != std::string::npos) info.width = std::atoi(t.c_str() + open + 1);
  } else if (t.find("date") != std::string::npos || t.find("time") != std::string::npos) {
    info.kind = ValueKind::DateTime;
  } else if (t.find("int") != std::string::npos || t.find("counter") != std::string::npos) {
    info.kind = ValueKind::Integer;
  } else {
    info.kind = ValueKind::Real;
  }
  return info;
}

Value read_value(sqlite3_stmt* stmt, int column, ValueKind kind) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
      return Value{};
    case SQLITE_INTEGER:
      if (kind == ValueKind::DateTime) return DateTime{static_cast<double>(sqlite3_column_int64(stmt, column))};
      return Value{static_cast<std::int64_t>(sqlite3_column_int64(stmt, column))};
    case SQLITE_FLOAT:
      if (kind == ValueKind::DateTime) return DateTime{sqlite3_column_double(stmt, column)};
      return Value{sqlite3_column_double(stmt, column)};
    default: {
      const unsigned char* text = sqlite3_column_text(stmt, column);
      std::string s(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
      if (kind == ValueKind::DateTime) {
        if (auto dt = parse_date_time(s)) return *dt;
      }
      return Value{std::move(s)};
    }
  }
}

// A stored date-time as the engine's clock functions read it: REAL days, or text written by hand.
std::optional<DateTime> date_time_argument(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return DateTime{sqlite3_value_double(v)};
    case SQLITE_TEXT: {
      std::string_view s(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                         static_cast<size_t>(sqlite3_value_bytes(v)));
      return parse_date_time(s);
    }
    default:
      return std::nullopt;
  }
}

void sql_hour(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (auto dt = date_time_argument(argv[0])) sqlite3_result_int(ctx, hour_of(*dt));
  else sqlite3_result_null(ctx);
}

void sql_minute(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (auto dt = date_time_argument(argv[0])) sqlite3_result_int(ctx, minute_of(*dt));
  else sqlite3_result_null(ctx);
}

void sql_second(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (auto dt = date_time_argument(argv[0])) sqlite3_result_int(ctx, static_cast<int>(time_of_day_ms(*dt) / 1000 % 60));
  else sqlite3_result_null(ctx);
}

void sql_time(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_double(ctx, time_part(sqlite_clock_now()).days);
}

void sql_now(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_double(ctx, sqlite_clock_now().days); }

int clamp_ms(std::chrono::seconds s) {
  long long ms = s.count() > LLONG_MAX / 1000 ? LLONG_MAX : s.count() * 1000;
  return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

const char* kNoRowToUpdate = "Row cannot be located for updating. Some values may have been changed since it was last read.";

// ---- one statement, finalized on scope exit ----

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql, const char** tail = nullptr) {
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, tail);
    if (rc != SQLITE_OK) throw ProviderError(sqlite3_errmsg(db), rc);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

struct TableInfo {
  std::string name;  // as the schema writes it
  std::vector<ColumnInfo> columns;
  std::vector<std::string> primary_key;  // in key order
};

class SqliteConnection : public Connection {
 public:
  SqliteConnection(const std::string& path, const ConnectOptions& options) : path_(path) {
    if (path.empty()) throw ProviderError(std::string(sqlite3_errstr(SQLITE_CANTOPEN)) + ": no Data Source given", SQLITE_CANTOPEN);
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) fail_open(rc);
    sqlite3_extended_result_codes(db_, 0);
    sqlite3_busy_timeout(db_, clamp_ms(options.connection_timeout));
    // Opening is lazy: read the schema now so that a locked file or one that is not a
    // database fails here, with SQLite's text.
    rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail_open(rc);
    register_functions();
    set_command_timeout(options.command_timeout);
    sqlite3_progress_handler(db_, 1000, &SqliteConnection::progress, this);
  }

  ~SqliteConnection() override { sqlite3_close_v2(db_); }

  void set_command_timeout(std::chrono::seconds timeout) override {
    command_timeout_ = timeout;
    sqlite3_busy_timeout(db_, clamp_ms(timeout));
  }

  ResultSet execute(std::string_view sql, const std::vector<Param>& params) override {
    start_command();
    ResultSet result;
    std::string text(sql);
    const char* rest = text.c_str();
    const char* end = text.c_str() + text.size();
    while (rest < end) {
      const char* tail = nullptr;
      Statement stmt(db_, std::string_view(rest, static_cast<size_t>(end - rest)), &tail);
      rest = tail ? tail : end;
      if (!stmt) continue;  // blanks or a comment
      bind_params(stmt.get(), params);
      ResultSet one = run(stmt.get());
      if (one.has_rows || !result.has_rows) result = std::move(one);
    }
    return result;
  }

  TableRows read_table(const std::string& table, const std::string& index) override {
    start_command();
    TableInfo info = table_info(table);
    std::vector<std::string> order = index_columns(info, index);
    std::string sql = "SELECT _rowid_";
    for (const auto& c : info.columns) sql += ", " + quote_name(c.name);
    sql += " FROM " + quote_name(info.name) + " ORDER BY ";
    for (const auto& c : order) sql += quote_name(c) + ", ";
    sql += "_rowid_";
    return fetch_rows(info, sql, std::nullopt);
  }

  TableRows read_row(const std::string& table, RowKey key) override {
    start_command();
    TableInfo info = table_info(table);
    std::string sql = "SELECT _rowid_";
    for (const auto& c : info.columns) sql += ", " + quote_name(c.name);
    sql += " FROM " + quote_name(info.name) + " WHERE _rowid_ = ?1";
    TableRows rows = fetch_rows(info, sql, key);
    if (rows.rows.empty()) throw ProviderError(kNoRowToUpdate);
    return rows;
  }

  RowKey insert_row(const std::string& table, const std::vector<std::pair<std::string, Value>>& values) override {
    start_command();
    TableInfo info = table_info(table);
    check_values(info, values);
    std::string sql = "INSERT INTO " + quote_name(info.name);
    if (values.empty()) {
      sql += " DEFAULT VALUES";
    } else {
      std::string names, marks;
      for (size_t i = 0; i < values.size(); ++i) {
        names += (i ? ", " : "") + quote_name(values[i].first);
        marks += (i ? ", ?" : "?") + std::to_string(i + 1);
      }
      sql += " (" + names + ") VALUES (" + marks + ")";
    }
    Statement stmt(db_, sql);
    for (size_t i = 0; i < values.size(); ++i) bind(stmt.get(), static_cast<int>(i + 1), values[i].second);
    step_done(stmt.get());
    return sqlite3_last_insert_rowid(db_);
  }

  void update_row(const std::string& table, RowKey key, const std::vector<std::pair<std::string, Value>>& values) override {
    start_command();
    TableInfo info = table_info(table);
    check_values(info, values);
    if (values.empty()) return;
    std::string sql = "UPDATE " + quote_name(info.name) + " SET " + assignments(values) + " WHERE _rowid_ = ?" +
                      std::to_string(values.size() + 1);
    Statement stmt(db_, sql);
    for (size_t i = 0; i < values.size(); ++i) bind(stmt.get(), static_cast<int>(i + 1), values[i].second);
    sqlite3_bind_int64(stmt.get(), static_cast<int>(values.size() + 1), key);
    step_done(stmt.get());
    if (sqlite3_changes(db_) == 0) throw ProviderError(kNoRowToUpdate);
  }

  void update_row_matching(const std::string& table, const std::vector<std::pair<std::string, Value>>& original,
                           const std::vector<std::pair<std::string, Value>>& values) override {
    start_command();
    TableInfo info = table_info(table);
    check_values(info, values);
    if (values.empty()) return;
    std::string where;
    int n = static_cast<int>(values.size());
    for (size_t i = 0; i < original.size(); ++i)
      where += (i ? " AND " : "") + quote_name(original[i].first) + " IS ?" + std::to_string(n + 1 + static_cast<int>(i));
    if (where.empty()) where = "1";
    std::string sql = "UPDATE " + quote_name(info.name) + " SET " + assignments(values) +
                      " WHERE _rowid_ = (SELECT _rowid_ FROM " + quote_name(info.name) + " WHERE " + where + " LIMIT 1)";
    Statement stmt(db_, sql);
    for (size_t i = 0; i < values.size(); ++i) bind(stmt.get(), static_cast<int>(i + 1), values[i].second);
    for (size_t i = 0; i < original.size(); ++i) bind(stmt.get(), n + 1 + static_cast<int>(i), original[i].second);
    step_done(stmt.get());
    if (sqlite3_changes(db_) == 0) throw ProviderError(kNoRowToUpdate);
  }

 private:
  [[noreturn]] void fail_open(int rc) {
    std::string text = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw ProviderError(text + ": " + path_, rc);
  }

  [[noreturn]] void fail(int rc) { throw ProviderError(sqlite3_errmsg(db_), rc); }

  void register_functions() {
    struct Fn {
      const char* name;
      int args;
      void (*fn)(sqlite3_context*, int, sqlite3_value**);
      int flags;
    };
    const Fn fns[] = {
        {"Hour", 1, sql_hour, SQLITE_DETERMINISTIC},     {"Minute", 1, sql_minute, SQLITE_DETERMINISTIC},
        {"Second", 1, sql_second, SQLITE_DETERMINISTIC}, {"Time", 0, sql_time, 0},
        {"Now", 0, sql_now, 0},
    };
    for (const auto& f : fns) {
      int rc = sqlite3_create_function_v2(db_, f.name, f.args, SQLITE_UTF8 | f.flags, nullptr, f.fn, nullptr, nullptr,
                                          nullptr);
      if (rc != SQLITE_OK) fail(rc);
    }
  }

  // Statements give up after the command time-out (0 = no limit).
  void start_command() {
    using namespace std::chrono;
    if (command_timeout_.count() <= 0 || command_timeout_ > hours(24 * 365 * 100)) {
      deadline_.reset();
    } else {
      deadline_ = steady_clock::now() + command_timeout_;
    }
  }

  static int progress(void* self) {
    auto* c = static_cast<SqliteConnection*>(self);
    return c->deadline_ && std::chrono::steady_clock::now() > *c->deadline_ ? 1 : 0;
  }

  void bind(sqlite3_stmt* stmt, int index, const Value& value) {
    int rc = std::visit(
        [&](const auto& v) -> int {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::monostate>) return sqlite3_bind_null(stmt, index);
          else if constexpr (std::is_same_v<T, std::int64_t>) return sqlite3_bind_int64(stmt, index, v);
          else if constexpr (std::is_same_v<T, double>) return sqlite3_bind_double(stmt, index, v);
          else if constexpr (std::is_same_v<T, std::string>)
            return sqlite3_bind_text(stmt, index, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
          else return sqlite3_bind_double(stmt, index, v.days);
        },
        value);
    if (rc != SQLITE_OK) fail(rc);
  }

  void bind_params(sqlite3_stmt* stmt, const std::vector<Param>& params) {
    int count = sqlite3_bind_parameter_count(stmt);
    for (int i = 1; i <= count; ++i) {
      const char* name = sqlite3_bind_parameter_name(stmt, i);
      std::string_view bare = name ? std::string_view(name + 1) : std::string_view();
      auto it = std::find_if(params.begin(), params.end(), [&](const Param& p) { return same_name(p.name, bare); });
      if (it == params.end()) throw ProviderError("No value given for one or more required parameters.");
      bind(stmt, i, it->value);
    }
  }

  void step_done(sqlite3_stmt* stmt) {
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) fail(rc);
  }

  ResultSet run(sqlite3_stmt* stmt) {
    ResultSet result;
    int n = sqlite3_column_count(stmt);
    result.has_rows = n > 0;
    bool one_table = n > 0;
    std::string table;
    for (int i = 0; i < n; ++i) {
      ColumnInfo info = column_from_declared(sqlite3_column_name(stmt, i), sqlite3_column_decltype(stmt, i));
      const char* origin_table = sqlite3_column_table_name(stmt, i);
      const char* origin = sqlite3_column_origin_name(stmt, i);
      if (!origin_table || !origin || !same_name(origin, info.name) || (!table.empty() && !same_name(table, origin_table))) {
        one_table = false;
      } else {
        table = origin_table;
        int not_null = 0, primary = 0, autoinc = 0;
        const char* type = nullptr;
        if (sqlite3_table_column_metadata(db_, sqlite3_column_database_name(stmt, i), origin_table, origin, &type,
                                          nullptr, &not_null, &primary, &autoinc) == SQLITE_OK)
          info.read_only = autoinc != 0 || (primary != 0 && type && same_name(type, "integer"));
      }
      result.columns.push_back(std::move(info));
    }
    if (one_table) result.base_table = table;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::vector<Value> row;
      row.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) row.push_back(read_value(stmt, i, result.columns[static_cast<size_t>(i)].kind));
      result.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) fail(rc);
    // Expression columns take the kind of their first value.
    for (int i = 0; i < n; ++i) {
      auto& c = result.columns[static_cast<size_t>(i)];
      if (c.kind != ValueKind::Null) continue;
      c.kind = ValueKind::Text;
      for (const auto& row : result.rows) {
        const Value& v = row[static_cast<size_t>(i)];
        if (std::holds_alternative<std::int64_t>(v)) c.kind = ValueKind::Integer;
        else if (std::holds_alternative<double>(v)) c.kind = ValueKind::Real;
        if (!std::holds_alternative<std::monostate>(v)) break;
      }
    }
    result.rows_affected = n > 0 ? -1 : sqlite3_changes(db_);
    return result;
  }

  TableInfo table_info(const std::string& table) {
    TableInfo info;
    Statement stmt(db_, "SELECT name, type, pk FROM pragma_table_info(?1)");
    sqlite3_bind_text(stmt.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    std::vector<std::pair<int, std::string>> pk;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      std::string name = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
      const char* type = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
      int key = sqlite3_column_int(stmt.get(), 2);
      ColumnInfo c = column_from_declared(name, type);
      if (c.kind == ValueKind::Null) c.kind = ValueKind::Text;
      if (key > 0) pk.emplace_back(key, name);
      info.columns.push_back(std::move(c));
    }
    if (rc != SQLITE_DONE) fail(rc);
    if (info.columns.empty()) throw ProviderError("no such table: " + table);
    std::sort(pk.begin(), pk.end());
    for (auto& [pos, name] : pk) info.primary_key.push_back(name);
    // An INTEGER PRIMARY KEY is the row id: numbered by the engine, read-only (autonumber).
    if (info.primary_key.size() == 1) {
      for (auto& c : info.columns)
        if (same_name(c.name, info.primary_key[0]) && c.kind == ValueKind::Integer) c.read_only = true;
    }
    Statement name(db_, "SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    sqlite3_bind_text(name.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    info.name = sqlite3_step(name.get()) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(name.get(), 0))
                                                      : table;
    return info;
  }

  // The columns of a named index of the table. "PrimaryKey" names the table's primary key
  // when no index has that name; "" means row id order.
  std::vector<std::string> index_columns(const TableInfo& info, const std::string& index) {
    if (index.empty()) return {};
    Statement list(db_, "SELECT name FROM pragma_index_list(?1)");
    sqlite3_bind_text(list.get(), 1, info.name.data(), static_cast<int>(info.name.size()), SQLITE_TRANSIENT);
    std::string found;
    while (sqlite3_step(list.get()) == SQLITE_ROW) {
      std::string name = reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0));
      if (same_name(name, index)) found = name;
    }
    if (found.empty()) {
      if (same_name(index, "PrimaryKey") && !info.primary_key.empty()) return info.primary_key;
      throw ProviderError("no such index: " + index + " on table " + info.name);
    }
    Statement cols(db_, "SELECT name FROM pragma_index_info(?1) ORDER BY seqno");
    sqlite3_bind_text(cols.get(), 1, found.data(), static_cast<int>(found.size()), SQLITE_TRANSIENT);
    std::vector<std::string> out;
    while (sqlite3_step(cols.get()) == SQLITE_ROW) {
      const unsigned char* n = sqlite3_column_text(cols.get(), 0);
      if (n) out.emplace_back(reinterpret_cast<const char*>(n));
    }
    return out;
  }

  TableRows fetch_rows(const TableInfo& info, const std::string& sql, std::optional<RowKey> key) {
    Statement stmt(db_, sql);
    if (key) sqlite3_bind_int64(stmt.get(), 1, *key);
    TableRows rows;
    rows.columns = info.columns;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      rows.keys.push_back(sqlite3_column_int64(stmt.get(), 0));
      std::vector<Value> row;
      for (size_t i = 0; i < info.columns.size(); ++i)
        row.push_back(read_value(stmt.get(), static_cast<int>(i + 1), info.columns[i].kind));
      rows.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) fail(rc);
    return rows;
  }

  // Refuses unknown columns and texts longer than their column, before anything is written.
  static void check_values(const TableInfo& info, const std::vector<std::pair<std::string, Value>>& values) {
    for (const auto& entry : values) {
      const std::string& name = entry.first;
      const Value& value = entry.second;
      auto col = std::find_if(info.columns.begin(), info.columns.end(),
                              [&](const ColumnInfo& c) { return same_name(c.name, name); });
      if (col == info.columns.end()) throw ProviderError("table " + info.name + " has no column named " + name);
      if (col->kind != ValueKind::Text || col->width <= 0) continue;
      size_t length = 0;
      if (const auto* s = std::get_if<std::string>(&value)) length = utf8_length(*s);
      if (length > static_cast<size_t>(col->width))
        throw ProviderError("The field '" + info.name + "." + col->name +
                            "' is too small to accept the amount of data you attempted to add (" +
                            std::to_string(length) + " characters, at most " + std::to_string(col->width) + ").");
    }
  }

  static std::string assignments(const std::vector<std::pair<std::string, Value>>& values) {
    std::string out;
    for (size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + quote_name(values[i].first) + " = ?" + std::to_string(i + 1);
    return out;
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  std::chrono::seconds command_timeout_{0};
  std::optional<std::chrono::steady_clock::time_point> deadline_;
};

class SqliteDriver : public Driver {
 public:
  std::unique_ptr<Connection> connect(const ConnectionString& cs, const ConnectOptions& options) override {
    return std::make_unique<SqliteConnection>(cs.get("Data Source"), options);
  }
};

}  // namespace

void register_sqlite_driver() { register_driver("SQLite", std::make_shared<SqliteDriver>()); }

void set_sqlite_clock(std::function<DateTime()> now) {
  std::lock_guard lock(clock_mutex);
  clock_source = std::move(now);
}

DateTime sqlite_clock_now() {
  std::function<DateTime()> source;
  {
    std::lock_guard lock(clock_mutex);
    source = clock_source;
  }
  return source ? source() : from_local(std::chrono::system_clock::now());
}

}  // namespace orv::dal
