// Statement parser of the local server engine: turns the text of one statement into the
// command it names, reading identifiers and literals the way SQL Server does.
//
// Identifiers: bare words, [bracketed] with "]]" for "]", or "double-quoted" with "\"\"" for
// "\"". Literals: 'text' with "''" for "'", optionally N'text'. Keywords match without regard to
// letter case. Comments (-- to end of line, /* */) and a trailing ";" are ignored.
// Statements the engine does not handle itself (SELECT, INSERT, CREATE TABLE, ...) come back
// as Passthrough with the original text, for the database's own SQL engine.
//
// parse_statement() is pure and thread-safe. Malformed input throws ParseError whose text
// follows SQL Server ("Incorrect syntax near 'x'.", "Unclosed quotation mark ...").
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orv::server {

class ParseError : public std::runtime_error {
 public:
  explicit ParseError(const std::string& text, int number = 102) : std::runtime_error(text), number_(number) {}
  int number() const { return number_; }

 private:
  int number_;
};

struct Token {
  enum Kind { Word, Identifier, String, Number, Symbol, End };
  Kind kind = End;
  std::string text;  // Word: as written; Identifier/String: unquoted value; Symbol: the character
  std::size_t offset = 0;
};

// Splits a statement into tokens; throws ParseError on an unclosed quote or bracket.
std::vector<Token> tokenize(std::string_view sql);

namespace stmt {
struct SelectSysfiles {};
struct SpDatabases {};
struct SpTables {};
struct Checkpoint {};
struct Backup {
  std::string database;
  std::string disk;
  bool init = false;  // INIT / FORMAT: replace the file instead of appending a set
};
struct RestoreHeaderOnly {
  std::string disk;
};
struct RestoreFileListOnly {
  std::string disk;
  int file = 1;
};
struct RestoreVerifyOnly {
  std::string disk;
  bool checksum = false;  // WITH CHECKSUM
  int file = 0;           // WITH FILE = n; 0 (not given): every set
};
struct Restore {
  std::string database;
  std::string disk;
  int file = 1;       // WITH FILE = n
  bool replace = false;
  std::vector<std::pair<std::string, std::string>> moves;  // WITH MOVE 'logical' TO 'physical'
};
// SELECT SERVERPROPERTY('name') [AS alias], also inside CAST(... AS type).
struct ServerProperty {
  std::string property;
  std::string alias;
};
struct Use {
  std::string database;
};
struct DbOption {
  std::string database;
  std::string option;
  std::string value;  // empty when not given
};
struct SetUserMode {
  std::string database;
  bool single = false;
};
struct DbccDbreindex {
  std::string table;
};
struct DbccCheckdb {
  std::string database;  // empty: the current database
};
struct DbccChecktable {
  std::string table;
  std::string repair;  // "", "REPAIR_REBUILD", "REPAIR_FAST", "REPAIR_ALLOW_DATA_LOSS"
};
struct CreateDatabase {
  std::string database;
};
struct DropDatabase {
  std::string database;
};
struct CreateLogin {
  std::string name;
  std::string password;
  bool unix_account = false;  // CREATE LOGIN [name] FROM WINDOWS
};
struct DropLogin {
  std::string name;
};
struct Passthrough {
  std::string sql;
};
}  // namespace stmt

using Statement =
    std::variant<stmt::SelectSysfiles, stmt::SpDatabases, stmt::SpTables, stmt::Checkpoint, stmt::Backup,
                 stmt::RestoreHeaderOnly, stmt::RestoreFileListOnly, stmt::RestoreVerifyOnly, stmt::Restore,
                 stmt::Use, stmt::DbOption, stmt::SetUserMode, stmt::DbccDbreindex, stmt::DbccChecktable,
                 stmt::CreateDatabase, stmt::DropDatabase, stmt::CreateLogin, stmt::DropLogin, stmt::Passthrough,
                 stmt::ServerProperty, stmt::DbccCheckdb>;

Statement parse_statement(std::string_view sql);

}  // namespace orv::server
