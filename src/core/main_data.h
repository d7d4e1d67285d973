// The long-lived data objects of a host of the backup operations: the settings store (the settings
// connection ADOConnection1 and its datasets), the server connection (ADOConnectionSQLC and its
// probe), the queries the operations run on the server, and the process-wide values they share.
// A host (the window, app/window/form_main.h) owns one MainData for the life of the process; the
// services (backup run, scheduler, restore, maintenance) receive it by reference.
//
// Plain C++, no Qt. Threading: user-interface thread only. Errors: the data-access layer's
// ProviderError / DataSetError, unchanged.
#pragma once

#include <string>

#include "settings/connection/server_connection.h"
#include "dal/connection.h"
#include "dal/dataset.h"
#include "settings/store/settings_store.h"

namespace orv::core {

struct MainData {
  MainData() = default;
  MainData(const MainData&) = delete;
  MainData& operator=(const MainData&) = delete;

  settings::SettingsStore store;      // ADOConnection1 on Velmora.db
  settings::ServerConnection server;  // ADOConnectionSQLC, ADOStoredProc1, ADOQueryTEST

  // The datasets by the names the operations use.
  dal::DataConnection& ADOConnection1 = store.ADOConnection1;
  dal::Table& ADOTableDatabase = store.ADOTableDatabase;
  dal::Table& ADOTableSystem = store.ADOTableSystem;
  dal::Query& ADOQueryZamanlama = store.ADOQueryZamanlama;
  dal::Query& ADOQueryLanguage = store.ADOQueryLanguage;
  dal::DataConnection& ADOConnectionSQLC = server.ADOConnectionSQLC;
  dal::StoredProc& ADOStoredProc1 = server.ADOStoredProc1;
  // The operations' statements on the server connection.
  dal::Query ADOQuerySQLBackup{server.ADOConnectionSQLC};
  dal::Query ADOQueryDetay{server.ADOConnectionSQLC};
  dal::Query ADOQueryIndex{server.ADOConnectionSQLC};

  // The installation folder, without a final separator.
  std::string installation_folder;
  // "EVET" while a run started by the scheduler is in progress, "HAYIR" otherwise.
  std::string UnattendedRun = "HAYIR";
};

}  // namespace orv::core
