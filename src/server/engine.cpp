#include "server/engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/file_names.h"
#include "platform/file_write.h"
#include "platform/paths.h"
#include "server/backup_format.h"
#include "server/db_lock.h"
#include "server/parser.h"
#include "server/sha256.h"
#include "server/sql_errors.h"
#include "server/sqlite_util.h"

namespace orv::server {

namespace fs = std::filesystem;
using dal::ColumnInfo;
using dal::ProviderError;
using dal::ResultSet;
using dal::Value;
using dal::ValueKind;

namespace {

[[noreturn]] void raise(int number, const std::string& text) { throw ProviderError(text, number); }

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool same_name(std::string_view a, std::string_view b) { return lower(a) == lower(b); }

bool is_master(std::string_view name) { return same_name(name, "master"); }

std::string os_error(int e) { return "Operating system error " + std::to_string(e) + "(" + std::strerror(e) + ")."; }

std::string host_name() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "localhost";
  return buf;
}

ColumnInfo col(std::string name, ValueKind kind, int width = 0) { return ColumnInfo{std::move(name), kind, width}; }

void fsync_folder(const fs::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

struct DbInfo {
  std::string name;
  std::string data_logical;
  std::string data_physical;
  std::string log_logical;
  std::string log_physical;
  bool single_user = false;
};

}  // namespace

struct Engine::Impl {
  EngineOptions options;
  std::mutex mutex;  // guards the catalog handle
  SqliteDb catalog;

  fs::path catalog_path() const { return options.root / "catalog.db"; }
  fs::path data_folder() const { return options.root / "data"; }
  fs::path lock_folder() const { return options.root / "locks"; }
  fs::path backup_folder() const { return options.root / "backup"; }
  fs::path lock_file(const std::string& name) const {
    return lock_folder() / (platform::file_stem_of_name(lower(name)) + ".lock");
  }

