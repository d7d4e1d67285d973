#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "platform/profile.h"
#include "server/engine.h"
#include "server/server_config.h"
#include "server/server_driver.h"
#include "settings/connection/server_connection.h"
#include "settings/store/settings_store.h"
#include "test_env.h"

namespace orv::settings {
namespace {

namespace fs = std::filesystem;

// Start-up and dialog against the embedded engine, with the shipped settings database.
class ServerConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(env.home());
    fs::copy_file(orv::test::bin_dir() / "Velmora.db", env.home() / "Velmora.db");
    server::register_server_driver();
    store.Open(env.home());
    admin()->execute("CREATE DATABASE Sales", {});
    admin()->execute("CREATE DATABASE [Year 2026]", {});
    admin()->execute("CREATE LOGIN bob WITH PASSWORD = 'p;w''d \"x\"'", {});
  }

  void register_mode(const std::string& mode) {
    server::register_local_server(2, server::default_engine_folder());
    platform::ProfileFile(server::server_config_file()).write_string("MSSQLServer", "LoginMode", mode);
  }
  std::unique_ptr<dal::Connection> admin() {
    server::EngineOptions o;
    o.root = server::default_engine_folder();
    server::LoginRequest l;
    l.integrated = true;
    return server::Engine::open(o)->connect(l);
  }
  // Makes the Windows trial fail: the Unix account loses its login.
  void drop_unix_login() {
    server::EngineOptions o;
    o.root = server::default_engine_folder();
    server::LoginRequest l;
    l.user = "bob";
    l.password = "p;w'd \"x\"";
    server::Engine::open(o)->connect(l)->execute("DROP LOGIN [" + platform::current_user_name() + "]", {});
  }
  void set_system(const std::string& author, const std::string& user, const std::string& password) {
    store.ADOTableSystem.edit();
    store.ADOTableSystem.field("Author").set_string(author);
    store.ADOTableSystem.field("User_Name").set_string(user);
    store.ADOTableSystem.field("Passw").set_string(password);
    store.ADOTableSystem.post();
  }
  // Author as stored in the file, read through a fresh store.
  std::string stored_author() {
    SettingsStore fresh;
    fresh.Open(env.home());
    return fresh.ADOTableSystem.field("Author").as_string();
  }
  std::vector<std::string> list_names() {
    std::vector<std::string> names;
    auto& t = store.ADOTableDatabase;
    for (int i = 0; i < t.record_count(); ++i) names.push_back(t.text_at(i, t.field("Veri_Tabani_Adi").index()));
    return names;
  }

  orv::test::TestEnv env;
  SettingsStore store;
  ServerConnection sc;
};

TEST(ConnectionStrings, ExactTextsAndQuotedValues) {
  EXPECT_EQ(WindowsConnectionString(),
            "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source=(local)");
  EXPECT_EQ(LoginConnectionString("sa", "secret"),
            "Provider=SQLOLEDB.1;Password=secret;Persist Security Info=False;User ID=sa;Data Source=(local)");
  EXPECT_EQ(LoginConnectionString("", ""), "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=;Data Source=(local)");
  // A ";" in the password no longer ends it: the string reads back to the same password.
  std::string text = LoginConnectionString("o\"k", "a;Data Source=elsewhere;\"");
  dal::ConnectionString cs(text);
  EXPECT_EQ(cs.get("Password"), "a;Data Source=elsewhere;\"");
  EXPECT_EQ(cs.get("User ID"), "o\"k");
  EXPECT_EQ(cs.get("Data Source"), "(local)");
}

