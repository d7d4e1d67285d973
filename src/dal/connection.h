// DataConnection: a connection of the data-access layer as the application holds it
// (the settings connection, the server connection).
//
// It is opened from a connection string whose "Provider=" key picks the driver (driver.h):
// "Provider=SQLite;Data Source=<path>" for the settings database, "Provider=SQLOLEDB.1;..." for
// the database server. It can be closed and opened again with another string. Datasets
// (dataset.h) are attached to one DataConnection; closing the connection closes them.
//
//   orv::dal::DataConnection settings;
//   settings.set_command_timeout(std::chrono::seconds(3000000));
//   settings.open("Provider=SQLite;Data Source=/opt/orvakell/Velmora.db");
//
// Ownership: the DataConnection owns the provider connection. It does not own the datasets
// attached to it; a dataset detaches itself when destroyed, and a DataConnection destroyed
// first leaves its datasets closed and detached.
// Threading: one thread at a time (the user-interface thread in the tool).
// Errors: a failure to connect or to run a statement throws ProviderError (driver.h) with the
// provider's own text; using a closed connection throws DataSetError (dataset.h).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <mutex>

#include "dal/driver.h"

namespace orv::dal {

class DataSet;

class DataConnection {
 public:
  DataConnection();
  ~DataConnection();
  DataConnection(const DataConnection&) = delete;
  DataConnection& operator=(const DataConnection&) = delete;

  // Setting another string while connected closes the connection first.
  void set_connection_string(std::string text);
  const std::string& connection_string() const { return connection_string_; }

  // Connection time-out: how long opening may wait (the settings database: for a lock held by
  // another program). Command time-out: how long one statement may wait. Both apply from the
  // next open(); set_command_timeout also applies at once to an open connection.
  void set_connection_timeout(std::chrono::seconds timeout) { options_.connection_timeout = timeout; }
  void set_command_timeout(std::chrono::seconds timeout);
  std::chrono::seconds connection_timeout() const { return options_.connection_timeout; }
  std::chrono::seconds command_timeout() const { return options_.command_timeout; }
  // Kept for the record: the tool never prompts, whatever is set.
  void set_login_prompt(bool prompt) { options_.login_prompt = prompt; }

  // Connects with the current string; does nothing when already connected.
  void open();
  // Sets the string (closing a current connection) and connects.
  void open(std::string text);
  // Closes every attached dataset, then the connection. Does nothing when not connected.
  void close();
  bool connected() const { return connection_ != nullptr; }

  // Runs a statement that returns no rows (or whose rows are not wanted); returns the number of
  // rows it changed, -1 when the provider does not say.
  std::int64_t execute(const std::string& sql, const std::vector<Param>& params = {});

  // The provider connection, for datasets. Throws DataSetError when not connected.
  Connection& provider();

  // Cancels the statement in progress (Connection::cancel); false when not connected or the
  // provider cannot cancel. May be called from another thread while a statement runs.
  bool cancel();

 private:
  friend class DataSet;
  void attach(DataSet* dataset);
  void detach(DataSet* dataset);

  std::string connection_string_;
  ConnectOptions options_;
  std::unique_ptr<Connection> connection_;
  std::mutex connection_mutex_;  // guards connection_ against cancel() from another thread
  std::vector<DataSet*> datasets_;
};

}  // namespace orv::dal
