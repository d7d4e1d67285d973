#include "server/parser.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace orv::server {

namespace {

bool word_char(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
}

std::string upper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
  return out;
}

// Reads a quoted run starting after the opening character; a doubled closing character stands
// for itself. Returns the position after the closing character, or npos when it never closes.
std::size_t read_quoted(std::string_view sql, std::size_t i, char close, std::string& out) {
  while (i < sql.size()) {
    if (sql[i] == close) {
      if (i + 1 < sql.size() && sql[i + 1] == close) {
        out += close;
        i += 2;
        continue;
      }
      return i + 1;
    }
    out += sql[i++];
  }
  return std::string_view::npos;
}

std::string near_text(std::string_view sql, std::size_t offset) {
  std::size_t end = offset;
  while (end < sql.size() && !std::isspace(static_cast<unsigned char>(sql[end])) && end - offset < 30) ++end;
  return std::string(sql.substr(offset, std::max<std::size_t>(end - offset, 1)));
}

class Parser {
 public:
  explicit Parser(std::string_view sql) : sql_(sql), tokens_(tokenize(sql)) {}

  Statement parse();

 private:
  const Token& peek(std::size_t ahead = 0) const {
    std::size_t i = std::min(pos_ + ahead, tokens_.size() - 1);
    return tokens_[i];
  }
  const Token& next() {
    const Token& t = tokens_[pos_];
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return t;
  }
  bool is_word(const Token& t, std::string_view w) const { return t.kind == Token::Word && upper(t.text) == w; }
  bool accept_word(std::string_view w) {
    if (is_word(peek(), w)) {
      next();
      return true;
    }
    return false;
  }
  bool accept_symbol(char c) {
    if (peek().kind == Token::Symbol && peek().text[0] == c) {
      next();
      return true;
    }
    return false;
  }
  [[noreturn]] void fail() const {
    const Token& t = peek();
    if (t.kind == Token::End) throw ParseError("Incorrect syntax near the end of the statement.", 102);
    throw ParseError("Incorrect syntax near '" + near_text(sql_, t.offset) + "'.", 102);
  }
  void expect_word(std::string_view w) {
    if (!accept_word(w)) fail();
  }
  void expect_symbol(char c) {
    if (!accept_symbol(c)) fail();
  }
  void expect_end() {
    while (accept_symbol(';')) {
    }
    if (peek().kind != Token::End) fail();
  }
  // One name part: a bare word, a bracketed or double-quoted identifier.
  std::string name_part() {
    const Token& t = peek();
    if (t.kind == Token::Word || t.kind == Token::Identifier) return next().text;
    fail();
  }
  // A possibly qualified name (db.owner.name); returns the last part.
  std::string object_name() {
    std::string last = name_part();
    while (accept_symbol('.')) last = name_part();
    return last;
  }
  // A name given as an identifier or as a string literal (sp_dboption, DBCC accept both).
  std::string name_or_literal() {
    if (peek().kind == Token::String) {
      std::string text = next().text;
      // A literal may itself hold a bracketed or qualified name: take its last part.
      std::vector<Token> inner = tokenize(text);
      if (inner.size() >= 2 && (inner[0].kind == Token::Identifier || inner[0].kind == Token::Word)) {
        std::string last = inner[0].text;
        std::size_t i = 1;
        while (i + 1 < inner.size() && inner[i].kind == Token::Symbol && inner[i].text == "." &&
               (inner[i + 1].kind == Token::Identifier || inner[i + 1].kind == Token::Word)) {
          last = inner[i + 1].text;
          i += 2;
        }
        if (inner[i].kind == Token::End) return last;
      }
      return text;
    }
    return object_name();
  }
  std::string string_literal() {
    if (peek().kind != Token::String) fail();
    return next().text;
  }
  int number() {
    if (peek().kind != Token::Number) fail();
    const std::string& text = next().text;
    if (text.size() > 9) throw ParseError("The value '" + text + "' is out of range.", 8115);
    return std::stoi(text);
  }
  std::string disk_clause() {
    expect_word("DISK");
    expect_symbol('=');
    return string_literal();
  }

  std::optional<stmt::ServerProperty> parse_server_property();
  Statement parse_backup();
  Statement parse_restore();
  Statement parse_dbcc();
  Statement parse_procedure(const std::string& name);
  Statement parse_create();
  Statement parse_drop();
  Statement parse_alter();

  std::string_view sql_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
};

// Procedure names may be written with a "master.dbo." or "dbo." prefix.
std::string procedure_name(const std::vector<std::string>& parts) { return upper(parts.back()); }