TEST(StartupRules, DecisionTable) {
  struct Case {
    const char* mode;
    const char* author;
    int rule;
    bool windows;
    const char* store;  // nullptr: Author unchanged
  } cases[] = {
      {"1", "", 1, true, "False"},     {"1", "False", 1, true, nullptr}, {"1", "True", 2, false, nullptr},
      {"2", "", 2, false, "True"},     {"2", "False", 1, true, nullptr}, {"2", "True", 2, false, nullptr},
      {"0", "", 2, false, "True"},     {"0", "False", 1, true, nullptr}, {"0", "x", 2, false, "True"},
      {"3", "", 3, true, nullptr},     {"3", "True", 2, false, nullptr}, {"3", "yes", 3, true, nullptr},
      {"2", "true", 3, true, nullptr}, {"1", "x", 3, true, nullptr},     {"100", "", 3, true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + "/" + c.author);
    StartupChoice choice = ChooseStartupLogin(c.mode, c.author);
    EXPECT_EQ(choice.rule, c.rule);
    EXPECT_EQ(choice.windows, c.windows);
    EXPECT_EQ(choice.store_author.has_value(), c.store != nullptr);
    if (c.store && choice.store_author) {
      EXPECT_EQ(*choice.store_author, c.store);
    }
  }
}

TEST(ServerCheckTest, NothingRegisteredIs100AndABadModeThrows) {
  orv::test::TestEnv env;
  EXPECT_EQ(ServerCheck(), "100");
  server::register_local_server(2, server::default_engine_folder());
  EXPECT_EQ(ServerCheck(), "2");
  platform::ProfileFile(server::server_config_file()).write_string("MSSQLServer", "LoginMode", "02");
  EXPECT_EQ(ServerCheck(), "2");
  platform::ProfileFile(server::server_config_file()).write_string("MSSQLServer", "LoginMode", "two");
  EXPECT_THROW(ServerCheck(), std::runtime_error);
}

TEST_F(ServerConnectionTest, TrialSucceedsAuthorIsNeitherReadNorChanged) {
  register_mode("2");
  set_system("True", "nobody", "");
  auto r = sc.StartupConnect(store, "2");
  EXPECT_EQ(r.rule, 0);
  EXPECT_EQ(sc.ADOConnectionSQLC.connection_string(), WindowsConnectionString());
  EXPECT_TRUE(sc.ADOConnectionSQLC.connected());
  EXPECT_TRUE(sc.ADOQueryTEST.active());  // the probe stays open
  EXPECT_EQ(stored_author(), "True");
  EXPECT_EQ(list_names(), (std::vector<std::string>{"Sales", "Year 2026"}));
}

TEST_F(ServerConnectionTest, Mode2EmptyAuthorStoresTrueAndUsesLoginEvenWithEmptyUser) {
  register_mode("2");
  drop_unix_login();
  set_system("", "", "");
  try {
    sc.StartupConnect(store, "2");
    ADD_FAILURE() << "an empty login was accepted";
  } catch (const dal::ProviderError& e) {
    EXPECT_STREQ(e.what(), "Login failed for user ''.");
  }
  EXPECT_EQ(sc.ADOConnectionSQLC.connection_string(), PlainLoginConnectionString(""));
  EXPECT_FALSE(sc.ADOConnectionSQLC.connected());
  EXPECT_EQ(stored_author(), "True");
  EXPECT_TRUE(list_names().empty());  // not refreshed
}

TEST_F(ServerConnectionTest, Mode1AuthorTrueUsesTheLoginThroughAuthor) {
  register_mode("2");  // the engine accepts SQL logins; the check's mode is what decides
  drop_unix_login();
  set_system("True", "bob", "p;w'd \"x\"");
  auto r = sc.StartupConnect(store, "1");
  EXPECT_EQ(r.rule, 2);
  EXPECT_EQ(r.connection_string, LoginConnectionString("bob", "p;w'd \"x\""));
  EXPECT_TRUE(sc.ADOConnectionSQLC.connected());
  EXPECT_EQ(list_names(), (std::vector<std::string>{"Sales", "Year 2026"}));
  EXPECT_EQ(stored_author(), "True");
}