  void init() {
    std::error_code ec;
    // The catalog holds password hashes and the data folder the databases: owner only.
    if (fs::create_directories(options.root, ec)) fs::permissions(options.root, fs::perms::owner_all, ec);
    for (const auto& f : {options.root, data_folder(), lock_folder(), backup_folder()}) {
      fs::create_directories(f, ec);
      if (ec) raise(5123, "CREATE FILE encountered operating system error " + std::to_string(ec.value()) + "(" +
                              ec.message() + ") while attempting to open or create the physical file '" +
                              f.string() + "'.");
    }
    catalog = SqliteDb(catalog_path().string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX);
    sqlite3_busy_timeout(catalog.get(), 60000);
    catalog.exec(
        "BEGIN IMMEDIATE;"
        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);"
        "CREATE TABLE IF NOT EXISTS databases(name TEXT PRIMARY KEY COLLATE NOCASE, data_logical TEXT NOT NULL,"
        " data_physical TEXT NOT NULL, log_logical TEXT NOT NULL, log_physical TEXT NOT NULL,"
        " single_user INTEGER NOT NULL DEFAULT 0);"
        "CREATE TABLE IF NOT EXISTS logins(name TEXT PRIMARY KEY COLLATE NOCASE, kind TEXT NOT NULL,"
        " salt TEXT, hash TEXT);");
    try {
      SqliteStmt q(catalog, "SELECT value FROM meta WHERE key='created'");
      if (!q.step()) {
        // The account that creates the server is its first (Windows) login, as at set-up.
        SqliteStmt ins(catalog, "INSERT OR IGNORE INTO logins(name, kind) VALUES(?, 'U')");
        ins.bind(1, platform::current_user_name()).step();
        SqliteStmt m(catalog, "INSERT INTO meta(key, value) VALUES('created', ?)");
        m.bind(1, format_date(now_local())).step();
      }
      catalog.exec("COMMIT");
    } catch (...) {
      sqlite3_exec(catalog.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  static DbInfo row_info(const SqliteStmt& q) {
    return DbInfo{q.text(0), q.text(1), q.text(2), q.text(3), q.text(4), q.integer(5) != 0};
  }

  std::optional<DbInfo> find_db(const std::string& name) {
    std::lock_guard lock(mutex);
    SqliteStmt q(catalog,
                 "SELECT name, data_logical, data_physical, log_logical, log_physical, single_user FROM databases "
                 "WHERE name = ?");
    q.bind(1, name);
    if (!q.step()) return std::nullopt;
    return row_info(q);
  }

  std::vector<DbInfo> list_dbs() {
    std::lock_guard lock(mutex);
    SqliteStmt q(catalog,
                 "SELECT name, data_logical, data_physical, log_logical, log_physical, single_user FROM databases "
                 "ORDER BY name");
    std::vector<DbInfo> out;
    while (q.step()) out.push_back(row_info(q));
    return out;
  }

  void put_db(const DbInfo& d) {
    std::lock_guard lock(mutex);
    SqliteStmt q(catalog,
                 "INSERT OR REPLACE INTO databases(name, data_logical, data_physical, log_logical, log_physical,"
                 " single_user) VALUES(?, ?, ?, ?, ?, ?)");
    q.bind(1, d.name).bind(2, d.data_logical).bind(3, d.data_physical).bind(4, d.log_logical);
    q.bind(5, d.log_physical).bind(6, d.single_user ? 1LL : 0LL).step();
  }

  void drop_db(const std::string& name) {
    std::lock_guard lock(mutex);
    SqliteStmt q(catalog, "DELETE FROM databases WHERE name = ?");
    q.bind(1, name).step();
  }

  void set_single(const std::string& name, bool single) {
    std::lock_guard lock(mutex);
    SqliteStmt q(catalog, "UPDATE databases SET single_user = ? WHERE name = ?");
    q.bind(1, single ? 1LL : 0LL).bind(2, name).step();
  }

  // Kind 'U' (Unix account) or 'S' (SQL login with password); nullopt when unknown.
  std::optional<std::pair<std::string, std::pair<std::string, std::string>>> find_login(const std::string& name) {
    std::lock_guard lock(mutex);
    SqliteStmt q(catalog, "SELECT kind, salt, hash FROM logins WHERE name = ?");
    q.bind(1, name);
    if (!q.step()) return std::nullopt;
    return std::make_pair(q.text(0), std::make_pair(q.text(1), q.text(2)));
  }

  void add_login(const std::string& name, bool unix_account, const std::string& password) {
    std::lock_guard lock(mutex);
    SqliteStmt q(catalog, "INSERT INTO logins(name, kind, salt, hash) VALUES(?, ?, ?, ?)");
    std::string salt = unix_account ? "" : new_salt();
    q.bind(1, name).bind(2, unix_account ? "U" : "S").bind(3, salt);
    q.bind(4, unix_account ? "" : password_hash(salt, password));
    q.step();
  }

  bool drop_login(const std::string& name) {
    std::lock_guard lock(mutex);
    SqliteStmt q(catalog, "DELETE FROM logins WHERE name = ?");
    q.bind(1, name).step();
    return sqlite3_changes(catalog.get()) > 0;
  }
};

namespace {

[[noreturn]] void no_database(const std::string& name, const std::string& suffix = "") {
  raise(911, "Could not locate entry in sysdatabases for database '" + name +
                 "'. No entry found with that name. Make sure that the name is entered correctly." + suffix);
}

class Session : public dal::Connection {
 public:
  Session(std::shared_ptr<Engine::Impl> engine, std::string login) : e_(std::move(engine)), login_(std::move(login)) {}
  ~Session() override { leave(); }

  dal::ResultSet execute(std::string_view sql, const std::vector<dal::Param>& params) override;
  void set_command_timeout(std::chrono::seconds timeout) override {
    long long ms = timeout.count() > INT_MAX / 1000 ? INT_MAX : static_cast<long long>(timeout.count()) * 1000;
    busy_ms_ = static_cast<int>(ms);
    if (db_) sqlite3_busy_timeout(db_.get(), busy_ms_);
  }
  bool cancel() override {
    cancel_ = true;
    std::lock_guard lock(db_mutex_);
    if (db_) sqlite3_interrupt(db_.get());
    return true;
  }

  void enter(const std::string& name);
  std::vector<EngineMessage> take_messages() { return std::exchange(messages_, {}); }
  // ATTENTION of a TDS client: the same as cancel().
  void interrupt() { (void)cancel(); }

 private:
  void note(int number, std::string text) { messages_.push_back(EngineMessage{number, std::move(text)}); }
  void leave() {
    std::lock_guard lock(db_mutex_);
    db_.close();
    lock_.unlock();
    current_.reset();
  }
  bool in(const std::string& name) const { return current_ && same_name(current_->name, name); }
  fs::path resolve_disk(const std::string& disk) const {
    fs::path p(disk);
    if (p.is_relative()) p = e_->backup_folder() / p;
    return p;
  }

  ResultSet sysfiles();
  ResultSet sp_databases();
  ResultSet sp_tables();
  ResultSet backup(const stmt::Backup& b);
  ResultSet headeronly(const std::string& disk);
  ResultSet filelistonly(const stmt::RestoreFileListOnly& f);
  ResultSet verifyonly(const stmt::RestoreVerifyOnly& v);
  ResultSet server_property(const stmt::ServerProperty& p);
  ResultSet dbcc_checkdb(const std::string& database);
  ResultSet restore(const stmt::Restore& r);
  ResultSet user_mode(const std::string& database, bool single, bool via_dboption);
  ResultSet dbcc_reindex(const std::string& table);
  ResultSet dbcc_checktable(const stmt::DbccChecktable& c);
  ResultSet create_database(const std::string& name);
  ResultSet drop_database(const std::string& name);
  ResultSet passthrough(const std::string& sql, const std::vector<dal::Param>& params);
  std::vector<BackupSet> read_sets(const std::string& disk, const std::string& what);
  void note_processed(const std::string& database, const std::string& file, std::int64_t pages);
  void note_finished(const std::string& what, std::int64_t pages, std::chrono::steady_clock::time_point started);
  void need_user_table(const std::string& table);

  std::shared_ptr<Engine::Impl> e_;
  std::string login_;
  std::optional<DbInfo> current_;  // nullopt: master
  SqliteDb db_;
  DbLock lock_;
  int busy_ms_ = 600000;
  std::atomic<bool> cancel_{false};      // set by cancel(); cleared when a statement starts
  std::vector<EngineMessage> messages_;  // informational messages of the current statement
  std::mutex db_mutex_;                  // guards db_ against cancel() from another thread
};

void Session::enter(const std::string& name) {
  if (is_master(name)) {
    leave();
    return;
  }
  if (in(name)) return;
  for (int attempt = 0; attempt < 5; ++attempt) {
    auto info = e_->find_db(name);
    if (!info) no_database(name);
    DbLock lock(e_->lock_file(info->name));
    if (!lock.try_lock(info->single_user ? DbLock::Mode::Exclusive : DbLock::Mode::Shared))
      raise(924, "Database '" + info->name + "' is already open and can only have one user at a time.");
    auto again = e_->find_db(name);
    if (!again) no_database(name);
    if (again->single_user != info->single_user) continue;  // switched meanwhile: take the other lock
    SqliteDb db;
    try {
      db = SqliteDb(again->data_physical, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
      sqlite3_busy_timeout(db.get(), busy_ms_);
      db.exec("PRAGMA journal_mode=DELETE");
    } catch (const ProviderError& err) {
      raise(945, "Database '" + again->name +
                     "' cannot be opened due to inaccessible files or insufficient memory or disk space. (" +
                     err.what() + ")");
    }
    leave();
    current_ = *again;
    {
      std::lock_guard guard(db_mutex_);
      db_ = std::move(db);
    }
    lock_ = std::move(lock);
    return;
  }
  raise(924, "Database '" + name + "' is already open and can only have one user at a time.");
}

ResultSet Session::execute(std::string_view sql, const std::vector<dal::Param>& params) {
  cancel_ = false;
  messages_.clear();
  Statement st;
  try {
    st = parse_statement(sql);
  } catch (const ParseError& err) {
    raise(err.number(), err.what());
  }
  return std::visit(
      [&](auto&& s) -> ResultSet {
        using T = std::decay_t<decltype(s)>;
        ResultSet none;
        if constexpr (std::is_same_v<T, stmt::SelectSysfiles>) {
          return sysfiles();
        } else if constexpr (std::is_same_v<T, stmt::SpDatabases>) {
          return sp_databases();
        } else if constexpr (std::is_same_v<T, stmt::SpTables>) {
          return sp_tables();
        } else if constexpr (std::is_same_v<T, stmt::Checkpoint>) {
          // Every commit is already on disk (rollback journal); nothing is pending.
          return none;
        } else if constexpr (std::is_same_v<T, stmt::Backup>) {
          return backup(s);
        } else if constexpr (std::is_same_v<T, stmt::RestoreHeaderOnly>) {
          return headeronly(s.disk);
        } else if constexpr (std::is_same_v<T, stmt::RestoreFileListOnly>) {
          return filelistonly(s);
        } else if constexpr (std::is_same_v<T, stmt::RestoreVerifyOnly>) {
          return verifyonly(s);
        } else if constexpr (std::is_same_v<T, stmt::Restore>) {
          return restore(s);
        } else if constexpr (std::is_same_v<T, stmt::Use>) {
          enter(s.database);
          return none;
        } else if constexpr (std::is_same_v<T, stmt::DbOption>) {
          if (e_->options.modern) raise(2812, "Could not find stored procedure 'sp_dboption'.");
          std::string option = lower(s.option);
          std::string value = lower(s.value);
          if (s.database.empty() || s.option.empty() || s.value.empty())
            raise(15241, "Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]");
          if (option.size() < 6 || std::string("single user").compare(0, option.size(), option) != 0)
            raise(15011, "Database option '" + s.option + "' does not exist. Specify a valid option name.");
          if (value != "true" && value != "on" && value != "false" && value != "off")
            raise(15241, "Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]");
          return user_mode(s.database, value == "true" || value == "on", true);
        } else if constexpr (std::is_same_v<T, stmt::SetUserMode>) {
          return user_mode(s.database, s.single, false);
        } else if constexpr (std::is_same_v<T, stmt::DbccDbreindex>) {
          return dbcc_reindex(s.table);
        } else if constexpr (std::is_same_v<T, stmt::DbccChecktable>) {
          return dbcc_checktable(s);
        } else if constexpr (std::is_same_v<T, stmt::DbccCheckdb>) {
          return dbcc_checkdb(s.database);
        } else if constexpr (std::is_same_v<T, stmt::ServerProperty>) {
          return server_property(s);
        } else if constexpr (std::is_same_v<T, stmt::CreateDatabase>) {
          return create_database(s.database);
        } else if constexpr (std::is_same_v<T, stmt::DropDatabase>) {
          return drop_database(s.database);
        } else if constexpr (std::is_same_v<T, stmt::CreateLogin>) {
          if (e_->find_login(s.name)) raise(15025, "The server principal '" + s.name + "' already exists.");
          e_->add_login(s.name, s.unix_account, s.password);
          return none;
        } else if constexpr (std::is_same_v<T, stmt::DropLogin>) {
          if (!e_->drop_login(s.name))
            raise(15151, "Cannot drop the login '" + s.name + "', because it does not exist or you do not have permission.");
          return none;
        } else {
          return passthrough(s.sql, params);
        }
      },
      st);
}

ResultSet Session::sysfiles() {
  ResultSet r;
  r.has_rows = true;
  r.columns = {col("fileid", ValueKind::Integer), col("groupid", ValueKind::Integer), col("size", ValueKind::Integer),
               col("maxsize", ValueKind::Integer), col("growth", ValueKind::Integer), col("status", ValueKind::Integer),
               col("perf", ValueKind::Integer), col("name", ValueKind::Text, 128), col("filename", ValueKind::Text, 260)};
  auto pages = [](const std::string& path) -> std::int64_t {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    return ec ? 0 : static_cast<std::int64_t>((size + 8191) / 8192);
  };
  if (!current_) {
    std::string path = e_->catalog_path().string();
    r.rows.push_back({std::int64_t{1}, std::int64_t{1}, pages(path), std::int64_t{-1}, std::int64_t{10},
                      std::int64_t{2}, std::int64_t{0}, std::string("master"), path});
  } else {
    r.rows.push_back({std::int64_t{1}, std::int64_t{1}, pages(current_->data_physical), std::int64_t{-1},
                      std::int64_t{10}, std::int64_t{2}, std::int64_t{0}, current_->data_logical,
                      current_->data_physical});
    r.rows.push_back({std::int64_t{2}, std::int64_t{0}, pages(current_->log_physical), std::int64_t{-1},
                      std::int64_t{10}, std::int64_t{66}, std::int64_t{0}, current_->log_logical,
                      current_->log_physical});
  }
  return r;
}

ResultSet Session::sp_databases() {
  ResultSet r;
  r.has_rows = true;
  r.columns = {col("DATABASE_NAME", ValueKind::Text, 128), col("DATABASE_SIZE", ValueKind::Integer),
               col("REMARKS", ValueKind::Text, 254)};
  for (const auto& d : e_->list_dbs()) {
    std::error_code ec;
    auto size = fs::file_size(d.data_physical, ec);
    r.rows.push_back({d.name, static_cast<std::int64_t>(ec ? 0 : size / 1024), std::monostate{}});
  }
  return r;
}

ResultSet Session::sp_tables() {
  ResultSet r;
  r.has_rows = true;
  r.columns = {col("TABLE_QUALIFIER", ValueKind::Text, 128), col("TABLE_OWNER", ValueKind::Text, 128),
               col("TABLE_NAME", ValueKind::Text, 128), col("TABLE_TYPE", ValueKind::Text, 32),
               col("REMARKS", ValueKind::Text, 254)};
  struct Row {
    std::string type, owner, name;
  };
  std::vector<Row> rows;
  std::string qualifier = current_ ? current_->name : "master";
  if (!current_) {
    rows = {{"SYSTEM TABLE", "dbo", "sysdatabases"}, {"SYSTEM TABLE", "dbo", "syslogins"}};
  } else {
    rows.push_back({"SYSTEM TABLE", "sys", "sqlite_master"});
    SqliteStmt q(db_, "SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view')");
    while (q.step()) {
      std::string type = q.text(0), name = q.text(1);
      if (lower(name).rfind("sqlite_", 0) == 0)
        rows.push_back({"SYSTEM TABLE", "sys", name});
      else
        rows.push_back({type == "view" ? "VIEW" : "TABLE", "dbo", name});
    }
  }
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::tie(a.type, a.owner, a.name) < std::tie(b.type, b.owner, b.name);
  });
  for (auto& row : rows) r.rows.push_back({qualifier, row.owner, row.name, row.type, std::monostate{}});
  return r;
}

ResultSet Session::backup(const stmt::Backup& b) {
  const std::string end = "\nBACKUP DATABASE is terminating abnormally.";
  fs::path disk = resolve_disk(b.disk);
  if (is_master(b.database)) raise(3013, "Backup of the master database is not supported by this server." + end);
  auto info = e_->find_db(b.database);
  if (!info) no_database(b.database, end);
  std::error_code ec;
  for (const auto& d : e_->list_dbs()) {
    if (fs::equivalent(disk, d.data_physical, ec) || fs::equivalent(disk, d.log_physical, ec))
      raise(3201, "Cannot open backup device '" + b.disk + "'. The device is a file of database '" + d.name + "'." + end);
  }
  if (fs::equivalent(disk, e_->catalog_path(), ec))
    raise(3201, "Cannot open backup device '" + b.disk + "'. The device is the server's catalog." + end);

  // A read transaction holds SQLite's shared lock: no writer can change the file until it ends,
  // so the bytes read below are one consistent image while others keep using the database.
  SqliteDb reader;
  try {
    reader = SqliteDb(info->data_physical, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    sqlite3_busy_timeout(reader.get(), busy_ms_);
    reader.exec("BEGIN; SELECT count(*) FROM sqlite_master;");
  } catch (const ProviderError& err) {
    raise(3201, "Cannot read database '" + info->name + "': " + err.what() + end);
  }
  int fd = ::open(info->data_physical.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) raise(3201, "Cannot open database file '" + info->data_physical + "'. " + os_error(errno) + end);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) raise(3201, "Cannot open database file '" + info->data_physical + "'. " + os_error(errno) + end);

  BackupSet header;
  header.server_name = e_->options.server_name;
  header.user_name = login_;
  header.database_name = info->name;
  header.start_date = now_local();
  std::vector<BackupSource> files(2);
  files[0].entry = BackupFile{info->data_logical, info->data_physical, 'D', static_cast<std::uint64_t>(st.st_size), 0, 0};
  files[0].fd = fd;
  files[1].entry = BackupFile{info->log_logical, info->log_physical, 'L', 0, 0, 0};
  for (auto& f : files) f.cancel = &cancel_;
  const auto data_pages = static_cast<std::int64_t>((st.st_size + 8191) / 8192);
  const auto started = std::chrono::steady_clock::now();
  note_processed(info->name, info->data_logical, data_pages);
  note_processed(info->name, info->log_logical, 0);
  try {
    append_backup_set(disk, header, files, b.init);
  } catch (const BackupFormatError&) {
    raise(3241, "The media family on device '" + b.disk +
                    "' is incorrectly formed. SQL Server cannot process this media family." + end);
  } catch (const std::system_error& err) {
    if (err.code().value() == ECANCELED) raise(3204, "The backup or restore was aborted." + end);
    raise(3201, "Cannot open backup device '" + b.disk + "'. " + os_error(err.code().value()) + end);
  }
  reader.exec("COMMIT");
  note_finished("BACKUP DATABASE", data_pages, started);
  return {};
}

void Session::note_processed(const std::string& database, const std::string& file, std::int64_t pages) {
  note(4035, "Processed " + std::to_string(pages) + " pages for database '" + database + "', file '" + file +
                 "' on file 1.");
}

void Session::note_finished(const std::string& what, std::int64_t pages, std::chrono::steady_clock::time_point started) {
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  double rate = seconds > 0 ? static_cast<double>(pages) * 8192.0 / 1048576.0 / seconds : 0.0;
  char buf[160];
  std::snprintf(buf, sizeof buf, " successfully processed %lld pages in %.3f seconds (%.3f MB/sec).",
                static_cast<long long>(pages), seconds, rate);
  note(3014, what + buf);
}

std::vector<BackupSet> Session::read_sets(const std::string& disk, const std::string& what) {
  const std::string end = "\n" + what + " is terminating abnormally.";
  try {
    FileSource source(resolve_disk(disk));
    return read_backup_sets(source);
  } catch (const BackupFormatError&) {
    raise(3241, "The media family on device '" + disk +
                    "' is incorrectly formed. SQL Server cannot process this media family." + end);
  } catch (const std::system_error& err) {
    raise(3201, "Cannot open backup device '" + disk + "'. " + os_error(err.code().value()) + end);
  }
}

ResultSet Session::headeronly(const std::string& disk) {
  auto sets = read_sets(disk, "RESTORE HEADERONLY");
  ResultSet r;
  r.has_rows = true;
  r.columns = {col("BackupName", ValueKind::Text, 128),     col("BackupDescription", ValueKind::Text, 255),
               col("BackupType", ValueKind::Integer),       col("ExpirationDate", ValueKind::DateTime),
               col("Compressed", ValueKind::Integer),       col("Position", ValueKind::Integer),
               col("DeviceType", ValueKind::Integer),       col("UserName", ValueKind::Text, 128),
               col("ServerName", ValueKind::Text, 128),     col("DatabaseName", ValueKind::Text, 128),
               col("DatabaseVersion", ValueKind::Integer),  col("BackupSize", ValueKind::Integer),
               col("BackupStartDate", ValueKind::DateTime), col("BackupFinishDate", ValueKind::DateTime)};
  for (const auto& s : sets) {
    r.rows.push_back({std::monostate{}, std::monostate{}, std::int64_t{1}, std::monostate{}, std::int64_t{0},
                      std::int64_t{s.position}, std::int64_t{2}, s.user_name, s.server_name, s.database_name,
                      std::int64_t{1}, static_cast<std::int64_t>(s.length), s.start_date, s.finish_date});
  }
  return r;
}

ResultSet Session::filelistonly(const stmt::RestoreFileListOnly& f) {
  auto sets = read_sets(f.disk, "RESTORE FILELIST");
  if (f.file < 1 || static_cast<std::size_t>(f.file) > sets.size())
    raise(3206, "No entry in sysdevices for backup device '" + f.disk + "' holds file " + std::to_string(f.file) +
                    ".\nRESTORE FILELIST is terminating abnormally.");
  ResultSet r;
  r.has_rows = true;
  r.columns = {col("LogicalName", ValueKind::Text, 128), col("PhysicalName", ValueKind::Text, 260),
               col("Type", ValueKind::Text, 1),          col("FileGroupName", ValueKind::Text, 128),
               col("Size", ValueKind::Integer),          col("MaxSize", ValueKind::Integer),
               col("FileId", ValueKind::Integer)};
  std::int64_t id = 0;
  for (const auto& file : sets[static_cast<std::size_t>(f.file - 1)].files) {
    Value group = file.type == 'D' ? Value(std::string("PRIMARY")) : Value(std::monostate{});
    r.rows.push_back({file.logical_name, file.physical_name, std::string(1, file.type), group,
                      static_cast<std::int64_t>(file.size), std::int64_t{35184372080640}, ++id});
  }
  return r;
}

ResultSet Session::verifyonly(const stmt::RestoreVerifyOnly& v) {
  // Every set's header and trailer CRCs (read_sets) and every file's CRC-32 over its bytes.
  // The CRCs are always written, so WITH CHECKSUM checks nothing more here.
  const std::string end = ".\nVERIFY DATABASE is terminating abnormally.";
  auto sets = read_sets(v.disk, "VERIFY DATABASE");
  if (v.file < 0 || static_cast<std::size_t>(v.file) > sets.size())
    raise(3206, "The backup set at position " + std::to_string(v.file) + " is not on device '" + v.disk + "'" + end);
  try {
    FileSource source(resolve_disk(v.disk));
    for (const auto& s : sets) {
      if (v.file != 0 && s.position != v.file) continue;
      for (const auto& f : s.files) copy_backup_file(source, f, [](const void*, std::size_t) {});
    }
  } catch (const std::exception& err) {
    raise(3189, "Damage to the backup set was detected: " + std::string(err.what()) + end);
  }
  return {};
}

ResultSet Session::server_property(const stmt::ServerProperty& p) {
  ResultSet r;
  r.has_rows = true;
  r.columns = {col(p.alias, ValueKind::Text, 128)};
  const std::string name = lower(p.property);
  Value value = std::monostate{};  // an unknown property is NULL
  if (name == "productversion") value = std::string(e_->options.modern ? "11.0.7001.0" : "8.00.2039");
  else if (name == "servername" || name == "machinename") value = e_->options.server_name;
  else if (name == "edition") value = std::string("Local Engine");
  r.rows.push_back({value});
  return r;
}

ResultSet Session::restore(const stmt::Restore& r) {
  const std::string end = "\nRESTORE DATABASE is terminating abnormally.";
  if (is_master(r.database)) raise(3108, "To restore the master database, the server must be set up again." + end);
  if (in(r.database))
    raise(3102, "RESTORE cannot process database '" + r.database +
                    "' because it is in use by this session. It is recommended that the master database be used "
                    "when performing this operation." + end);
  auto sets = read_sets(r.disk, "RESTORE DATABASE");
  if (r.file < 1 || static_cast<std::size_t>(r.file) > sets.size())
    raise(3206, "The backup set at position " + std::to_string(r.file) + " is not on device '" + r.disk + "'." + end);
  const BackupSet& set = sets[static_cast<std::size_t>(r.file - 1)];
  const BackupFile* data_entry = nullptr;
  const BackupFile* log_entry = nullptr;
  for (const auto& f : set.files) (f.type == 'D' ? data_entry : log_entry) = &f;
  if (!data_entry || !log_entry || set.files.size() != 2)
    raise(3241, "The media family on device '" + r.disk + "' is incorrectly formed. SQL Server cannot process this "
                "media family." + end);
  // WITH MOVE puts a file, named by its logical name, at another path.
  BackupFile data_moved = *data_entry, log_moved = *log_entry;
  for (const auto& [logical, physical] : r.moves) {
    if (same_name(logical, data_moved.logical_name)) data_moved.physical_name = physical;
    else if (same_name(logical, log_moved.logical_name)) log_moved.physical_name = physical;
    else
      raise(3234, "Logical file '" + logical + "' is not part of database '" + r.database +
                      "'. Use RESTORE FILELISTONLY to list the logical file names." + end);
  }
  const BackupFile* data = &data_moved;
  const BackupFile* log = &log_moved;
  fs::path data_path(data->physical_name);
  if (!data_path.is_absolute() || data_path.filename().empty() || log->physical_name != data->physical_name + "-journal")
    raise(5105, "A file activation error occurred. The physical file name '" + data->physical_name +
                    "' may be incorrect." + end);

  auto existing = e_->find_db(r.database);
  if (existing && !r.replace && e_->options.modern)
    raise(3159, "The tail of the log for the database \"" + existing->name +
                    "\" has not been backed up. Use BACKUP LOG WITH NORECOVERY to backup the log if it contains work "
                    "you do not want to lose. Use the WITH REPLACE or WITH STOPAT clause of the RESTORE statement to "
                    "just overwrite the contents of the log." + end);
  if (existing && !r.replace && !same_name(existing->name, set.database_name))
    raise(3154, "The backup set holds a backup of a database other than the existing '" + existing->name +
                    "' database." + end);
  std::error_code ec;
  for (const auto& d : e_->list_dbs()) {
    if (!same_name(d.name, r.database) && fs::equivalent(data_path, d.data_physical, ec))
      raise(1834, "The file '" + data->physical_name + "' cannot be overwritten.  It is being used by database '" +
                      d.name + "'." + end);
  }
  bool own_file = existing && fs::equivalent(data_path, existing->data_physical, ec);
  if (!own_file && fs::exists(data_path, ec) && !r.replace)
    raise(3142, "File '" + data->logical_name + "' cannot be restored over the existing '" + data->physical_name +
                    "'. Reissue the RESTORE statement using WITH REPLACE to overwrite pre-existing files." + end);
  if (!fs::is_directory(data_path.parent_path(), ec))
    raise(5133, "Directory lookup for the file \"" + data->physical_name +
                    "\" failed with the operating system error 2(No such file or directory).\nFile '" +
                    data->logical_name + "' cannot be restored to '" + data->physical_name + "'." + end);

  DbLock lock(e_->lock_file(r.database));
  if (!lock.try_lock(DbLock::Mode::Exclusive))
    raise(3101, "Exclusive access could not be obtained because the database is in use." + end);
  const auto started = std::chrono::steady_clock::now();

  // The image goes to a temporary file beside its place and replaces the database only once
  // it is complete, checked and on disk: a damaged backup leaves the database as it was.
  std::string temp = data->physical_name + ".restoring-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) raise(3201, "Cannot create file '" + temp + "'. " + os_error(errno) + end);
  struct TempGuard {
    std::string path;
    int fd;
    bool keep = false;
    ~TempGuard() {
      if (fd >= 0) ::close(fd);
      if (!keep) ::unlink(path.c_str());
    }
  } guard{temp, fd};
  try {
    FileSource source(resolve_disk(r.disk));
    copy_backup_file(source, *data, [&](const void* p, std::size_t n) {
      if (int e = platform::io::write_all(fd, p, n); e != 0) throw std::system_error(e, std::generic_category(), temp);
    });
    if (platform::io::fsync(fd) != 0) throw std::system_error(errno, std::generic_category(), temp);
    guard.fd = -1;
    if (platform::io::close(fd) != 0) throw std::system_error(errno, std::generic_category(), temp);
  } catch (const BackupFormatError& err) {
    raise(3183, "RESTORE detected an error in the backup set on device '" + r.disk + "': " + err.what() +
                    ". The database was not changed." + end);
  } catch (const std::system_error& err) {
    raise(3201, "Cannot write file '" + temp + "'. " + os_error(err.code().value()) + end);
  }
  try {
    SqliteDb check(temp, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    SqliteStmt q(check, "PRAGMA quick_check");
    std::string verdict = q.step() ? q.text(0) : "no answer";
    if (verdict != "ok") throw ProviderError(verdict);
  } catch (const ProviderError& err) {
    raise(3183, "RESTORE detected an error in the backup set on device '" + r.disk + "': the database image fails "
                "its check (" + err.what() + "). The database was not changed." + end);
  }
  ::unlink(log->physical_name.c_str());
  if (platform::io::rename(temp.c_str(), data->physical_name.c_str()) != 0)
    raise(3201, "Cannot replace file '" + data->physical_name + "'. " + os_error(errno) + end);
  guard.keep = true;
  fsync_folder(data_path.parent_path());
  e_->put_db(DbInfo{existing ? existing->name : r.database, data->logical_name, data->physical_name, log->logical_name,
                    log->physical_name, false});
  const auto pages = static_cast<std::int64_t>((data->size + 8191) / 8192);
  note_processed(existing ? existing->name : r.database, data->logical_name, pages);
  note_processed(existing ? existing->name : r.database, log->logical_name, 0);
  note_finished("RESTORE DATABASE", pages, started);
  return {};
}

ResultSet Session::user_mode(const std::string& database, bool single, bool via_dboption) {
  const std::string end = via_dboption ? "\nsp_dboption command failed." : "\nALTER DATABASE statement failed.";
  if (is_master(database))
    raise(5058, "Option 'SINGLE_USER' cannot be set in database 'master'." + end);
  auto info = e_->find_db(database);
  if (!info) {
    if (via_dboption)
      raise(15010, "The database '" + database + "' does not exist. Use sp_helpdb to show available databases.");
    no_database(database, end);
  }
  auto refuse = [&] {
    raise(5061, "ALTER DATABASE failed because a lock could not be placed on database '" + info->name +
                    "'. Try again later." + end);
  };
  if (single) {
    if (in(database)) {
      if (!lock_.try_lock(DbLock::Mode::Exclusive)) {
        // flock may drop the shared lock on a failed conversion: take it back.
        if (lock_.mode() == DbLock::Mode::None) (void)lock_.try_lock(DbLock::Mode::Shared);
        refuse();
      }
    } else {
      DbLock lock(e_->lock_file(info->name));
      if (!lock.try_lock(DbLock::Mode::Exclusive)) refuse();
      e_->set_single(info->name, true);
      return {};
    }
    e_->set_single(info->name, true);
  } else {
    e_->set_single(info->name, false);
    if (in(database)) (void)lock_.try_lock(DbLock::Mode::Shared);
  }
  return {};
}

void Session::need_user_table(const std::string& table) {
  if (!current_) raise(2501, "Could not find a table or object named '" + table + "'. Check sysobjects.");
  SqliteStmt q(db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
  q.bind(1, table);
  if (!q.step()) raise(2501, "Could not find a table or object named '" + table + "'. Check sysobjects.");
}

std::string sqlite_identifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += c;
  }
  return out + "\"";
}

ResultSet Session::dbcc_reindex(const std::string& table) {
  need_user_table(table);
  db_.exec("REINDEX " + sqlite_identifier(table));
  return {};
}

ResultSet Session::dbcc_checktable(const stmt::DbccChecktable& c) {
  need_user_table(c.table);
  if (!c.repair.empty() && !(current_->single_user && lock_.mode() == DbLock::Mode::Exclusive))
    raise(7919, "Repair statement not processed. Database needs to be in single user mode.");
  auto check = [&] {
    std::vector<std::string> problems;
    SqliteStmt q(db_, "PRAGMA integrity_check(" + sqlite_identifier(c.table) + ")");
    while (q.step()) {
      std::string line = q.text(0);
      if (line != "ok") problems.push_back(line);
    }
    return problems;
  };
  auto problems = check();
  if (!problems.empty() && !c.repair.empty()) {
    // Rebuilding the table's indexes is what REPAIR_REBUILD may do without losing rows.
    db_.exec("REINDEX " + sqlite_identifier(c.table));
    problems = check();
  }
  if (!problems.empty()) {
    std::string text = "CHECKTABLE found " + std::to_string(problems.size()) + " consistency errors in table '" +
                       c.table + "':";
    for (const auto& p : problems) text += "\n" + p;
    raise(8928, text);
  }
  return {};
}

ResultSet Session::dbcc_checkdb(const std::string& database) {
  std::optional<DbInfo> info = current_;
  if (!database.empty() && !in(database)) {
    if (is_master(database)) return {};  // the catalog is checked by SQLite at every open
    info = e_->find_db(database);
    if (!info) no_database(database);
  }
  if (!info) return {};
  // A database this session is not in is checked through a read-only handle under its shared
  // lock, as a second user would.
  SqliteDb own;
  DbLock lock;
  SqliteDb* db = &db_;
  if (!in(info->name)) {
    DbLock shared(e_->lock_file(info->name));
    if (!shared.try_lock(info->single_user ? DbLock::Mode::Exclusive : DbLock::Mode::Shared))
      raise(924, "Database '" + info->name + "' is already open and can only have one user at a time.");
    lock = std::move(shared);
    try {
      own = SqliteDb(info->data_physical, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
      sqlite3_busy_timeout(own.get(), busy_ms_);
    } catch (const ProviderError& err) {
      raise(945, "Database '" + info->name +
                     "' cannot be opened due to inaccessible files or insufficient memory or disk space. (" +
                     err.what() + ")");
    }
    db = &own;
  }
  auto problems_of = [&](const std::string& sql) {
    std::vector<std::string> problems;
    try {
      SqliteStmt q(*db, sql);
      while (q.step()) {
        std::string line = q.text(0);
        if (line != "ok") problems.push_back(line);
      }
    } catch (const ProviderError& err) {
      problems.push_back(err.what());
    }
    return problems;
  };
  std::vector<std::string> tables;
  try {
    SqliteStmt q(*db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%' ORDER BY name");
    while (q.step()) tables.push_back(q.text(0));
  } catch (const ProviderError& err) {
    raise(8921, "Check terminated. A failure was detected while collecting facts about database '" + info->name +
                    "': " + err.what() + "\nCHECKDB found 0 allocation errors and 1 consistency errors in database '" +
                    info->name + "'.");
  }
  std::string text;
  std::size_t total = 0;
  for (const auto& table : tables) {
    const auto problems = problems_of("PRAGMA integrity_check(" + sqlite_identifier(table) + ")");
    if (problems.empty()) continue;
    for (const auto& p : problems) text += "Table error: table '" + table + "': " + p + "\n";
    text += "CHECKDB found 0 allocation errors and " + std::to_string(problems.size()) +
            " consistency errors in table '" + table + "'.\n";
    total += problems.size();
  }
  if (total == 0) {
    // Damage outside the tables (free pages, the schema itself).
    const auto problems = problems_of("PRAGMA integrity_check");
    for (const auto& p : problems) text += "Database error: " + p + "\n";
    total = problems.size();
  }
  if (total > 0)
    raise(8928, text + "CHECKDB found 0 allocation errors and " + std::to_string(total) +
                    " consistency errors in database '" + info->name + "'.");
  return {};
}

ResultSet Session::create_database(const std::string& name) {
  if (is_master(name) || e_->find_db(name)) raise(1801, "Database '" + name + "' already exists.");
  DbLock lock(e_->lock_file(name));
  if (!lock.try_lock(DbLock::Mode::Exclusive)) raise(1801, "Database '" + name + "' already exists.");
  fs::path data = e_->data_folder() / (platform::file_stem_of_name(name) + ".sqlite");
  std::error_code ec;
  if (fs::exists(data, ec))
    raise(5170, "Cannot create file '" + data.string() + "' because it already exists.\nCREATE DATABASE failed.");
  try {
    SqliteDb db(data.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    db.exec("PRAGMA journal_mode=DELETE; CREATE TABLE orv_create(x); DROP TABLE orv_create;");
  } catch (const ProviderError& err) {
    fs::remove(data, ec);
    raise(5123, "CREATE FILE encountered an error while attempting to create the physical file '" + data.string() +
                    "': " + err.what() + "\nCREATE DATABASE failed.");
  }
  e_->put_db(DbInfo{name, name, data.string(), name + "_log", data.string() + "-journal", false});
  return {};
}

ResultSet Session::drop_database(const std::string& name) {
  auto info = e_->find_db(name);
  if (!info || is_master(name))
    raise(3701, "Cannot drop the database '" + name + "', because it does not exist in the system catalog.");
  DbLock lock(e_->lock_file(info->name));
  if (in(name) || !lock.try_lock(DbLock::Mode::Exclusive))
    raise(3702, "Cannot drop the database '" + info->name + "' because it is currently in use.");
  e_->drop_db(info->name);
  std::error_code ec;
  fs::remove(info->data_physical, ec);
  fs::remove(info->log_physical, ec);
  return {};
}

ResultSet Session::passthrough(const std::string& sql_text, const std::vector<dal::Param>& params) {
  if (!current_)
    raise(208, "Invalid object name: the master database holds no user tables. Name a database with USE first.");
  const std::string sql = strip_national_prefix(sql_text);
  ResultSet result;
  const char* tail = sql.c_str();
  const char* const stop = sql.c_str() + sql.size();
  while (tail < stop) {
    sqlite3_stmt* raw = nullptr;
    const char* next = nullptr;
    if (sqlite3_prepare_v2(db_.get(), tail, static_cast<int>(stop - tail), &raw, &next) != SQLITE_OK)
      raise_sqlite_error(db_.get(), current_->name);
    tail = next;
    if (!raw) continue;  // blank or comment
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> st(raw, sqlite3_finalize);
    for (const auto& p : params) {
      int index = sqlite3_bind_parameter_index(raw, (":" + p.name).c_str());
      if (index == 0) continue;
      std::visit(
          [&](auto&& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) sqlite3_bind_null(raw, index);
            else if constexpr (std::is_same_v<T, std::int64_t>) sqlite3_bind_int64(raw, index, v);
            else if constexpr (std::is_same_v<T, double>) sqlite3_bind_double(raw, index, v);
            else if constexpr (std::is_same_v<T, std::string>)
              sqlite3_bind_text(raw, index, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
            else sqlite3_bind_double(raw, index, v.days);
          },
          p.value);
    }
    int columns = sqlite3_column_count(raw);
    ResultSet r;
    if (columns > 0) {
      r.has_rows = true;
      for (int c = 0; c < columns; ++c) {
        const char* decl = sqlite3_column_decltype(raw, c);
        std::string d = lower(decl ? decl : "");
        ValueKind kind = ValueKind::Text;
        if (d.find("int") != std::string::npos) kind = ValueKind::Integer;
        else if (d.find("real") != std::string::npos || d.find("floa") != std::string::npos ||
                 d.find("doub") != std::string::npos)
          kind = ValueKind::Real;
        r.columns.push_back(col(sqlite3_column_name(raw, c), kind));
      }
    }
    for (;;) {
      int rc = sqlite3_step(raw);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) raise_sqlite_error(db_.get(), current_->name);
      std::vector<Value> row;
      for (int c = 0; c < columns; ++c) {
        switch (sqlite3_column_type(raw, c)) {
          case SQLITE_NULL: row.emplace_back(std::monostate{}); break;
          case SQLITE_INTEGER: row.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(raw, c))); break;
          case SQLITE_FLOAT: row.emplace_back(sqlite3_column_double(raw, c)); break;
          default: {
            const auto* p = static_cast<const char*>(sqlite3_column_blob(raw, c));
            row.emplace_back(std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(raw, c))));
          }
        }
      }
      r.rows.push_back(std::move(row));
    }
    if (columns == 0) r.rows_affected = sqlite3_changes(db_.get());
    if (r.has_rows || !result.has_rows) result = std::move(r);
  }
  return result;
}

}  // namespace

