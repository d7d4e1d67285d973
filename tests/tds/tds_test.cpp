// The TDS listener in front of the engine, driven by the real FreeTDS ODBC driver (tdsodbc,
// registered in a private odbcinst.ini) through the tool's ODBC back end and unixODBC, and by
// hand-made packets for the malformed cases.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "server/engine.h"
#include "server/odbc_backend.h"
#include "server/statement.h"
#include "server/tds/tds_listener.h"
#include "server/tds/tds_protocol.h"
#include "test_env.h"

namespace orv::server::tds {
namespace {

namespace fs = std::filesystem;

const char* const kFreeTds = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

class TdsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kFreeTds)) GTEST_SKIP() << "tdsodbc is not installed";
    fs::path odbc = env.root() / "odbc";
    fs::create_directories(odbc);
    orv::test::write_file(odbc / "odbcinst.ini", std::string("[FreeTDS]\nDriver=") + kFreeTds + "\n");
    orv::test::write_file(odbc / "odbc.ini", "");
    orv::test::write_file(odbc / "freetds.conf", "[global]\n");
    setenv("ODBCSYSINI", odbc.c_str(), 1);
    setenv("ODBCINI", (odbc / "odbc.ini").c_str(), 1);
    setenv("FREETDSCONF", (odbc / "freetds.conf").c_str(), 1);
    start(2, false);
  }
  void TearDown() override {
    listener.reset();
    unsetenv("ODBCSYSINI");
    unsetenv("ODBCINI");
    unsetenv("FREETDSCONF");
  }

  void start(int login_mode, bool modern) {
    listener.reset();
    EngineOptions o;
    o.root = env.data() / "server";
    o.login_mode = login_mode;
    o.modern = modern;
    engine = Engine::open(o);
    LoginRequest admin;
    admin.integrated = true;
    auto c = engine->connect(admin);
    auto exists = [&](const std::string& name) {
      try {
        c->execute("CREATE LOGIN " + quote_identifier(name) + " WITH PASSWORD=" + quote_literal(kPassword), {});
      } catch (const dal::ProviderError&) {
        // already there from the first start
      }
    };
    exists("tester");
    ListenerOptions lo;
    lo.log = [this](const std::string& line) {
      std::lock_guard lock(log_mutex);
      log.push_back(line);
    };
    listener = std::make_unique<Listener>(engine, lo);
    listener->start();
  }

  std::vector<std::pair<std::string, std::string>> keywords() const {
    return {{"Driver", "FreeTDS"}, {"Server", "127.0.0.1"}, {"Port", std::to_string(listener->port())},
            {"TDS_Version", "7.4"}};
  }

  // A connection through the tool's ODBC back end, as the provider makes it.
  std::unique_ptr<dal::Connection> connect(const std::string& user = "tester", const std::string& password = kPassword,
                                           const std::string& database = "") {
    auto quoted = [](const std::string& v) {
      std::string out = "\"";
      for (char ch : v) out += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      return out + "\"";
    };
    std::string text = "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=" + quoted(user) +
                       ";Password=" + quoted(password) + ";Data Source=(local)";
    if (!database.empty()) text += ";Initial Catalog=" + quoted(database);
    dal::ConnectionString cs(text);
    dal::ConnectOptions options;
    options.connection_timeout = std::chrono::seconds(20);
    return odbc_connect(odbc_connection_string(cs, keywords()), options, odbc_database_after_login(cs, keywords()));
  }

  void make_database(const std::string& name, int rows) {
    auto c = connect();
    c->execute("CREATE DATABASE " + quote_identifier(name), {});
    c->execute(use_statement(name), {});
    c->execute("CREATE TABLE items(id INTEGER PRIMARY KEY, name NVARCHAR(50) NOT NULL, price FLOAT)", {});
    for (int i = 1; i <= rows; ++i)
      c->execute("INSERT INTO items VALUES(" + std::to_string(i) + ", N'item " + std::to_string(i) + "', " +
                     std::to_string(i) + ".5)",
                 {});
  }

  std::vector<std::string> log_lines() {
    std::lock_guard lock(log_mutex);
    return log;
  }

  static constexpr const char* kPassword = "Pa55 w;rd";
  orv::test::TestEnv env;
  std::shared_ptr<Engine> engine;
  std::unique_ptr<Listener> listener;
  std::mutex log_mutex;
  std::vector<std::string> log;
};

