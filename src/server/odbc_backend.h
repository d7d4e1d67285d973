// The ODBC back end of "SQLOLEDB.1": a real SQL Server (or any ODBC data source) reached
// through unixODBC. FreeTDS's driver (Debian package tdsodbc) is the documented driver for
// SQL Server; Microsoft's ODBC driver works the same way.
//
// Connection strings: the tool's OLE DB strings are translated to ODBC keywords, every value
// taken from them braced with "}" doubled, so a ";" or "}" in a password stays inside the
// password. The keywords of the configuration file's [ODBC] section go first, as written.
// Errors: dal::ProviderError with the driver's diagnostic text (all records, one per line) and
// the first record's native error number.
// Threading: one connection per thread at a time; the environment handle is per connection.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dal/driver.h"

namespace orv::server {

// "{value}" with every "}" doubled.
std::string odbc_brace(std::string_view value);

// The ODBC string for one OLE DB connection string: the configured keywords (Driver, Server,
// Port, ...) first, as written, then Trusted_Connection=Yes for integrated security, or UID and PWD for a
// login, then Database for an "Initial Catalog".
std::string odbc_connection_string(const dal::ConnectionString& oledb,
                                   const std::vector<std::pair<std::string, std::string>>& configured);

std::unique_ptr<dal::Connection> odbc_connect(const std::string& odbc_string, const dal::ConnectOptions& options);

}  // namespace orv::server
