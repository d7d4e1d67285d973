// The ODBC back end of "SQLOLEDB.1": a real SQL Server (or any ODBC data source) reached
// through unixODBC. FreeTDS's driver (Debian package tdsodbc) is the documented driver for
// SQL Server; Microsoft's ODBC driver works the same way.
//
// Connection strings: the tool's OLE DB strings are translated to ODBC keywords, every value
// taken from them quoted so that it reaches the server as typed: braced with "}" doubled as
// ODBC says, or in the form FreeTDS reads back (its driver name holds "tds"): unbraced when
// the value has no ";", else braced without doubling. For FreeTDS, ClientCharset=UTF-8 is
// added unless configured, and a non-ASCII database is entered with USE after the login.
// The keywords of the configuration file's [ODBC] section go first, as written.
// Errors: dal::ProviderError with the server's text (the driver's "[vendor]" prefixes
// removed; the error records, one per line, without the informational ones before them) and
// the first error record's native error number.
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
// login, then Database for an "Initial Catalog". Throws dal::ProviderError for a value the
// driver cannot carry.
std::string odbc_connection_string(const dal::ConnectionString& oledb,
                                   const std::vector<std::pair<std::string, std::string>>& configured);
// The database to enter with USE after the login ("" when the string carries it).
std::string odbc_database_after_login(const dal::ConnectionString& oledb,
                                      const std::vector<std::pair<std::string, std::string>>& configured);
// True when the configured Driver is FreeTDS's.
bool is_freetds(const std::vector<std::pair<std::string, std::string>>& configured);

std::unique_ptr<dal::Connection> odbc_connect(const std::string& odbc_string, const dal::ConnectOptions& options,
                                              const std::string& use_database = "");

}  // namespace orv::server