// Expects a ProviderError with the given number whose text contains `part`.
#define EXPECT_SERVER_ERROR_NUMBER(statement, number, part)                                 \
  do {                                                                                      \
    try {                                                                                   \
      statement;                                                                            \
      ADD_FAILURE() << "no error from " #statement;                                         \
    } catch (const dal::ProviderError& err) {                                               \
      EXPECT_EQ(err.native_code(), number) << err.what();                                   \
      EXPECT_NE(std::string(err.what()).find(part), std::string::npos) << err.what();       \
    }                                                                                       \
  } while (0)

TEST_F(TdsTest, LoginFailuresByModeCarrySqlServerNumbersAndTexts) {
  EXPECT_SERVER_ERROR_NUMBER(connect("tester", "wrong"), 18456, "Login failed for user 'tester'.");
  EXPECT_SERVER_ERROR_NUMBER(connect("nobody", kPassword), 18456, "Login failed for user 'nobody'.");
  EXPECT_SERVER_ERROR_NUMBER(connect("tester", kPassword, "NoSuchDb"), 4060,
                             "Cannot open database 'NoSuchDb' requested by the login.");
  start(1, false);
  EXPECT_SERVER_ERROR_NUMBER(connect(), 18452, "Not associated with a trusted SQL Server connection.");
  start(2, false);
  auto c = connect();
  auto r = c->execute("sp_Databases", {});
  EXPECT_TRUE(r.has_rows);
  EXPECT_EQ(r.columns.at(0).name, "DATABASE_NAME");
}

// Login names and passwords holding "}" and ";" reach the server as typed.
TEST_F(TdsTest, BracesAndSemicolonsInLoginAndPasswordArriveAsTyped) {
  auto c = connect();
  c->execute("CREATE LOGIN [o}b] WITH PASSWORD='p}w;x'", {});
  c->execute("CREATE LOGIN [pl{ain] WITH PASSWORD='a}}b'", {});
  EXPECT_NO_THROW(connect("o}b", "p}w;x"));
  EXPECT_NO_THROW(connect("pl{ain", "a}}b"));
  EXPECT_SERVER_ERROR_NUMBER(connect("o}b", "p}}w;x"), 18456, "Login failed for user 'o}b'.");
}

TEST_F(TdsTest, NonAsciiDatabaseNvarcharAndPathsRoundTrip) {
  const std::string db = "Çağrı Şen";
  make_database(db, 1);
  auto c = connect("tester", kPassword, db);
  c->execute("INSERT INTO items VALUES(2, N'Çağrı ≠ 日本', NULL)", {});
  // A literal without N goes through the server's code page, as SQL Server does.
  c->execute("INSERT INTO items VALUES(3, 'Çağrı', NULL)", {});
  auto r = c->execute("SELECT id, name, price FROM items ORDER BY id", {});
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(std::get<std::string>(r.rows[1][1]), "Çağrı ≠ 日本");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(r.rows[1][2]));
  EXPECT_EQ(std::get<std::string>(r.rows[2][1]), "Ça?r?");
  EXPECT_DOUBLE_EQ(std::get<double>(r.rows[0][2]), 1.5);
  EXPECT_EQ(std::get<std::int64_t>(r.rows[0][0]), 1);
  // The tool's statements put paths in N'...': a backup file under a non-ASCII folder.
  fs::path folder = env.work() / "Çağrı";
  fs::create_directories(folder);
  std::string bak = (folder / "yedek ğ.bak").string();
  c->execute(use_statement("master"), {});
  c->execute(backup_statement(db, bak), {});
  EXPECT_TRUE(fs::exists(bak));
  auto files = c->execute(restore_filelistonly_statement(bak), {});
  ASSERT_EQ(files.rows.size(), 2u);
}

