#include "app/core/startup.h"

#include "app/shell/shortcuts.h"
#include "i18n/language_query.h"
#include "platform/paths.h"
#include "server/server_driver.h"
#include "dal/sqlite_driver.h"

namespace orv::app {

void RegisterProviders() {
  dal::register_sqlite_driver();
  server::register_server_driver();
}

std::string InstallationFolder() {
  std::string folder = platform::installation_folder().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string NoServerText(const std::filesystem::path& installation_folder) {
  const std::string key = "MS_Not_Found";
  try {
    dal::DataConnection connection;
    connection.open(settings::settings_connection_string(installation_folder));
    dal::Query query(connection);
    i18n::QueryLanguageTable table(query);
    return i18n::TranslateText(table, key);
  } catch (const std::exception&) {
    return key;
  }
}

CreateOutcome CreateSteps(MainData& data, ui::Dialogs& dialogs) {
  CreateOutcome out;
  data.installation_folder = InstallationFolder();
  data.UnattendedRun = "HAYIR";
  RegisterProviders();

  try {
    out.mode = settings::ServerCheck();
  } catch (const std::exception& e) {
    dialogs.standard_error(e.what());
    out.reached = CreateReached::ServerCheckFailed;
    return out;
  }
  if (out.mode == "100") {
    dialogs.message(NoServerText(data.installation_folder), kNoServerCaption, ui::BoxKind::Error);
    out.reached = CreateReached::NoServer;
    return out;
  }

  try {
    data.store.Open(data.installation_folder);
  } catch (const std::exception& e) {
    dialogs.standard_error(e.what());
    out.reached = CreateReached::SettingsFailed;
    return out;
  }

  if (data.ADOTableDatabase.record_count() == 0) {
    const std::filesystem::path target = std::filesystem::path(data.installation_folder) / kProgramName;
    for (int kind : {0, 5}) {
      const shell::ShortcutResult r = shell::CreateShellShortcut(target, kind);
      if (!r.ok()) dialogs.standard_error(r.error);  // a missing link does not stop the start
      out.links_made = out.links_made || !r.link.empty();
    }
  }

  try {
    data.server.StartupConnect(data.store, out.mode);
  } catch (const std::exception& e) {
    dialogs.standard_error(e.what());
    out.reached = CreateReached::ConnectFailed;
    return out;
  }
  out.reached = CreateReached::Connected;
  return out;
}

void CloseSteps(MainData& data, ui::Dialogs& dialogs) {
  try {
    data.store.PostPendingSystemEdit();
  } catch (const std::exception& e) {
    dialogs.standard_error(e.what());
  }
  try {
    dal::Table& t = data.ADOTableDatabase;
    if (t.state() == dal::DataSetState::Edit || t.state() == dal::DataSetState::Insert) t.post();
  } catch (const std::exception& e) {
    dialogs.standard_error(e.what());
  }
}

}  // namespace orv::app
