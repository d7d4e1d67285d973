#include "server/odbc_backend.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <mutex>

#include "platform/civil_date.h"

namespace orv::server {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

// A server's message without the "[vendor][SQL Server]" prefix the driver puts in front of it
// ("[FreeTDS][SQL Server]Login failed ..."); the driver's and driver manager's own messages
// keep theirs.
std::string server_text(std::string text) {
  const std::string tag = "[SQL Server]";
  auto at = text.find(tag);
  if (text.empty() || text.front() != '[' || at == std::string::npos) return text;
  for (std::size_t i = 0; i < at; ++i)
    if (text[i] == ' ' && text[i - 1] == ']') return text;  // the tag is inside the message
  return text.substr(at + tag.size());
}

// The diagnostic records of a handle, joined by line breaks. A server sends informational
// messages (SQLSTATE 01xxx, e.g. BACKUP's "Processed N pages ...") before an error: the error
// number is that of the first error record, and the text holds the error records only.
[[noreturn]] void raise_diag(SQLSMALLINT type, SQLHANDLE handle, const std::string& fallback) {
  std::string text, info_text;
  int native_error = 0, native_info = 0;
  bool have_error = false;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[2048] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    std::string line = server_text(reinterpret_cast<const char*>(message));
    bool info = state[0] == '0' && state[1] == '1';
    std::string& into = info ? info_text : text;
    if (!into.empty()) into += "\n";
    into += line;
    if (info && native_info == 0) native_info = static_cast<int>(native);
    if (!info && !have_error) {
      have_error = true;
      native_error = static_cast<int>(native);
    }
  }
  if (!have_error) {
    text = info_text;
    native_error = native_info;
  }
  throw dal::ProviderError(text.empty() ? fallback : text, native_error);
}

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) raise_diag(type, handle, std::string("ODBC call failed: ") + what);
}

double ole_days(const SQL_TIMESTAMP_STRUCT& t) {
  const double days = double(platform::days_from_civil(t.year, t.month, t.day) - platform::kStoredDateEpoch);
  double seconds = t.hour * 3600.0 + t.minute * 60.0 + t.second + t.fraction / 1e9;
  return days + seconds / 86400.0;
}