TEST_F(TdsTest, QuoteAndBracketInDatabaseNameBackupFilelistAndRestore) {
  const std::string db = "O'Neil [shop]";
  make_database(db, 3);
  auto c = connect();
  fs::create_directories(env.work());
  std::string bak = (env.work() / "o'neil.bak").string();
  c->execute(backup_statement(db, bak), {});
  auto files = c->execute(restore_filelistonly_statement(bak), {});
  ASSERT_EQ(files.rows.size(), 2u);
  EXPECT_EQ(std::get<std::string>(files.rows[0][0]), db);
  EXPECT_EQ(std::get<std::string>(files.rows[1][0]), db + "_log");
  EXPECT_EQ(std::get<std::string>(files.rows[0][2]), "D");
  auto header = c->execute(restore_headeronly_statement(bak), {});
  ASSERT_EQ(header.rows.size(), 1u);
  c->execute(restore_statement(db, bak), {});
  auto after = connect("tester", kPassword, db)->execute("SELECT count(*) FROM items", {});
  EXPECT_EQ(std::get<std::int64_t>(after.rows.at(0).at(0)), 3);
}

// The server sends "Processed N pages ..." and then fails: the back end reports the failure
// with the error's number and text, not the informational message's.
TEST_F(TdsTest, BackupFailingAfterItsInformationalMessagesIsAFailureWithTheServerText) {
  make_database("Ledger", 2);
  auto c = connect();
  EXPECT_SERVER_ERROR_NUMBER(c->execute(backup_statement("Ledger", "/nonexistent-folder/x.bak"), {}), 3201,
                             "Cannot open backup device '/nonexistent-folder/x.bak'.");
  try {
    c->execute(backup_statement("Ledger", "/nonexistent-folder/x.bak"), {});
  } catch (const dal::ProviderError& err) {
    std::string text = err.what();
    EXPECT_NE(text.find("BACKUP DATABASE is terminating abnormally."), std::string::npos) << text;
    EXPECT_EQ(text.find("Processed"), std::string::npos) << text;
    EXPECT_EQ(text.find("[FreeTDS]"), std::string::npos) << text;
  }
  // A successful backup is a success although the server sends messages with it.
  fs::create_directories(env.work());
  EXPECT_NO_THROW(c->execute(backup_statement("Ledger", (env.work() / "ok.bak").string()), {}));
}

TEST_F(TdsTest, EngineErrorsHaveSqlServerNumbers) {
  make_database("Errs", 1);
  auto c = connect("tester", kPassword, "Errs");
  EXPECT_SERVER_ERROR_NUMBER(c->execute("SELECT * FROM nosuch", {}), 208, "Invalid object name 'nosuch'.");
  EXPECT_SERVER_ERROR_NUMBER(c->execute("SELECT nocol FROM items", {}), 207, "Invalid column name 'nocol'.");
  EXPECT_SERVER_ERROR_NUMBER(c->execute("SELEC 1", {}), 102, "Incorrect syntax near 'SELEC'.");
  EXPECT_SERVER_ERROR_NUMBER(c->execute("INSERT INTO items VALUES(1, N'x', 1)", {}), 2627, "Violation of PRIMARY KEY");
  EXPECT_SERVER_ERROR_NUMBER(c->execute("INSERT INTO items VALUES(9, NULL, 1)", {}), 515,
                             "Cannot insert the value NULL into column 'name'");
  // Several statements in one batch: the rows of the last one that returns rows, as the
  // engine's own sessions give them.
  auto r = c->execute("SELECT 1 AS one; SELECT 2 AS two", {});
  ASSERT_TRUE(r.has_rows);
  ASSERT_EQ(r.columns.size(), 1u);
  EXPECT_EQ(r.columns[0].name, "two");
  EXPECT_EQ(std::get<std::int64_t>(r.rows.at(0).at(0)), 2);
}