Statement Parser::parse() {
  const Token& first = peek();
  if (first.kind == Token::End) throw ParseError("Command text was not set for the command object.", 0);
  if (first.kind != Token::Word) fail();
  std::string head = upper(first.text);

  if (head == "SELECT") {
    if (auto property = parse_server_property()) return *property;
    // The login probe "Select * From Sysfiles" is answered by the engine; every other
    // SELECT goes to the database.
    if (is_word(peek(1), "*") || (peek(1).kind == Token::Symbol && peek(1).text == "*")) {
      std::size_t save = pos_;
      next();
      next();
      if (accept_word("FROM")) {
        std::vector<std::string> parts{name_part()};
        while (accept_symbol('.')) parts.push_back(name_part());
        if (upper(parts.back()) == "SYSFILES" && (parts.size() == 1 || upper(parts.front()) != "SQLITE_MASTER")) {
          while (accept_symbol(';')) {
          }
          if (peek().kind == Token::End) return stmt::SelectSysfiles{};
        }
      }
      pos_ = save;
    }
    return stmt::Passthrough{std::string(sql_)};
  }
  if (head == "BACKUP") return parse_backup();
  if (head == "RESTORE") return parse_restore();
  if (head == "DBCC") return parse_dbcc();
  if (head == "USE") {
    next();
    stmt::Use use{name_part()};
    expect_end();
    return use;
  }
  if (head == "CHECKPOINT") {
    next();
    if (peek().kind == Token::Number) next();
    expect_end();
    return stmt::Checkpoint{};
  }
  if (head == "CREATE" && (is_word(peek(1), "DATABASE") || is_word(peek(1), "LOGIN"))) return parse_create();
  if (head == "DROP" && (is_word(peek(1), "DATABASE") || is_word(peek(1), "LOGIN"))) return parse_drop();
  if (head == "ALTER" && is_word(peek(1), "DATABASE")) return parse_alter();
  if (head == "EXEC" || head == "EXECUTE") {
    next();
    std::vector<std::string> parts{name_part()};
    while (accept_symbol('.')) parts.push_back(name_part());
    return parse_procedure(procedure_name(parts));
  }
  if (head.rfind("SP_", 0) == 0 || head == "MASTER" || head == "DBO") {
    std::vector<std::string> parts{name_part()};
    while (accept_symbol('.')) parts.push_back(name_part());
    std::string name = procedure_name(parts);
    if (name.rfind("SP_", 0) == 0) return parse_procedure(name);
    return stmt::Passthrough{std::string(sql_)};
  }
  return stmt::Passthrough{std::string(sql_)};
}

Statement Parser::parse_procedure(const std::string& name) {
  if (name == "SP_DATABASES") {
    expect_end();
    return stmt::SpDatabases{};
  }
  if (name == "SP_TABLES") {
    expect_end();
    return stmt::SpTables{};
  }
  if (name == "SP_DBOPTION") {
    // sp_dboption [dbname [, option [, value]]]; arguments as names or literals.
    stmt::DbOption o;
    std::vector<std::string> args;
    while (peek().kind != Token::End && !(peek().kind == Token::Symbol && peek().text == ";")) {
      if (!args.empty()) expect_symbol(',');
      if (peek().kind == Token::Word && peek().text[0] == '@') {
        next();
        expect_symbol('=');
      }
      const Token& t = peek();
      if (t.kind == Token::String || t.kind == Token::Word || t.kind == Token::Identifier || t.kind == Token::Number)
        args.push_back(next().text);
      else
        fail();
    }
    expect_end();
    if (args.size() > 3) throw ParseError("Procedure or function sp_dboption has too many arguments specified.", 8144);
    if (!args.empty()) o.database = args[0];
    if (args.size() > 1) o.option = args[1];
    if (args.size() > 2) o.value = args[2];
    return o;
  }
  throw ParseError("Could not find stored procedure '" + name + "'.", 2812);
}

// SELECT SERVERPROPERTY('x') [AS alias] or SELECT CAST(SERVERPROPERTY('x') AS type[(n)]) [AS alias];
// nothing (position unchanged) for any other SELECT.
std::optional<stmt::ServerProperty> Parser::parse_server_property() {
  const std::size_t save = pos_;
  next();
  const bool cast = accept_word("CAST");
  if ((!cast || accept_symbol('(')) && accept_word("SERVERPROPERTY") && accept_symbol('(') &&
      peek().kind == Token::String) {
    stmt::ServerProperty p{next().text, ""};
    bool ok = accept_symbol(')');
    if (ok && cast) {
      ok = accept_word("AS") && peek().kind == Token::Word;
      if (ok) next();
      if (ok && accept_symbol('(')) ok = peek().kind == Token::Number && (next(), accept_symbol(')'));
      ok = ok && accept_symbol(')');
    }
    if (ok && accept_word("AS")) {
      if (peek().kind == Token::Word || peek().kind == Token::Identifier || peek().kind == Token::String)
        p.alias = next().text;
      else
        ok = false;
    }
    while (ok && accept_symbol(';')) {
    }
    if (ok && peek().kind == Token::End) return p;
  }
  pos_ = save;
  return std::nullopt;
}

