#include "server/sql_errors.h"

#include <cctype>

#include "dal/driver.h"

namespace orv::server {

std::string strip_national_prefix(std::string_view sql) {
  std::string out;
  out.reserve(sql.size());
  std::size_t i = 0;
  auto skip_quoted = [&](char close) {
    std::size_t j = i + 1;
    while (j < sql.size()) {
      if (sql[j] == close) {
        if (j + 1 < sql.size() && sql[j + 1] == close && close != ']') { j += 2; continue; }
        if (close == ']' && j + 1 < sql.size() && sql[j + 1] == ']') { j += 2; continue; }
        break;
      }
      ++j;
    }
    std::size_t end = std::min(j + 1, sql.size());
    out.append(sql.substr(i, end - i));
    i = end;
  };
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '[') {
      skip_quoted(']');
    } else if (c == '"' || c == '\'') {
      skip_quoted(c);
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      std::size_t j = sql.find('\n', i);
      if (j == std::string_view::npos) j = sql.size();
      out.append(sql.substr(i, j - i));
      i = j;
    } else if ((c == 'N' || c == 'n') && i + 1 < sql.size() && sql[i + 1] == '\'' &&
               (i == 0 || !(std::isalnum(static_cast<unsigned char>(sql[i - 1])) || sql[i - 1] == '_' ||
                            sql[i - 1] == '@' || sql[i - 1] == '$'))) {
      ++i;  // the literal itself follows
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

namespace {

bool starts(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

// "T.c" -> ("T", "c").
std::pair<std::string, std::string> split_column(const std::string& qualified) {
  std::string first = qualified.substr(0, qualified.find(','));
  auto dot = first.find('.');
  if (dot == std::string::npos) return {"", first};
  return {first.substr(0, dot), first.substr(dot + 1)};
}

}  // namespace

void map_sqlite_error(const std::string& message, int code, const std::string& database, int& number,
                      std::string& text) {
  number = code;
  text = message;
  if (starts(message, "no such table: ")) {
    std::string name = message.substr(15);
    if (auto dot = name.find('.'); starts(name, "main.") && dot != std::string::npos) name = name.substr(dot + 1);
    number = 208;
    text = "Invalid object name '" + name + "'.";
  } else if (starts(message, "no such column: ")) {
    number = 207;
    text = "Invalid column name '" + message.substr(16) + "'.";
  } else if (starts(message, "near \"") && message.find("\": syntax error") != std::string::npos) {
    number = 102;
    text = "Incorrect syntax near '" + message.substr(6, message.find("\": syntax error") - 6) + "'.";
  } else if (message.find("incomplete input") != std::string::npos) {
    number = 102;
    text = "Incorrect syntax near the end of the statement.";
  } else if (starts(message, "UNIQUE constraint failed: ")) {
    auto [table, column] = split_column(message.substr(26));
    bool primary = (code & 0xFF) == SQLITE_CONSTRAINT && code == SQLITE_CONSTRAINT_PRIMARYKEY;
    number = 2627;
    text = std::string("Violation of ") + (primary ? "PRIMARY KEY" : "UNIQUE KEY") + " constraint '" +
           (primary ? "PK_" : "UQ_") + table + "'. Cannot insert duplicate key in object 'dbo." + table + "'.";
  } else if (starts(message, "NOT NULL constraint failed: ")) {
    auto [table, column] = split_column(message.substr(28));
    number = 515;
    text = "Cannot insert the value NULL into column '" + column + "', table '" + database + ".dbo." + table +
           "'; column does not allow nulls. INSERT fails.";
  }
}

void raise_sqlite_error(sqlite3* db, const std::string& database) {
  int number = 0;
  std::string text;
  map_sqlite_error(sqlite3_errmsg(db), sqlite3_extended_errcode(db), database, number, text);
  throw dal::ProviderError(text, number);
}

}  // namespace orv::server