// Another connection in the database: exclusive access and single-user mode are refused with
// the server's numbers.
TEST_F(TdsTest, DatabaseInUseRefusesRestoreAndSingleUser) {
  make_database("Shared", 1);
  auto admin = connect();
  fs::create_directories(env.work());
  std::string bak = (env.work() / "shared.bak").string();
  admin->execute(backup_statement("Shared", bak), {});
  auto user = connect("tester", kPassword, "Shared");
  EXPECT_SERVER_ERROR_NUMBER(admin->execute(restore_statement("Shared", bak), {}), 3101,
                             "Exclusive access could not be obtained because the database is in use.");
  EXPECT_SERVER_ERROR_NUMBER(admin->execute(single_user_statement("Shared", true), {}), 5061,
                             "ALTER DATABASE failed because a lock could not be placed on database 'Shared'.");
  user.reset();
  admin->execute(single_user_statement("Shared", true), {});
  auto first = connect("tester", kPassword, "Shared");
  EXPECT_SERVER_ERROR_NUMBER(admin->execute(use_statement("Shared"), {}), 924,
                             "Database 'Shared' is already open and can only have one user at a time.");
  first.reset();
  admin->execute(single_user_statement("Shared", false), {});
  EXPECT_NO_THROW(admin->execute(restore_statement("Shared", bak), {}));
}

TEST_F(TdsTest, RestoreOverAnExistingDatabaseNeedsReplaceIn2012Mode) {
  start(2, true);
  make_database("Modern", 1);
  auto c = connect();
  fs::create_directories(env.work());
  std::string bak = (env.work() / "m.bak").string();
  c->execute(backup_statement("Modern", bak), {});
  EXPECT_SERVER_ERROR_NUMBER(c->execute("Restore database [Modern] From Disk=" + quote_literal(bak), {}), 3159,
                             "The tail of the log for the database \"Modern\" has not been backed up.");
  EXPECT_NO_THROW(c->execute(restore_statement("Modern", bak), {}));
}

TEST_F(TdsTest, CancelStopsALongStatementAndTheConnectionGoesOn) {
  make_database("Slow", 1);
  auto c = connect("tester", kPassword, "Slow");
  c->set_command_timeout(std::chrono::seconds(1));
  // Runs until stopped: the driver's timeout sends an ATTENTION.
  EXPECT_THROW(c->execute("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT count(*) FROM n", {}),
               dal::ProviderError);
  c->set_command_timeout(std::chrono::seconds(30));
  auto r = c->execute("SELECT count(*) FROM items", {});
  EXPECT_EQ(std::get<std::int64_t>(r.rows.at(0).at(0)), 1);
}

TEST_F(TdsTest, TwentyConnectionsAtOnce) {
  make_database("Busy", 5);
  std::atomic<int> ok{0};
  std::vector<std::string> errors;
  std::mutex m;
  std::vector<std::thread> threads;
  for (int i = 0; i < 20; ++i) {
    threads.emplace_back([&, i] {
      try {
        auto c = connect("tester", kPassword, "Busy");
        auto r = c->execute("SELECT sum(id) + " + std::to_string(i) + " FROM items", {});
        if (std::get<std::int64_t>(r.rows.at(0).at(0)) == 15 + i) ++ok;
      } catch (const std::exception& err) {
        std::lock_guard lock(m);
        errors.push_back(err.what());
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 20);
  EXPECT_TRUE(errors.empty()) << errors.front();
}

// Parameters: the driver sends sp_executesql for a direct statement and sp_prepexec /
// sp_execute / sp_unprepare for a prepared one.
TEST_F(TdsTest, RpcParametersThroughTheDriver) {
  make_database("Rpc", 3);
  std::string cs = odbc_connection_string(
      dal::ConnectionString("Provider=SQLOLEDB.1;User ID=tester;Password=\"" + std::string(kPassword) +
                            "\";Initial Catalog=Rpc"),
      keywords());
  SQLHENV henv = SQL_NULL_HENV;
  SQLHDBC hdbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv)));
  SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, henv, &hdbc)));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(hdbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
                                             static_cast<SQLSMALLINT>(cs.size()), nullptr, 0, nullptr,
                                             SQL_DRIVER_NOPROMPT)));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &st)));
  auto fetch_name = [&]() {
    char name[64] = {};
    SQLLEN ind = 0;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLFetch(st)));
    EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(st, 1, SQL_C_CHAR, name, sizeof name, &ind)));
    SQLCloseCursor(st);
    return std::string(name);
  };
  SQLINTEGER id = 2;
  SQLLEN id_ind = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, &id_ind)));
  std::string direct = "SELECT name FROM items WHERE id = ?";
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(direct.data()), SQL_NTS)));
  EXPECT_EQ(fetch_name(), "item 2");
  ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(direct.data()), SQL_NTS)));
  id = 3;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(st)));
  EXPECT_EQ(fetch_name(), "item 3");
  id = 1;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(st)));
  EXPECT_EQ(fetch_name(), "item 1");
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(hdbc);
  SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
  SQLFreeHandle(SQL_HANDLE_ENV, henv);
}