class OdbcConnection : public dal::Connection {
 public:
  OdbcConnection(const std::string& cs, const dal::ConnectOptions& options) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)))
      throw dal::ProviderError("ODBC: cannot allocate an environment handle.");
    check(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), SQL_HANDLE_ENV,
          env_, "SQLSetEnvAttr");
    check(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_HANDLE_ENV, env_, "SQLAllocHandle");
    auto seconds = static_cast<SQLULEN>(std::min<long long>(options.connection_timeout.count(), INT_MAX));
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds), 0);
    set_command_timeout(options.command_timeout);
    SQLCHAR out[1024];
    SQLSMALLINT out_len = 0;
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(cs.c_str())),
                                    static_cast<SQLSMALLINT>(cs.size()), out, sizeof out, &out_len,
                                    SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
      try {
        raise_diag(SQL_HANDLE_DBC, dbc_, "ODBC: the connection failed.");
      } catch (...) {
        release();
        throw;
      }
    }
    connected_ = true;
  }
  ~OdbcConnection() override { release(); }

  // SQLCancel on the statement in progress: the driver sends the server its cancel (TDS
  // ATTENTION) and the statement ends with SQLSTATE HY008.
  bool cancel() override {
    std::lock_guard lock(running_mutex_);
    if (running_ == SQL_NULL_HSTMT) return true;
    return SQL_SUCCEEDED(SQLCancel(running_));
  }

  void set_command_timeout(std::chrono::seconds timeout) override {
    timeout_ = static_cast<SQLULEN>(std::clamp<long long>(timeout.count(), 0, INT_MAX));
  }

  dal::ResultSet execute(std::string_view sql, const std::vector<dal::Param>& params) override {
    if (!params.empty()) throw dal::ProviderError("Parameters are not supported on the server connection.");
    SQLHSTMT st = SQL_NULL_HSTMT;
    check(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st), SQL_HANDLE_DBC, dbc_, "SQLAllocHandle");
    struct Free {
      SQLHSTMT st;
      ~Free() { SQLFreeHandle(SQL_HANDLE_STMT, st); }
    } free_st{st};
    struct Current {
      OdbcConnection& c;
      Current(OdbcConnection& owner, SQLHSTMT st) : c(owner) {
        std::lock_guard lock(c.running_mutex_);
        c.running_ = st;
      }
      ~Current() {
        std::lock_guard lock(c.running_mutex_);
        c.running_ = SQL_NULL_HSTMT;
      }
    } current{*this, st};
    SQLSetStmtAttr(st, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout_), 0);
    std::string text(sql);
    check(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size())),
          SQL_HANDLE_STMT, st, "SQLExecDirect");
    dal::ResultSet result;
    for (;;) {
      SQLSMALLINT columns = 0;
      check(SQLNumResultCols(st, &columns), SQL_HANDLE_STMT, st, "SQLNumResultCols");
      if (columns > 0) {
        // The rows of the last result set that has rows, as the engine's sessions give them.
        dal::ResultSet rows;
        fetch(st, columns, rows);
        result = std::move(rows);
      } else if (columns == 0 && !result.has_rows) {
        SQLLEN count = -1;
        if (SQL_SUCCEEDED(SQLRowCount(st, &count))) result.rows_affected = count;
      }
      // Later results are read too: a server reports some errors only there.
      SQLRETURN rc = SQLMoreResults(st);
      if (rc == SQL_NO_DATA) break;
      check(rc, SQL_HANDLE_STMT, st, "SQLMoreResults");
    }
    return result;
  }

 private:
  void fetch(SQLHSTMT st, SQLSMALLINT columns, dal::ResultSet& result) {
    result.has_rows = true;
    std::vector<SQLSMALLINT> types;
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
      SQLCHAR name[256] = {};
      SQLSMALLINT name_len = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      check(SQLDescribeCol(st, c, name, sizeof name, &name_len, &type, &size, &digits, &nullable), SQL_HANDLE_STMT, st,
            "SQLDescribeCol");
      dal::ColumnInfo info{reinterpret_cast<const char*>(name), dal::ValueKind::Text, 0};
      switch (type) {
        case SQL_INTEGER: case SQL_SMALLINT: case SQL_TINYINT: case SQL_BIGINT: case SQL_BIT:
          info.kind = dal::ValueKind::Integer;
          break;
        case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE:
          info.kind = dal::ValueKind::Real;
          break;
        case SQL_TYPE_TIMESTAMP: case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TIMESTAMP: case SQL_DATE:
          info.kind = dal::ValueKind::DateTime;
          break;
        default:
          info.width = size > 0 && size < 8000 ? static_cast<int>(size) : 0;
      }
      types.push_back(type);
      result.columns.push_back(std::move(info));
    }
    for (;;) {
      SQLRETURN rc = SQLFetch(st);
      if (rc == SQL_NO_DATA) break;
      check(rc, SQL_HANDLE_STMT, st, "SQLFetch");
      std::vector<dal::Value> row;
      for (SQLSMALLINT c = 1; c <= columns; ++c) row.push_back(get(st, c, result.columns[c - 1].kind));
      result.rows.push_back(std::move(row));
    }
  }

  dal::Value get(SQLHSTMT st, SQLSMALLINT c, dal::ValueKind kind) {
    SQLLEN indicator = 0;
    switch (kind) {
      case dal::ValueKind::Integer: {
        SQLBIGINT v = 0;
        check(SQLGetData(st, c, SQL_C_SBIGINT, &v, 0, &indicator), SQL_HANDLE_STMT, st, "SQLGetData");
        if (indicator == SQL_NULL_DATA) return std::monostate{};
        return static_cast<std::int64_t>(v);
      }
      case dal::ValueKind::Real: {
        double v = 0;
        check(SQLGetData(st, c, SQL_C_DOUBLE, &v, 0, &indicator), SQL_HANDLE_STMT, st, "SQLGetData");
        if (indicator == SQL_NULL_DATA) return std::monostate{};
        return v;
      }
      case dal::ValueKind::DateTime: {
        SQL_TIMESTAMP_STRUCT t{};
        check(SQLGetData(st, c, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &indicator), SQL_HANDLE_STMT, st, "SQLGetData");
        if (indicator == SQL_NULL_DATA) return std::monostate{};
        return dal::DateTime{ole_days(t)};
      }
      default: {
        std::string text;
        char buffer[4096];
        for (;;) {
          SQLRETURN rc = SQLGetData(st, c, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
          if (rc == SQL_NO_DATA) break;
          check(rc, SQL_HANDLE_STMT, st, "SQLGetData");
          if (indicator == SQL_NULL_DATA) return std::monostate{};
          if (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer)) {
            text.append(buffer, sizeof buffer - 1);  // more to come
          } else {
            text.append(buffer, static_cast<std::size_t>(indicator));
            break;
          }
        }
        return text;
      }
    }
  }

  void release() {
    if (dbc_ != SQL_NULL_HDBC) {
      if (connected_) SQLDisconnect(dbc_);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      dbc_ = SQL_NULL_HDBC;
    }
    if (env_ != SQL_NULL_HENV) {
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      env_ = SQL_NULL_HENV;
    }
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  SQLULEN timeout_ = 0;
  std::mutex running_mutex_;               // guards running_ against cancel() from another thread
  SQLHSTMT running_ = SQL_NULL_HSTMT;      // the statement in progress
};

}  // namespace

