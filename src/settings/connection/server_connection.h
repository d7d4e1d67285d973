// The server connection of the main window: how the tool logs in to the database server, the
// connection strings, the start-up connect, the database list refresh and the decision of the
// connection dialog's "Connect" button. Plain C++: the dialog and the message boxes are the
// window's; this module returns what they show.
//
// The three connection strings are written exactly as the tool has always written them, with
// one mend: a user name or password holding ";", a quote or surrounding blanks is wrapped in
// double quotes (inner quotes doubled), so it can no longer end the value early and smuggle
// further settings into the string. Values without such characters give the exact old text.
//
// Server check: the registered server's LoginMode as text, "100" when none is registered
// (server/server_config.h: $XDG_CONFIG_HOME/orvakell/server.ini).
//
// Ownership: the main window owns one ServerConnection for the life of the process; it holds
// `ADOConnectionSQLC` (on which every backup, restore and maintenance statement runs),
// `ADOStoredProc1` on it, and the probe `ADOQueryTEST` with a connection of its own.
// Threading: the user-interface thread only.
// Errors: ProviderError with the server's text from the final opens and the refresh, as
// described per function; the Windows trial never throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dal/connection.h"
#include "dal/dataset.h"

namespace orv::settings {

class SettingsStore;

// "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source=(local)"
std::string WindowsConnectionString();
// "Provider=SQLOLEDB.1;Password=" + Passw + ";Persist Security Info=False;User ID=" + User_Name
// + ";Data Source=(local)"
std::string PasswordLoginConnectionString(std::string_view user_name, std::string_view password);
// "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=" + User_Name + ";Data Source=(local)"
std::string PlainLoginConnectionString(std::string_view user_name);
// The password login string when the password is not empty, else the plain login string.
std::string LoginConnectionString(std::string_view user_name, std::string_view password);
// A connection-string value as written into the strings above (quoted only when it must be).
std::string ConnectionStringValue(std::string_view value);

// The server check: LoginMode as decimal text, or "100". Throws std::runtime_error when a
// server is registered but its LoginMode is missing or not an integer.
std::string ServerCheck();

// Rules 1-3 of the start-up connect after a failed Windows trial.
struct StartupChoice {
  int rule = 3;
  bool windows = true;                      // Windows string, else the login string
  std::optional<std::string> store_author;  // the Author value to store first, when it changes
};
StartupChoice ChooseStartupLogin(std::string_view mode, std::string_view author);

class ServerConnection {
 public:
  ServerConnection();
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // What the start-up connect did: 0 = the Windows trial succeeded, else the rule applied.
  struct StartupResult {
    int rule = 0;
    std::string connection_string;
  };
  // Steps 1-5 of the start-up connect with the server check's `mode` (the window then sets its
  // volume label): the Windows trial on ADOQueryTEST, the choice, the open of
  // ADOConnectionSQLC and RefreshDatabaseList. A failure of the final open or of the refresh
  // throws with the provider's text; the connection is then closed (open failed) or open
  // (refresh failed), and an Author change made before stays stored.
  StartupResult StartupConnect(SettingsStore& store, std::string_view mode);

  // Appends to ADOTableDatabase every name sp_Databases returns that no row's Veri_Tabani_Adi
  // equals exactly. Throws with the provider's text when the procedure cannot be run.
  void RefreshDatabaseList(dal::Table& ADOTableDatabase);

  // The dialog's "Connect": posts a pending System edit, builds the string from Author
  // (anything but exactly "False" is a login), reopens ADOConnectionSQLC with it — a failure
  // there throws (the standard error box) and leaves the connection closed — then refreshes the
  // database list. Returns nullopt on success (the Suc_Conc_Str box), else the refresh's error
  // text (the Err_Cont_Str box).
  std::optional<std::string> ConnectClick(SettingsStore& store);

  dal::DataConnection ADOConnectionSQLC;
  dal::StoredProc ADOStoredProc1;
  dal::DataConnection ADOQueryTESTConnection;  // the probe's own connection string
  dal::Query ADOQueryTEST;

 private:
  void Reopen(const std::string& text);
};

}  // namespace orv::settings
