// orvakell-sql: a small command-line client in the style of sqlcmd for the registered database
// server, over the tool's own data-access layer and "SQLOLEDB.1" provider.
//
//   orvakell-sql [-S server] [-E | -U login [-P password]] [-d database] -Q "statement"
//
// Result rows go to standard output, tab-separated, after a header line of column names;
// NULL prints as NULL, date-times as "YYYY-MM-DD HH:MM:SS.mmm", and a tab, line break or
// backslash inside a value as \t, \n, \\. On an error the server's text goes to standard
// error and the exit status is 1; a usage error exits with 2.
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>

#include "server/backup_format.h"
#include "server/server_driver.h"
#include "dal/connection.h"

namespace {

int usage(const char* message) {
  std::cerr << "orvakell-sql: " << message << "\n"
            << "usage: orvakell-sql [-S server] [-E | -U login [-P password]] [-d database] -Q \"statement\"\n";
  return 2;
}

// A connection-string value, in double quotes when it holds a separator or a quote.
std::string value(const std::string& v) {
  if (v.find_first_of(";\"'") == std::string::npos && (v.empty() || (v.front() != ' ' && v.back() != ' '))) return v;
  std::string out = "\"";
  for (char c : v) {
    out += c;
    if (c == '"') out += c;
  }
  return out + "\"";
}

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

std::string show(const orv::dal::Value& v) {
  return std::visit(
      [](auto&& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "NULL";
        } else if constexpr (std::is_same_v<T, std::string>) {
          return escape(x);
        } else if constexpr (std::is_same_v<T, orv::dal::DateTime>) {
          return orv::server::format_date(x);
        } else if constexpr (std::is_same_v<T, double>) {
          char buf[64];
          auto r = std::to_chars(buf, buf + sizeof buf, x);
          return std::string(buf, r.ptr);
        } else {
          return std::to_string(x);
        }
      },
      v);
}

}  // namespace

int main(int argc, char** argv) {
  std::string server = "(local)", user, password, database, query;
  bool integrated = false, login = false, has_query = false, has_password = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto arg = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "-E") {
      integrated = true;
    } else if (a == "-S" || a == "-U" || a == "-P" || a == "-d" || a == "-Q") {
      if (!(v = arg())) return usage(("option " + a + " needs a value").c_str());
      if (a == "-S") server = v;
      if (a == "-U") user = v, login = true;
      if (a == "-P") password = v, has_password = true;
      if (a == "-d") database = v;
      if (a == "-Q") query = v, has_query = true;
    } else if (a == "-h" || a == "--help") {
      usage("help");
      return 0;
    } else {
      return usage(("unknown option " + a).c_str());
    }
  }
  if (!has_query) return usage("-Q \"statement\" is required");
  if (integrated && login) return usage("-E and -U exclude each other");
  if (!login) integrated = true;

  std::string cs = "Provider=SQLOLEDB.1;";
  if (integrated) {
    cs += "Integrated Security=SSPI;";
  } else {
    if (has_password) cs += "Password=" + value(password) + ";";
    cs += "User ID=" + value(user) + ";";
  }
  cs += "Persist Security Info=False;Data Source=" + value(server);
  if (!database.empty()) cs += ";Initial Catalog=" + value(database);

  try {
    orv::server::register_server_driver();
    orv::dal::DataConnection connection;
    connection.open(cs);
    orv::dal::ResultSet r = connection.provider().execute(query, {});
    if (r.has_rows) {
      std::string line;
      for (std::size_t c = 0; c < r.columns.size(); ++c) line += (c ? "\t" : "") + escape(r.columns[c].name);
      std::cout << line << "\n";
      for (const auto& row : r.rows) {
        line.clear();
        for (std::size_t c = 0; c < row.size(); ++c) line += (c ? "\t" : "") + show(row[c]);
        std::cout << line << "\n";
      }
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