std::string odbc_brace(std::string_view value) {
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += c;
  }
  return out + "}";
}

bool is_freetds(const std::vector<std::pair<std::string, std::string>>& configured) {
  for (const auto& [k, v] : configured)
    if (lower(k) == "driver") return lower(v).find("tds") != std::string::npos;
  return false;
}

namespace {

bool ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// "key=value;" as the driver reads it back to the value as typed. FreeTDS (1.3) ends a braced
// value at "};" and keeps a doubled "}" doubled: a value without ";" goes unbraced, any other
// braced without doubling; a value it cannot carry is refused here rather than sent changed.
std::string keyword(const std::string& key, std::string_view value, bool freetds) {
  if (!freetds) return key + "=" + odbc_brace(value) + ";";
  bool plain = value.find(';') == std::string_view::npos && (value.empty() || (value.front() != '{' &&
                                                                                value.front() != ' ' && value.back() != ' '));
  if (plain) return key + "=" + std::string(value) + ";";
  if (value.find("};") != std::string_view::npos || value.back() == '}')
    throw dal::ProviderError("The " + key + " value cannot be passed to the FreeTDS driver: it holds \"}\" next to \";\".");
  return key + "={" + std::string(value) + "};";
}

std::string initial_database(const dal::ConnectionString& oledb) {
  return oledb.has("Initial Catalog") ? oledb.get("Initial Catalog") : oledb.get("Database");
}

}  // namespace

std::string odbc_connection_string(const dal::ConnectionString& oledb,
                                   const std::vector<std::pair<std::string, std::string>>& configured) {
  const bool freetds = is_freetds(configured);
  std::string out;
  auto add = [&](const std::string& key, std::string_view value) { out += keyword(key, value, freetds); };
  // The configured keywords are the operator's own ODBC syntax and go as written; every value
  // that comes from the tool's connection string is quoted for the driver.
  std::string database = initial_database(oledb);
  bool charset = false;
  for (const auto& [k, v] : configured) {
    if (!database.empty() && lower(k) == "database") continue;  // the string's database wins
    charset |= lower(k) == "clientcharset";
    out += k + "=" + v + ";";
  }
  // FreeTDS converts names and paths to the server's code page without it.
  if (freetds && !charset) out += "ClientCharset=UTF-8;";
  std::string integrated = lower(oledb.get("Integrated Security"));
  if (integrated == "sspi" || integrated == "true" || integrated == "yes") {
    add("Trusted_Connection", "Yes");
  } else {
    add("UID", oledb.get("User ID"));
    if (oledb.has("Password")) add("PWD", oledb.get("Password"));
  }
  if (!database.empty() && odbc_database_after_login(oledb, configured).empty()) add("Database", database);
  return out;
}

std::string odbc_database_after_login(const dal::ConnectionString& oledb,
                                      const std::vector<std::pair<std::string, std::string>>& configured) {
  // FreeTDS garbles a non-ASCII database of the login packet even with ClientCharset=UTF-8;
  // a USE after the login carries it intact.
  std::string database = initial_database(oledb);
  return is_freetds(configured) && !ascii(database) ? database : std::string();
}

std::unique_ptr<dal::Connection> odbc_connect(const std::string& odbc_string, const dal::ConnectOptions& options,
                                              const std::string& use_database) {
  auto c = std::make_unique<OdbcConnection>(odbc_string, options);
  if (!use_database.empty()) {
    std::string use = "USE [";
    for (char ch : use_database) use += ch == ']' ? std::string("]]") : std::string(1, ch);
    try {
      c->execute(use + "]", {});
    } catch (const dal::ProviderError&) {
      throw dal::ProviderError("Cannot open database '" + use_database + "' requested by the login. The login failed.",
                               4060);
    }
  }
  return c;
}

}  // namespace orv::server
