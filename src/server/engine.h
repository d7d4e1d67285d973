// The local server engine: an in-process stand-in for the SQL Server default instance that
// answers every statement the tool sends, with SQL Server's result columns and error texts.
//
// Storage (under EngineOptions::root):
//   catalog.db           SQLite file: the databases (logical and physical data and log file
//                        names, single-user flag) and the logins
//   data/<name>.sqlite   one real SQLite file per database (its log is the SQLite rollback
//                        journal next to it, "<name>.sqlite-journal")
//   locks/<name>.lock    the use lock of each database (db_lock.h)
//   backup/              where a backup to a relative file name goes
// Several Engine objects, in this process or others, may share one root: all shared state is
// in those files.
//
// Handled statements: Select * From Sysfiles; sp_Databases; sp_tables; USE; Backup database
// ... to Disk= [WITH INIT|FORMAT]; RESTORE HEADERONLY / FILELISTONLY / VERIFYONLY; Restore
// database ... From Disk= [WITH FILE=n, REPLACE]; sp_dboption db, single, true|false; ALTER
// DATABASE db SET SINGLE_USER|MULTI_USER; checkpoint; DBCC DBREINDEX(t); DBCC CHECKTABLE(t
// [, REPAIR_REBUILD]); CREATE/DROP DATABASE; CREATE LOGIN name WITH PASSWORD='p' | FROM
// WINDOWS; DROP LOGIN. Anything else runs as SQLite SQL in the current database (which
// accepts [bracketed] identifiers and '' in literals like SQL Server).
//
// Logins: integrated security is the Unix account running the process and needs a Windows
// login of that name (the catalog's creator gets one); SQL logins have salted password hashes
// and need LoginMode 2.
//
// Errors: every failure throws dal::ProviderError with SQL Server's text and message number.
// Threading: an Engine is thread-safe; each Session is used by one thread at a time.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dal/driver.h"

namespace orv::server {

struct EngineOptions {
  std::filesystem::path root;
  int login_mode = 2;        // 1 = Windows authentication only, 2 = mixed
  bool modern = false;       // behave like SQL Server 2012 and later: sp_dboption is unknown
  std::string server_name;   // reported in backup headers; default: the host name
};

struct LoginRequest {
  bool integrated = false;
  std::string user;
  std::string password;
  std::string database;  // initial database; empty = master
};

class Engine {
 public:
  // Creates the folders and the catalog when missing. Throws dal::ProviderError.
  static std::shared_ptr<Engine> open(const EngineOptions& options);
  ~Engine();

  // Logs in; throws dal::ProviderError("Login failed for user '...'.") and the like.
  std::unique_ptr<dal::Connection> connect(const LoginRequest& login);

  const EngineOptions& options() const;

  struct Impl;

 private:
  explicit Engine(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> impl_;
};

// An informational message of a statement (severity 0-10), e.g. BACKUP's 4035 "Processed N
// pages for database 'X', file 'Y' on file 1." and 3014 "BACKUP DATABASE successfully processed ...".
struct EngineMessage {
  int number = 0;
  std::string text;
};

// The informational messages of the last statement executed on an engine session (also when it
// failed after them), oldest first; taking them empties the list. Other connections: none.
std::vector<EngineMessage> take_messages(dal::Connection& session);

// Stops the statement running on an engine session, from any thread, as Connection::cancel
// does (a backup ends with 3204, other statements with SQLite's "interrupted"). No effect on
// other connections or when nothing runs.
void interrupt(dal::Connection& session);

}  // namespace orv::server
