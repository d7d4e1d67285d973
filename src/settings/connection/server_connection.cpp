#include "settings/connection/server_connection.h"

#include <cctype>
#include <chrono>

#include "server/server_config.h"
#include "settings/store/settings_store.h"

namespace orv::settings {

namespace {

constexpr std::chrono::seconds kCommandTimeout{2100000000};
constexpr std::chrono::seconds kConnectionTimeout{30000};

std::string author_of(SettingsStore& store) { return store.ADOTableSystem.field("Author").as_string(); }
std::string user_of(SettingsStore& store) { return store.ADOTableSystem.field("User_Name").as_string(); }
std::string password_of(SettingsStore& store) { return store.ADOTableSystem.field("Passw").as_string(); }

void store_author(SettingsStore& store, const std::string& value) {
  store.ADOTableSystem.edit();
  store.ADOTableSystem.field("Author").set_string(value);
  store.ADOTableSystem.post();
}

}  // namespace

std::string ConnectionStringValue(std::string_view value) {
  bool quote = value.find_first_of(";\"'") != std::string_view::npos ||
               (!value.empty() && (std::isspace(static_cast<unsigned char>(value.front())) ||
                                   std::isspace(static_cast<unsigned char>(value.back())) || value.front() == '{'));
  if (!quote) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    out += c;
    if (c == '"') out += c;
  }
  return out + "\"";
}

std::string WindowsConnectionString() {
  return "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source=(local)";
}

std::string PasswordLoginConnectionString(std::string_view user_name, std::string_view password) {
  return "Provider=SQLOLEDB.1;Password=" + ConnectionStringValue(password) +
         ";Persist Security Info=False;User ID=" + ConnectionStringValue(user_name) + ";Data Source=(local)";
}

std::string PlainLoginConnectionString(std::string_view user_name) {
  return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=" + ConnectionStringValue(user_name) +
         ";Data Source=(local)";
}

std::string LoginConnectionString(std::string_view user_name, std::string_view password) {
  return password.empty() ? PlainLoginConnectionString(user_name) : PasswordLoginConnectionString(user_name, password);
}

std::string ServerCheck() { return server::read_login_mode(); }

StartupChoice ChooseStartupLogin(std::string_view mode, std::string_view author) {
  StartupChoice c;
  if ((mode == "1" && author.empty()) || author == "False") {
    c.rule = 1;
    c.windows = true;
    if (author != "False") c.store_author = "False";
  } else if (mode == "0" || (mode == "2" && author.empty()) || author == "True") {
    c.rule = 2;
    c.windows = false;
    if (author != "True") c.store_author = "True";
  } else {
    c.rule = 3;
    c.windows = true;
  }
  return c;
}

ServerConnection::ServerConnection() : ADOStoredProc1(ADOConnectionSQLC), ADOQueryTEST(ADOQueryTESTConnection) {
  ADOConnectionSQLC.set_command_timeout(kCommandTimeout);
  ADOConnectionSQLC.set_connection_timeout(kConnectionTimeout);
  ADOConnectionSQLC.set_login_prompt(false);
  ADOQueryTESTConnection.set_login_prompt(false);
  ADOQueryTEST.add_sql("Select * From Sysfiles");
}

void ServerConnection::Reopen(const std::string& text) {
  ADOConnectionSQLC.close();
  ADOConnectionSQLC.set_connection_string(text);
  ADOConnectionSQLC.open();
}

ServerConnection::StartupResult ServerConnection::StartupConnect(SettingsStore& store, std::string_view mode) {
  StartupResult result;
  const std::string windows = WindowsConnectionString();
  bool trial = false;
  try {
    ADOQueryTEST.close();
    ADOQueryTESTConnection.close();
    ADOQueryTESTConnection.open(windows);
    ADOQueryTEST.open();
    trial = true;
  } catch (const std::exception&) {
    // Not reported: the rules below decide.
    ADOQueryTESTConnection.close();
  }

  if (trial) {
    result.rule = 0;
    result.connection_string = windows;
  } else {
    StartupChoice choice = ChooseStartupLogin(mode, author_of(store));
    if (choice.store_author) store_author(store, *choice.store_author);
    result.rule = choice.rule;
    result.connection_string = choice.windows ? windows : LoginConnectionString(user_of(store), password_of(store));
  }
  Reopen(result.connection_string);
  RefreshDatabaseList(store.ADOTableDatabase);
  return result;
}

void ServerConnection::RefreshDatabaseList(dal::Table& ADOTableDatabase) {
  ADOStoredProc1.close();
  ADOStoredProc1.set_procedure_name("sp_Databases");
  ADOStoredProc1.open();
  // New rows go in one transaction of the settings database: one write to disk for a server
  // with a thousand databases on its first start, not one per row. A failure keeps none.
  dal::DataConnection& settings = ADOTableDatabase.connection();
  bool in_transaction = false;
  try {
    ADOStoredProc1.first();
    while (!ADOStoredProc1.eof()) {
      std::string name = ADOStoredProc1.field("DATABASE_NAME").as_string();
      if (!ADOTableDatabase.locate("Veri_Tabani_Adi", name)) {
        if (!in_transaction) {
          settings.execute("BEGIN IMMEDIATE");
          in_transaction = true;
        }
        ADOTableDatabase.append();
        ADOTableDatabase.field("Veri_Tabani_Adi").set_string(name);
        ADOTableDatabase.post();
      }
      ADOStoredProc1.next();
    }
    if (in_transaction) settings.execute("COMMIT");
  } catch (...) {
    if (in_transaction) {
      settings.execute("ROLLBACK");
      // The dataset drops the rows it added and reads what the database holds again.
      ADOTableDatabase.close();
      ADOTableDatabase.open();
    }
    throw;
  }
}

std::optional<std::string> ServerConnection::ConnectClick(SettingsStore& store) {
  store.PostPendingSystemEdit();
  std::string text = author_of(store) != "False" ? LoginConnectionString(user_of(store), password_of(store))
                                                 : WindowsConnectionString();
  Reopen(text);
  try {
    RefreshDatabaseList(store.ADOTableDatabase);
  } catch (const std::exception& err) {
    return std::string(err.what());
  }
  return std::nullopt;
}

}  // namespace orv::settings