Statement Parser::parse_backup() {
  next();
  if (accept_word("LOG")) throw ParseError("BACKUP LOG is not supported by this server.", 4208);
  expect_word("DATABASE");
  stmt::Backup b;
  b.database = name_part();
  expect_word("TO");
  b.disk = disk_clause();
  if (accept_word("WITH")) {
    do {
      const Token& t = peek();
      if (t.kind != Token::Word) fail();
      std::string opt = upper(next().text);
      if (opt == "INIT" || opt == "FORMAT") {
        b.init = true;
      } else if (opt == "NOINIT" || opt == "NOFORMAT" || opt == "SKIP" || opt == "NOSKIP" || opt == "CHECKSUM" ||
                 opt == "NO_CHECKSUM") {
      } else if (opt == "NAME" || opt == "DESCRIPTION") {
        expect_symbol('=');
        string_literal();
      } else if (opt == "STATS") {
        if (accept_symbol('=')) number();
      } else {
        throw ParseError("'" + t.text + "' is not a recognized BACKUP option.", 155);
      }
    } while (accept_symbol(','));
  }
  expect_end();
  return b;
}

Statement Parser::parse_restore() {
  next();
  if (accept_word("HEADERONLY")) {
    expect_word("FROM");
    stmt::RestoreHeaderOnly h{disk_clause()};
    expect_end();
    return h;
  }
  if (accept_word("FILELISTONLY")) {
    expect_word("FROM");
    stmt::RestoreFileListOnly f{disk_clause()};
    if (accept_word("WITH")) {
      expect_word("FILE");
      expect_symbol('=');
      f.file = number();
    }
    expect_end();
    return f;
  }
  if (accept_word("VERIFYONLY")) {
    expect_word("FROM");
    stmt::RestoreVerifyOnly v{disk_clause()};
    if (accept_word("WITH")) {
      do {
        const Token& t = peek();
        if (t.kind != Token::Word) fail();
        std::string opt = upper(next().text);
        if (opt == "CHECKSUM") {
          v.checksum = true;
        } else if (opt == "NO_CHECKSUM" || opt == "LOADHISTORY" || opt == "CONTINUE_AFTER_ERROR" ||
                   opt == "STOP_ON_ERROR") {
        } else if (opt == "FILE") {
          expect_symbol('=');
          v.file = number();
        } else if (opt == "STATS") {
          if (accept_symbol('=')) number();
        } else {
          throw ParseError("'" + t.text + "' is not a recognized RESTORE option.", 155);
        }
      } while (accept_symbol(','));
    }
    expect_end();
    return v;
  }
  if (accept_word("LOG")) throw ParseError("RESTORE LOG is not supported by this server.", 3032);
  expect_word("DATABASE");
  stmt::Restore r;
  r.database = name_part();
  expect_word("FROM");
  r.disk = disk_clause();
  if (accept_word("WITH")) {
    do {
      const Token& t = peek();
      if (t.kind != Token::Word) fail();
      std::string opt = upper(next().text);
      if (opt == "FILE") {
        expect_symbol('=');
        r.file = number();
      } else if (opt == "REPLACE") {
        r.replace = true;
      } else if (opt == "RECOVERY" || opt == "CHECKSUM" || opt == "NO_CHECKSUM") {
      } else if (opt == "MOVE") {
        std::string logical = string_literal();
        expect_word("TO");
        r.moves.emplace_back(std::move(logical), string_literal());
      } else if (opt == "STATS") {
        if (accept_symbol('=')) number();
      } else {
        throw ParseError("'" + t.text + "' is not a recognized RESTORE option.", 155);
      }
    } while (accept_symbol(','));
  }
  expect_end();
  return r;
}

