#include "server/statement.h"

namespace orv::server {

namespace {

std::string doubled(std::string_view text, char open, char close) {
  std::string out;
  out.reserve(text.size() + 2);
  out += open;
  for (char c : text) {
    out += c;
    if (c == close) out += c;
  }
  out += close;
  return out;
}

}  // namespace

std::string quote_identifier(std::string_view name) { return doubled(name, '[', ']'); }

// N'...': a server converts a plain literal to its code page, which loses names outside it.
std::string quote_literal(std::string_view text) { return "N" + doubled(text, '\'', '\''); }

std::string backup_statement(std::string_view database, std::string_view file, bool checksum) {
  return "Backup database " + quote_identifier(database) + " to Disk=" + quote_literal(file) +
         (checksum ? " WITH CHECKSUM" : "");
}

std::string restore_verifyonly_statement(std::string_view file, bool checksum) {
  return "RESTORE VERIFYONLY FROM DISK = " + quote_literal(file) + (checksum ? " WITH CHECKSUM" : "");
}

std::string product_version_statement() {
  return "SELECT CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128)) AS ProductVersion";
}

int product_major_version(std::string_view text) {
  int major = 0;
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && major < 100000; ++i) major = major * 10 + (text[i] - '0');
  return major;
}

std::string restore_move_statement(std::string_view database, std::string_view file,
                                   const std::vector<std::pair<std::string, std::string>>& moves) {
  std::string text = "RESTORE DATABASE " + quote_identifier(database) + " FROM DISK = " + quote_literal(file);
  for (std::size_t i = 0; i < moves.size(); ++i)
    text += (i == 0 ? " WITH MOVE " : ", MOVE ") + quote_literal(moves[i].first) + " TO " +
            quote_literal(moves[i].second);
  return text;
}

std::string checkdb_statement(std::string_view database) {
  return "DBCC CHECKDB(" + quote_identifier(database) + ") WITH NO_INFOMSGS";
}

std::string drop_database_statement(std::string_view database) { return "DROP DATABASE " + quote_identifier(database); }

std::string restore_headeronly_statement(std::string_view file) {
  return "RESTORE HEADERONLY\nFROM DISK=" + quote_literal(file);
}

std::string restore_filelistonly_statement(std::string_view file) {
  return "RESTORE FILELISTONLY\nFROM DISK=" + quote_literal(file);
}

std::string restore_statement(std::string_view database, std::string_view file) {
  // The operator has confirmed that the restore replaces the database (SQL Server refuses it
  // otherwise with 3159 when the log tail was not backed up).
  return "Restore database " + quote_identifier(database) + " From Disk=" + quote_literal(file) + " WITH REPLACE";
}

std::string use_statement(std::string_view database) { return "USE " + quote_identifier(database); }

std::string single_user_statement(std::string_view database, bool on) {
  return "sp_dboption " + quote_literal(database) + ", 'single', " + (on ? "'true'" : "'false'");
}

std::string dbreindex_statement(std::string_view table) {
  return "DBCC DBREINDEX(" + quote_identifier(table) + ")";
}

std::string checktable_repair_statement(std::string_view table) {
  return "DBCC CHECKTABLE(" + quote_identifier(table) + ",REPAIR_REBUILD)";
}

}  // namespace orv::server