// --- malformed requests on raw sockets -----------------------------------------------------

class Raw {
 public:
  explicit Raw(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "connect failed";
    timeval tv{20, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Raw() { ::close(fd_); }
  void send_bytes(const std::vector<std::uint8_t>& b) { ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size())); }
  void send_message(std::uint8_t type, const std::vector<std::uint8_t>& payload) { send_bytes(packetize(type, payload, 4096)); }
  // Everything the server sends until it closes the connection.
  std::vector<std::uint8_t> until_closed() {
    std::vector<std::uint8_t> all;
    std::uint8_t buf[4096];
    for (;;) {
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closed_ = n == 0;
        return all;
      }
      all.insert(all.end(), buf, buf + n);
    }
  }
  // One response message (EOM).
  std::vector<std::uint8_t> response() {
    std::vector<std::uint8_t> body;
    for (;;) {
      std::uint8_t h[8];
      if (!read(h, 8)) return body;
      std::size_t n = static_cast<std::size_t>((h[2] << 8) | h[3]) - 8;
      std::size_t at = body.size();
      body.resize(at + n);
      if (!read(body.data() + at, n)) return body;
      if (h[1] & 1) return body;
    }
  }
  bool closed() const { return closed_; }
  void finish() { ::shutdown(fd_, SHUT_WR); }

 private:
  bool read(std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      ssize_t got = ::recv(fd_, p, n, 0);
      if (got <= 0) return false;
      p += got;
      n -= static_cast<std::size_t>(got);
    }
    return true;
  }
  int fd_ = -1;
  bool closed_ = false;
};

std::vector<std::uint8_t> prelogin(std::uint8_t encryption) {
  return {0x00, 0, 11, 0, 6, 0x01, 0, 17, 0, 1, 0xFF, 7, 4, 0, 0, 0, 0, encryption};
}

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A LOGIN7 for a user and password (no other fields).
std::vector<std::uint8_t> login7(const std::string& user, const std::string& password) {
  std::vector<std::uint8_t> b(94, 0);
  auto add = [&](std::size_t slot, const std::string& text, bool scramble) {
    std::u16string s = utf8_to_utf16(text);
    put16(b, slot, static_cast<std::uint16_t>(b.size()));
    put16(b, slot + 2, static_cast<std::uint16_t>(s.size()));
    for (char16_t ch : s) {
      for (std::uint8_t byte : {static_cast<std::uint8_t>(ch & 0xFF), static_cast<std::uint8_t>(ch >> 8)}) {
        if (scramble) byte = static_cast<std::uint8_t>(((byte << 4) | (byte >> 4)) ^ 0xA5);
        b.push_back(byte);
      }
    }
  };
  for (std::size_t slot : {36, 40, 44, 48, 52, 56, 60, 64, 68, 78, 82, 86}) put16(b, slot, 94);
  add(40, user, false);
  add(44, password, true);
  b[4] = 0x04;
  b[7] = 0x74;
  put16(b, 8, 4096);
  std::uint32_t n = static_cast<std::uint32_t>(b.size());
  for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (8 * i));
  return b;
}

