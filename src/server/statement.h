// Statement builder: the one place where server statements are put together from names.
//
// Database, table and file names come from the operator, the settings database or the server
// itself and may hold spaces, quotes or brackets. Every function here quotes them the way
// SQL Server reads them back: identifiers as [name] with "]" doubled, string literals as
// N'text' with "'" doubled. The local server engine (engine.h) parses both forms the same way.
// Every caller that sends a statement to the server builds it here.
//
// Pure functions, no state; safe from any thread. Nothing here throws except std::bad_alloc.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::server {

// [name] with every "]" doubled: "a]b" -> "[a]]b]".
std::string quote_identifier(std::string_view name);
// N'text' with every "'" doubled: "O'Neil" -> "N'O''Neil'".
std::string quote_literal(std::string_view text);

// "Backup database [db] to Disk=N'file'" (no WITH clause: appends a backup set to an existing file);
// with checksum "... WITH CHECKSUM" (SQL Server 2005 and later).
std::string backup_statement(std::string_view database, std::string_view file, bool checksum = false);
// "RESTORE VERIFYONLY FROM DISK = N'file'", with checksum " WITH CHECKSUM".
std::string restore_verifyonly_statement(std::string_view file, bool checksum);
// The server's version as one text column "ProductVersion" ("9.00.1399.06" on SQL Server 2005).
std::string product_version_statement();
// The major version in a ProductVersion text ("9.00.1399.06" -> 9); 0 when it has none.
int product_major_version(std::string_view text);
// The first version whose BACKUP and RESTORE VERIFYONLY take WITH CHECKSUM (SQL Server 2005).
inline constexpr int kChecksumMajorVersion = 9;
// "RESTORE DATABASE [db] FROM DISK = N'file' WITH MOVE N'logical' TO N'path', ..." (no WITH
// clause when moves is empty).
std::string restore_move_statement(std::string_view database, std::string_view file,
                                   const std::vector<std::pair<std::string, std::string>>& moves);
// "DBCC CHECKDB([db]) WITH NO_INFOMSGS".
std::string checkdb_statement(std::string_view database);
// "DROP DATABASE [db]".
std::string drop_database_statement(std::string_view database);
// "RESTORE HEADERONLY" line break "FROM DISK='file'".
std::string restore_headeronly_statement(std::string_view file);
// "RESTORE FILELISTONLY" line break "FROM DISK='file'".
std::string restore_filelistonly_statement(std::string_view file);
// "Restore database [db] From Disk=N'file' WITH REPLACE".
std::string restore_statement(std::string_view database, std::string_view file);
// "USE [db]".
std::string use_statement(std::string_view database);
// "sp_dboption 'db', 'single', 'true'" (or 'false').
std::string single_user_statement(std::string_view database, bool on);
// "DBCC DBREINDEX([table])".
std::string dbreindex_statement(std::string_view table);
// "DBCC CHECKTABLE([table],REPAIR_REBUILD)".
std::string checktable_repair_statement(std::string_view table);

}  // namespace orv::server
