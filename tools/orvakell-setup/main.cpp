// orvakell-setup: sets up the embedded database server for a fresh machine. Idempotent.
//
//  1. When no server is registered, writes the server configuration file
//     ($XDG_CONFIG_HOME/orvakell/server.ini) registering the local engine with LoginMode 2 and
//     its folder $XDG_DATA_HOME/orvakell/server. An existing registration is left as it is.
//  2. When the local engine is the registered server, makes the sample databases that are
//     missing: "Accounting", "Inventory" and "Customer Orders", each with tables, rows, an
//     index and a view. Existing databases are never touched.
// Exit status 0 on success; 1 with the error text on standard error.
#include <iostream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "server/engine.h"
#include "server/server_config.h"
#include "server/statement.h"

namespace {

using orv::server::quote_identifier;

struct Sample {
  const char* name;
  std::vector<std::string> script;
};

std::vector<Sample> samples() {
  std::vector<Sample> out;
  out.push_back({"Accounting",
                 {"CREATE TABLE Accounts(AccountNo INTEGER PRIMARY KEY, Name TEXT NOT NULL, Kind TEXT NOT NULL)",
                  "CREATE TABLE Entries(EntryId INTEGER PRIMARY KEY, AccountNo INTEGER NOT NULL REFERENCES "
                  "Accounts(AccountNo), Posted TEXT NOT NULL, Amount REAL NOT NULL, Memo TEXT)",
                  "CREATE INDEX IX_Entries_Account ON Entries(AccountNo, Posted)",
                  "INSERT INTO Accounts VALUES(100, 'Cash', 'Asset'), (120, 'Receivables', 'Asset'), "
                  "(300, 'Payables', 'Liability'), (600, 'Sales', 'Income'), (700, 'Rent', 'Expense')",
                  "INSERT INTO Entries(AccountNo, Posted, Amount, Memo) VALUES"
                  "(100, '2026-01-05', 1500.00, 'Opening balance'), (600, '2026-01-07', -420.50, 'Invoice 1001'),"
                  "(120, '2026-01-07', 420.50, 'Invoice 1001'), (700, '2026-01-31', 800.00, 'January rent'),"
                  "(100, '2026-01-31', -800.00, 'January rent'), (600, '2026-02-02', -99.90, 'Invoice 1002'),"
                  "(120, '2026-02-02', 99.90, 'Invoice 1002')",
                  "CREATE VIEW Balances AS SELECT a.AccountNo, a.Name, ROUND(TOTAL(e.Amount), 2) AS Balance "
                  "FROM Accounts a LEFT JOIN Entries e ON e.AccountNo = a.AccountNo GROUP BY a.AccountNo"}});
  out.push_back({"Inventory",
                 {"CREATE TABLE Products(ProductId INTEGER PRIMARY KEY, Code TEXT NOT NULL UNIQUE, Name TEXT NOT NULL, "
                  "UnitPrice REAL NOT NULL)",
                  "CREATE TABLE Stock(ProductId INTEGER NOT NULL REFERENCES Products(ProductId), Warehouse TEXT NOT NULL, "
                  "Quantity INTEGER NOT NULL, PRIMARY KEY(ProductId, Warehouse))",
                  "CREATE INDEX IX_Products_Name ON Products(Name)",
                  "INSERT INTO Products VALUES(1, 'P-100', 'Printer paper A4', 4.95), (2, 'P-200', 'Toner cartridge', "
                  "62.00), (3, 'P-300', 'Stapler', 7.50), (4, 'P-400', 'USB stick 32 GB', 8.99)",
                  "INSERT INTO Stock VALUES(1, 'Main', 120), (1, 'Shop', 15), (2, 'Main', 6), (3, 'Shop', 9), "
                  "(4, 'Main', 40)",
                  "CREATE VIEW [Low Stock] AS SELECT p.Code, p.Name, s.Warehouse, s.Quantity FROM Stock s JOIN Products p "
                  "ON p.ProductId = s.ProductId WHERE s.Quantity < 10"}});
  out.push_back({"Customer Orders",
                 {"CREATE TABLE Customers(CustomerId INTEGER PRIMARY KEY, Name TEXT NOT NULL, City TEXT)",
                  "CREATE TABLE [Order Lines](OrderId INTEGER NOT NULL, Line INTEGER NOT NULL, CustomerId INTEGER NOT "
                  "NULL REFERENCES Customers(CustomerId), Item TEXT NOT NULL, Quantity INTEGER NOT NULL, "
                  "PRIMARY KEY(OrderId, Line))",
                  "CREATE INDEX [IX Order Lines Customer] ON [Order Lines](CustomerId)",
                  "INSERT INTO Customers VALUES(1, 'Ada''s Bakery', 'Izmir'), (2, 'Brook & Sons', 'Leeds'), "
                  "(3, 'Café Nord', 'Tromsø')",
                  "INSERT INTO [Order Lines] VALUES(5001, 1, 1, 'Flour 25 kg', 4), (5001, 2, 1, 'Yeast', 10), "
                  "(5002, 1, 2, 'Shelving', 2), (5003, 1, 3, 'Coffee beans', 12), (5003, 2, 3, 'Filters', 30)",
                  "CREATE VIEW [Orders per Customer] AS SELECT c.Name, COUNT(DISTINCT o.OrderId) AS Orders FROM "
                  "Customers c LEFT JOIN [Order Lines] o ON o.CustomerId = c.CustomerId GROUP BY c.CustomerId"}});
  return out;
}

}  // namespace

int main(int argc, char**) {
  if (argc > 1) {
    std::cerr << "usage: orvakell-setup   (takes its folders from ORVAKELL_HOME, XDG_CONFIG_HOME, XDG_DATA_HOME)\n";
    return 2;
  }
  try {
    auto config = orv::server::load_server_config();
    if (!config) {
      orv::server::register_local_server(2, orv::server::default_engine_folder());
      config = orv::server::load_server_config();
      std::cout << "Registered the local server engine in " << orv::server::server_config_file().string() << "\n";
    } else {
      std::cout << "A server is already registered in " << orv::server::server_config_file().string() << "\n";
    }
    if (!config || config->backend != orv::server::ServerConfig::Backend::Local) {
      std::cout << "The registered server is not the local engine; no sample databases made.\n";
      return 0;
    }
    orv::server::EngineOptions options;
    options.root = config->data_folder;
    options.modern = config->modern;
    auto engine = orv::server::Engine::open(options);
    orv::server::LoginRequest login;
    login.integrated = true;
    auto session = engine->connect(login);
    auto existing = session->execute("sp_Databases", {});
    for (const auto& sample : samples()) {
      bool found = false;
      for (const auto& row : existing.rows) found = found || std::get<std::string>(row[0]) == sample.name;
      if (found) {
        std::cout << "Sample database '" << sample.name << "' is there already.\n";
        continue;
      }
      session->execute("CREATE DATABASE " + quote_identifier(sample.name), {});
      try {
        session->execute(orv::server::use_statement(sample.name), {});
        session->execute("BEGIN", {});
        for (const auto& sql : sample.script) session->execute(sql, {});
        session->execute("COMMIT", {});
        session->execute("USE master", {});
      } catch (...) {
        session->execute("USE master", {});
        session->execute("DROP DATABASE " + quote_identifier(sample.name), {});
        throw;
      }
      std::cout << "Made sample database '" << sample.name << "'.\n";
    }
    std::cout << "Server folder: " << config->data_folder.string() << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "orvakell-setup: " << e.what() << "\n";
    return 1;
  }
}