Engine::Engine(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
Engine::~Engine() = default;

std::shared_ptr<Engine> Engine::open(const EngineOptions& options) {
  auto impl = std::make_shared<Impl>();
  impl->options = options;
  if (impl->options.server_name.empty()) impl->options.server_name = host_name();
  impl->init();
  return std::shared_ptr<Engine>(new Engine(std::move(impl)));
}

const EngineOptions& Engine::options() const { return impl_->options; }

std::vector<EngineMessage> take_messages(dal::Connection& session) {
  auto* s = dynamic_cast<Session*>(&session);
  return s ? s->take_messages() : std::vector<EngineMessage>{};
}

void interrupt(dal::Connection& session) {
  if (auto* s = dynamic_cast<Session*>(&session)) s->interrupt();
}

std::unique_ptr<dal::Connection> Engine::connect(const LoginRequest& login) {
  std::string name = login.integrated ? platform::current_user_name() : login.user;
  auto found = impl_->find_login(name);
  if (login.integrated) {
    if (!found || found->first != "U") raise(18456, "Login failed for user '" + name + "'.");
  } else {
    if (impl_->options.login_mode == 1)
      raise(18452, "Login failed for user '" + name + "'. Reason: Not associated with a trusted SQL Server connection.");
    if (!found || found->first != "S" || password_hash(found->second.first, login.password) != found->second.second)
      raise(18456, "Login failed for user '" + name + "'.");
  }
  auto session = std::make_unique<Session>(impl_, name);
  if (!login.database.empty()) {
    try {
      session->enter(login.database);
    } catch (const ProviderError& err) {
      raise(4060, "Cannot open database '" + login.database + "' requested by the login. The login failed.");
    }
  }
  return session;
}

}  // namespace orv::server