Statement Parser::parse_dbcc() {
  next();
  if (peek().kind != Token::Word) fail();
  std::string command = upper(next().text);
  if (command == "CHECKDB") {
    // DBCC CHECKDB, DBCC CHECKDB(name), DBCC CHECKDB('name') [WITH option, ...]
    stmt::DbccCheckdb c;
    if (accept_symbol('(')) {
      if (peek().kind == Token::Number && peek().text == "0") next();
      else c.database = name_or_literal();
      if (accept_symbol(',')) {
        if (peek().kind != Token::Word) fail();
        next();
      }
      expect_symbol(')');
    }
    if (accept_word("WITH")) {
      do {
        if (peek().kind != Token::Word) fail();
        next();
      } while (accept_symbol(','));
    }
    expect_end();
    return c;
  }
  if (command != "DBREINDEX" && command != "CHECKTABLE")
    throw ParseError("'" + command + "' is not a recognized DBCC statement.", 2526);
  expect_symbol('(');
  std::string table = name_or_literal();
  std::string repair;
  if (command == "DBREINDEX") {
    // Optional index name and fill factor are accepted; every index is rebuilt.
    if (accept_symbol(',')) {
      if (peek().kind == Token::String || peek().kind == Token::Word || peek().kind == Token::Identifier) next();
      if (accept_symbol(',')) number();
    }
  } else if (accept_symbol(',')) {
    if (peek().kind != Token::Word) fail();
    repair = upper(next().text);
    if (repair != "REPAIR_REBUILD" && repair != "REPAIR_FAST" && repair != "REPAIR_ALLOW_DATA_LOSS" &&
        repair != "NOINDEX")
      fail();
    if (repair == "NOINDEX") repair.clear();
  }
  expect_symbol(')');
  if (accept_word("WITH")) {
    do {
      if (peek().kind != Token::Word) fail();
      next();
    } while (accept_symbol(','));
  }
  expect_end();
  if (command == "DBREINDEX") return stmt::DbccDbreindex{table};
  return stmt::DbccChecktable{table, repair};
}

Statement Parser::parse_create() {
  next();
  if (accept_word("DATABASE")) {
    stmt::CreateDatabase c{name_part()};
    expect_end();
    return c;
  }
  expect_word("LOGIN");
  stmt::CreateLogin c;
  c.name = name_part();
  if (accept_word("FROM")) {
    expect_word("WINDOWS");
    c.unix_account = true;
  } else {
    expect_word("WITH");
    expect_word("PASSWORD");
    expect_symbol('=');
    c.password = string_literal();
  }
  expect_end();
  return c;
}

Statement Parser::parse_drop() {
  next();
  if (accept_word("DATABASE")) {
    stmt::DropDatabase d{name_part()};
    expect_end();
    return d;
  }
  expect_word("LOGIN");
  stmt::DropLogin d{name_part()};
  expect_end();
  return d;
}

Statement Parser::parse_alter() {
  next();
  expect_word("DATABASE");
  stmt::SetUserMode m;
  m.database = name_part();
  expect_word("SET");
  if (accept_word("SINGLE_USER"))
    m.single = true;
  else if (accept_word("MULTI_USER"))
    m.single = false;
  else
    fail();
  if (accept_word("WITH")) {
    if (accept_word("ROLLBACK")) {
      if (!accept_word("IMMEDIATE")) {
        expect_word("AFTER");
        number();
        accept_word("SECONDS");
      }
    } else {
      expect_word("NO_WAIT");
    }
  }
  expect_end();
  return m;
}

}  // namespace

std::vector<Token> tokenize(std::string_view sql) {
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      std::size_t end = sql.find("*/", i + 2);
      if (end == std::string_view::npos) throw ParseError("Missing end comment mark '*/'.", 113);
      i = end + 2;
      continue;
    }
    Token t;
    t.offset = i;
    if (c == '[' || c == '"') {
      t.kind = Token::Identifier;
      std::size_t end = read_quoted(sql, i + 1, c == '[' ? ']' : '"', t.text);
      if (end == std::string_view::npos)
        throw ParseError("Unclosed quotation mark after the character string '" + t.text + "'.", 105);
      if (t.text.empty()) throw ParseError("An object or column name is missing or empty.", 1038);
      i = end;
    } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < sql.size() && sql[i + 1] == '\'')) {
      t.kind = Token::String;
      std::size_t start = c == '\'' ? i + 1 : i + 2;
      std::size_t end = read_quoted(sql, start, '\'', t.text);
      if (end == std::string_view::npos)
        throw ParseError("Unclosed quotation mark after the character string '" + t.text + "'.", 105);
      i = end;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      t.kind = Token::Number;
      while (i < sql.size() && std::isdigit(static_cast<unsigned char>(sql[i]))) t.text += sql[i++];
    } else if (word_char(c)) {
      t.kind = Token::Word;
      while (i < sql.size() && word_char(sql[i])) t.text += sql[i++];
    } else {
      t.kind = Token::Symbol;
      t.text = std::string(1, c);
      ++i;
    }
    out.push_back(std::move(t));
  }
  Token end;
  end.kind = Token::End;
  end.offset = sql.size();
  out.push_back(end);
  return out;
}

Statement parse_statement(std::string_view sql) { return Parser(sql).parse(); }

}  // namespace orv::server
