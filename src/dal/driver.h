// Data-access drivers: the contract between the data-access layer (connections and datasets,
// dal/connection.h, dal/dataset.h) and the providers behind it.
//
// A provider is chosen by the "Provider=" key of a connection string. Each provider registers a
// Driver under its name (matched without regard to letter case):
//   "SQLite"      the settings database (dal/sqlite_driver.h)
//   "SQLOLEDB.1"  the database server: the local server engine or ODBC (src/server/)
// A Driver opens Connections; a Connection executes statements and, for providers that hold
// editable tables (the settings database), reads and writes table rows by a stable row key.
//
// Errors: every failure is thrown as ProviderError carrying the provider's own text (SQLite's
// message, the server's message, the ODBC diagnostic), never a paraphrase.
// Threading: a Connection is used by one thread at a time; drivers are shared and thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orv::dal {

// A date-time as the settings and server providers store it: days since 1899-12-30 00:00,
// the fraction being the time of day. 0 is "00:00:00.000 of day 0"; a time without a date is
// just the fraction.
struct DateTime {
  double days = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// A field value. monostate is SQL NULL.
using Value = std::variant<std::monostate, std::int64_t, double, std::string, DateTime>;

enum class ValueKind { Null, Integer, Real, Text, DateTime };

struct ColumnInfo {
  std::string name;
  ValueKind kind = ValueKind::Text;
  int width = 0;  // text columns: the size in characters; 0 = not limited
  bool read_only = false;  // e.g. an autonumber column
};

// The rows of one statement, all fetched (static client-side cursor).
struct ResultSet {
  bool has_rows = false;  // false for statements that return no result set
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<Value>> rows;
  std::int64_t rows_affected = -1;
  // When every column comes straight from one table, that table's name (so a Query over one
  // table can be edited through update_row_matching/insert_row); "" otherwise.
  std::string base_table;
};

// A named parameter (":Gun" in the text is the parameter "Gun").
struct Param {
  std::string name;
  Value value;
};

// A failure reported by a provider. what() is the provider's own text.
class ProviderError : public std::runtime_error {
 public:
  explicit ProviderError(const std::string& text, int native_code = 0)
      : std::runtime_error(text), native_code_(native_code) {}
  int native_code() const { return native_code_; }

 private:
  int native_code_;
};

// "Key=Value;Key=Value" as the data-access layer receives it. Keys are matched without regard
// to letter case; values are kept exactly (surrounding blanks trimmed). A value may be wrapped in
// double quotes or braces when it holds ";".
class ConnectionString {
 public:
  ConnectionString() = default;
  explicit ConnectionString(std::string_view text);

  const std::string& text() const { return text_; }
  // The value of a key, or "" when absent.
  std::string get(std::string_view key) const;
  bool has(std::string_view key) const;
  // Key/value pairs in the order written (keys as written).
  const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }

 private:
  std::string text_;
  std::vector<std::pair<std::string, std::string>> items_;
};

struct ConnectOptions {
  std::chrono::seconds connection_timeout{15};
  std::chrono::seconds command_timeout{30};
  bool login_prompt = false;
};

// A stable identity of a table row for editing (the SQLite rowid for the settings database).
using RowKey = std::int64_t;

struct TableRows {
  std::vector<ColumnInfo> columns;
  std::vector<RowKey> keys;  // one per row, same order as rows
  std::vector<std::vector<Value>> rows;
};

class Connection {
 public:
  virtual ~Connection() = default;

  // Executes one statement with its named parameters and returns all its rows.
  virtual ResultSet execute(std::string_view sql, const std::vector<Param>& params) = 0;
  // Runs a stored procedure by name (e.g. "sp_Databases") and returns its rows.
  virtual ResultSet call_procedure(std::string_view name) { return execute(name, {}); }

  virtual void set_command_timeout(std::chrono::seconds timeout) = 0;
  // Asks the statement running on another thread to end as soon as it safely can; that
  // statement then throws ProviderError with the provider's text for a cancel. Returns false
  // when the provider has no way to cancel. Thread-safe: the one call another thread may make.
  virtual bool cancel() { return false; }

  // Editable tables. Providers without them throw ProviderError.
  // read_table: every row, in the order of the named index (e.g. "PrimaryKey").
  virtual TableRows read_table(const std::string& table, const std::string& index);
  // insert_row: values by column name; returns the new row's key. Throws on a refused row
  // (text longer than its column, key violation) and writes nothing then.
  virtual RowKey insert_row(const std::string& table, const std::vector<std::pair<std::string, Value>>& values);
  virtual void update_row(const std::string& table, RowKey key, const std::vector<std::pair<std::string, Value>>& values);
  // read_row: one row by key, columns as read_table gives them (after an insert: autonumber,
  // defaults). Throws when the row is gone.
  virtual TableRows read_row(const std::string& table, RowKey key);
  // update_row_matching: updates the first row whose columns hold the `original` values (a row
  // read by a query, which has no key). Throws when no row matches any more.
  virtual void update_row_matching(const std::string& table,
                                   const std::vector<std::pair<std::string, Value>>& original,
                                   const std::vector<std::pair<std::string, Value>>& values);
};

class Driver {
 public:
  virtual ~Driver() = default;
  // Opens a connection; throws ProviderError with the provider's text on failure.
  virtual std::unique_ptr<Connection> connect(const ConnectionString& cs, const ConnectOptions& options) = 0;
};

// Registry of providers by name. Registering a name twice replaces the earlier driver.
void register_driver(const std::string& provider, std::shared_ptr<Driver> driver);
std::shared_ptr<Driver> find_driver(const std::string& provider);  // nullptr when unknown

// Opens a connection to the provider named by the string's "Provider=" key. Throws
// ProviderError("Provider cannot be found. It may not be properly installed.") when no driver
// is registered under that name.
std::unique_ptr<Connection> open_connection(const ConnectionString& cs, const ConnectOptions& options);

}  // namespace orv::dal