bool contains_utf16(const std::vector<std::uint8_t>& bytes, const std::string& text) {
  std::u16string s = utf8_to_utf16(text);
  std::vector<std::uint8_t> needle;
  for (char16_t ch : s) {
    needle.push_back(static_cast<std::uint8_t>(ch & 0xFF));
    needle.push_back(static_cast<std::uint8_t>(ch >> 8));
  }
  return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
}

TEST_F(TdsTest, MalformedPacketsCloseOnlyTheirOwnConnection) {
  make_database("Steady", 2);
  auto steady = connect("tester", kPassword, "Steady");
  const int port = listener->port();
  {  // truncated header: the client stops sending in the middle of it
    Raw r(port);
    r.send_bytes({0x12, 0x01, 0x00});
    r.finish();
    r.until_closed();
    EXPECT_TRUE(r.closed());
  }
  {  // a header whose length is below the header size
    Raw r(port);
    r.send_bytes({0x12, 0x01, 0x00, 0x04, 0, 0, 1, 0});
    r.until_closed();
    EXPECT_TRUE(r.closed());
  }
  {  // pre-login option whose offset and length run past the end of the packet
    Raw r(port);
    r.send_message(kPrelogin, {0x00, 0, 6, 0x7F, 0x00, 0xFF});
    r.until_closed();
    EXPECT_TRUE(r.closed());
  }
  {  // login fields pointing outside the packet
    Raw r(port);
    r.send_message(kPrelogin, prelogin(2));
    r.response();
    auto login = login7("tester", kPassword);
    put16(login, 40, 2000);
    r.send_message(kLogin7, login);
    r.until_closed();
    EXPECT_TRUE(r.closed());
  }
  {  // a batch without its ALL_HEADERS, after a good login
    Raw r(port);
    r.send_message(kPrelogin, prelogin(2));
    r.response();
    r.send_message(kLogin7, login7("tester", kPassword));
    auto ack = r.response();
    ASSERT_FALSE(ack.empty());
    EXPECT_NE(std::find(ack.begin(), ack.end(), 0xAD), ack.end());  // LOGINACK
    std::vector<std::uint8_t> batch;
    for (char ch : std::string("SELECT 1")) {
      batch.push_back(static_cast<std::uint8_t>(ch));
      batch.push_back(0);
    }
    r.send_message(kSqlBatch, batch);
    r.until_closed();
    EXPECT_TRUE(r.closed());
  }
  {  // a packet longer than the request limit's packet size
    Raw r(port);
    r.send_bytes({0x12, 0x01, 0xFF, 0xFF, 0, 0, 1, 0});
    r.until_closed();
    EXPECT_TRUE(r.closed());
  }
  int malformed = 0;
  for (const auto& line : log_lines()) malformed += line.find("malformed request") != std::string::npos;
  EXPECT_GE(malformed, 4);
  // The other connection and the listener go on.
  auto r = steady->execute("SELECT count(*) FROM items", {});
  EXPECT_EQ(std::get<std::int64_t>(r.rows.at(0).at(0)), 2);
  EXPECT_NO_THROW(connect());
}

TEST_F(TdsTest, ClientRequiringEncryptionIsRefusedWithAMessage) {
  Raw r(listener->port());
  r.send_message(kPrelogin, prelogin(1));
  auto answer = r.response();
  auto options = parse_prelogin(answer);
  EXPECT_TRUE(options.has_encryption);
  EXPECT_EQ(options.encryption, 2);  // not supported
  r.send_message(kLogin7, login7("tester", kPassword));
  auto refusal = r.until_closed();
  EXPECT_TRUE(r.closed());
  EXPECT_TRUE(contains_utf16(refusal, "this server does not offer encryption"));
}

// --- the wire format without a network -----------------------------------------------------

