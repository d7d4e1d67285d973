#include "dal/connection.h"

#include <algorithm>
#include <mutex>

#include "dal/dataset.h"
#include "dal/sqlite_driver.h"

namespace orv::dal {

namespace {

// The settings database's provider is built in; others (the server) register themselves.
void ensure_builtin_drivers() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!find_driver("SQLite")) register_sqlite_driver();
  });
}

}  // namespace

DataConnection::DataConnection() = default;

DataConnection::~DataConnection() {
  for (DataSet* d : std::vector<DataSet*>(datasets_)) {
    d->connection_closing();
    d->connection_ = nullptr;
  }
}

void DataConnection::set_connection_string(std::string text) {
  if (connected()) close();
  connection_string_ = std::move(text);
}

void DataConnection::set_command_timeout(std::chrono::seconds timeout) {
  options_.command_timeout = timeout;
  if (connection_) connection_->set_command_timeout(timeout);
}

void DataConnection::open() {
  if (connected()) return;
  ensure_builtin_drivers();
  auto opened = open_connection(ConnectionString(connection_string_), options_);
  std::lock_guard lock(connection_mutex_);
  connection_ = std::move(opened);
}

void DataConnection::open(std::string text) {
  set_connection_string(std::move(text));
  open();
}

void DataConnection::close() {
  if (!connected()) return;
  for (DataSet* d : std::vector<DataSet*>(datasets_)) d->connection_closing();
  std::lock_guard lock(connection_mutex_);
  connection_.reset();
}

bool DataConnection::cancel() {
  std::lock_guard lock(connection_mutex_);
  return connection_ && connection_->cancel();
}

std::int64_t DataConnection::execute(const std::string& sql, const std::vector<Param>& params) {
  return provider().execute(sql, params).rows_affected;
}

Connection& DataConnection::provider() {
  if (!connection_) throw DataSetError("Operation is not allowed when the object is closed.");
  return *connection_;
}

void DataConnection::attach(DataSet* dataset) { datasets_.push_back(dataset); }

void DataConnection::detach(DataSet* dataset) {
  datasets_.erase(std::remove(datasets_.begin(), datasets_.end(), dataset), datasets_.end());
}

}  // namespace orv::dal