TEST_F(ServerConnectionTest, Mode1EmptyAuthorStoresFalseAndTriesWindowsAgain) {
  register_mode("1");
  drop_unix_login();
  set_system("", "bob", "p;w'd \"x\"");
  try {
    sc.StartupConnect(store, "1");
    ADD_FAILURE() << "Windows authentication succeeded without a login";
  } catch (const dal::ProviderError& e) {
    EXPECT_EQ(std::string(e.what()), "Login failed for user '" + platform::current_user_name() + "'.");
  }
  EXPECT_EQ(sc.ADOConnectionSQLC.connection_string(), WindowsConnectionString());
  EXPECT_EQ(stored_author(), "False");
}

TEST_F(ServerConnectionTest, OtherModeEmptyAuthorUsesWindowsAndKeepsAuthorEmpty) {
  register_mode("3");
  drop_unix_login();
  set_system("", "bob", "p;w'd \"x\"");
  EXPECT_THROW(sc.StartupConnect(store, "3"), dal::ProviderError);
  EXPECT_EQ(sc.ADOConnectionSQLC.connection_string(), WindowsConnectionString());
  EXPECT_EQ(stored_author(), "");
}

TEST_F(ServerConnectionTest, RefreshAddsOnlyMissingNamesByExactMatch) {
  register_mode("2");
  store.ADOTableDatabase.append();
  store.ADOTableDatabase.field("Veri_Tabani_Adi").set_string("sales");  // differs in case only
  store.ADOTableDatabase.post();
  store.ADOTableDatabase.append();
  store.ADOTableDatabase.field("Veri_Tabani_Adi").set_string("Gone");  // no longer on the server
  store.ADOTableDatabase.post();
  sc.StartupConnect(store, "2");
  auto first = list_names();
  EXPECT_EQ(first.size(), 4u);
  sc.RefreshDatabaseList(store.ADOTableDatabase);
  EXPECT_EQ(list_names(), first);
  std::sort(first.begin(), first.end());
  EXPECT_EQ(first, (std::vector<std::string>{"Gone", "Sales", "Year 2026", "sales"}));
  // New rows follow the new-row rule: every day flag "False".
  ASSERT_TRUE(store.ADOTableDatabase.locate("Veri_Tabani_Adi", "Year 2026"));
  EXPECT_EQ(store.ADOTableDatabase.field("Pazar").as_string(), "False");
}

TEST_F(ServerConnectionTest, ConnectButtonTakesEmptyAuthorAsLogin) {
  register_mode("2");
  set_system("", "bob", "p;w'd \"x\"");
  EXPECT_EQ(sc.ConnectClick(store), std::nullopt);
  EXPECT_EQ(sc.ADOConnectionSQLC.connection_string(), LoginConnectionString("bob", "p;w'd \"x\""));
  EXPECT_EQ(list_names().size(), 2u);

  set_system("False", "bob", "");
  EXPECT_EQ(sc.ConnectClick(store), std::nullopt);
  EXPECT_EQ(sc.ADOConnectionSQLC.connection_string(), WindowsConnectionString());

  // A pending edit is posted first; a refused login throws and leaves the connection closed.
  store.ADOTableSystem.edit();
  store.ADOTableSystem.field("Author").set_string("True");
  store.ADOTableSystem.field("Passw").set_string("wrong");
  EXPECT_THROW(sc.ConnectClick(store), dal::ProviderError);
  EXPECT_FALSE(sc.ADOConnectionSQLC.connected());
  EXPECT_EQ(stored_author(), "True");
}

TEST_F(ServerConnectionTest, NoServerRegisteredFailsWithTheProviderText) {
  set_system("False", "", "");
  try {
    sc.ConnectClick(store);
    ADD_FAILURE() << "connected without a server";
  } catch (const dal::ProviderError& e) {
    EXPECT_NE(std::string(e.what()).find("SQL Server does not exist or access denied."), std::string::npos);
  }
}

}  // namespace
}  // namespace orv::settings