TEST(TdsProtocol, PlainLiteralsLoseWhatCp1252CannotHold) {
  EXPECT_EQ(narrow_plain_literals("SELECT 'Çağrı', N'Çağrı', [ğ], 'it''s ğ' -- 'ğ'"),
            "SELECT 'Ça?r?', N'Çağrı', [ğ], 'it''s ?' -- 'ğ'");
  EXPECT_EQ(narrow_plain_literals("x = 'unclosed ğ"), "x = 'unclosed ?");
  EXPECT_EQ(to_cp1252_repertoire("€ŠŸ ÿ 𝄞"), "€ŠŸ ÿ ?");
  EXPECT_EQ(cp1252_to_utf8("\x80\xE7"), "€ç");
}

TEST(TdsProtocol, Utf16RoundTripWithSurrogatesAndBadInput) {
  std::string text = "a𝄞Çğ日";
  std::u16string u = utf8_to_utf16(text);
  EXPECT_EQ(u.size(), 6u);
  std::vector<std::uint8_t> bytes;
  for (char16_t ch : u) {
    bytes.push_back(static_cast<std::uint8_t>(ch & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(ch >> 8));
  }
  EXPECT_EQ(utf16_to_utf8(bytes.data(), u.size()), text);
  const std::uint8_t lone[] = {0x00, 0xD8, 0x41, 0x00};
  EXPECT_EQ(utf16_to_utf8(lone, 2), "\xEF\xBF\xBD" "A");
  EXPECT_FALSE(valid_utf8("\xC3"));
  EXPECT_FALSE(valid_utf8("\xC0\x80"));
  EXPECT_TRUE(valid_utf8("Çağrı"));
}

// The fuzz seeds are real request shapes: sp_executesql with an int, and sp_prepexec with an
// output handle and a datetime followed by sp_unprepare in the same request.
TEST(TdsProtocol, RpcCallsAndParameterValuesDecoded) {
  auto seed = [](const char* name) {
    std::string bytes = orv::test::read_file(orv::test::source_dir() / "fuzz" / "corpus" / "tds_messages" / name);
    return std::vector<std::uint8_t>(bytes.begin() + 1, bytes.end());  // the first byte picks the parser
  };
  auto calls = parse_rpc(seed("rpc_executesql"));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].proc_id, 10);
  ASSERT_EQ(calls[0].params.size(), 3u);
  EXPECT_EQ(std::get<std::string>(calls[0].params[0].value), "SELECT @P1");
  EXPECT_EQ(calls[0].params[2].name, "@P1");
  EXPECT_EQ(std::get<std::int64_t>(calls[0].params[2].value), 7);
  calls = parse_rpc(seed("rpc_prepexec"));
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].proc_id, 13);
  ASSERT_EQ(calls[0].params.size(), 4u);
  EXPECT_TRUE(calls[0].params[0].output);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(calls[0].params[0].value));
  // 40000 days after 1900-01-01 and 100/300 s: stored days count from 1899-12-30.
  EXPECT_NEAR(std::get<dal::DateTime>(calls[0].params[3].value).days, 40002.0 + 100.0 / 300.0 / 86400.0, 1e-9);
  EXPECT_EQ(calls[1].proc_id, 15);
  EXPECT_EQ(std::get<std::int64_t>(calls[1].params.at(0).value), 1);
  auto cut = seed("rpc_prepexec");
  cut.resize(cut.size() - 3);
  EXPECT_THROW(parse_rpc(cut), TdsError);
  EXPECT_EQ(parse_sql_batch(seed("batch")), "SELECT 'Çağrı', N'x'; USE [a]]b]");
}

TEST(TdsProtocol, LoginFieldsAndPasswordDecoded) {
  auto l = parse_login7(login7("Ayşe", "p}w;ğ"));
  EXPECT_EQ(l.user, "Ayşe");
  EXPECT_EQ(l.password, "p}w;ğ");
  auto bad = login7("x", "y");
  bad[0] = 0x10;  // total length no longer the packet's
  EXPECT_THROW(parse_login7(bad), TdsError);
  auto past = login7("x", "y");
  put16(past, 42, 0x7FFF);  // user name length past the end
  EXPECT_THROW(parse_login7(past), TdsError);
}

}  // namespace
}  // namespace orv::server::tds
