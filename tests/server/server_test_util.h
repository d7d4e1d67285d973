// Helpers shared by the server tests: an engine in the test's private data folder, statement
// execution and a content hash of a whole database.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/engine.h"
#include "server/sha256.h"
#include "dal/driver.h"
#include "test_env.h"

namespace orv::server::testing {

inline std::shared_ptr<Engine> open_engine(const orv::test::TestEnv& env, bool modern = false, int login_mode = 2) {
  EngineOptions o;
  o.root = env.data() / "orvakell" / "server";
  o.modern = modern;
  o.login_mode = login_mode;
  return Engine::open(o);
}

inline std::unique_ptr<dal::Connection> integrated(Engine& e, const std::string& database = "") {
  LoginRequest l;
  l.integrated = true;
  l.database = database;
  return e.connect(l);
}

inline dal::ResultSet run(dal::Connection& c, const std::string& sql) { return c.execute(sql, {}); }

inline std::string text_of(const dal::Value& v) {
  return std::visit(
      [](auto&& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) return "<null>";
        else if constexpr (std::is_same_v<T, std::string>) return "s:" + x;
        else if constexpr (std::is_same_v<T, dal::DateTime>) return "d:" + std::to_string(x.days);
        else return "n:" + std::to_string(x);
      },
      v);
}

inline int column_index(const dal::ResultSet& r, const std::string& name) {
  for (std::size_t i = 0; i < r.columns.size(); ++i)
    if (r.columns[i].name == name) return static_cast<int>(i);
  ADD_FAILURE() << "no column " << name;
  return 0;
}

// Hash of every row of every table and view, in a fixed order, plus the schema text.
inline std::string content_hash(dal::Connection& c) {
  std::string all;
  auto schema = run(c, "SELECT type, name, sql FROM sqlite_master ORDER BY type, name");
  for (const auto& row : schema.rows) {
    for (const auto& v : row) all += text_of(v) + "|";
    all += "\n";
    if (std::get<std::string>(row[0]) == "table" || std::get<std::string>(row[0]) == "view") {
      std::string name = std::get<std::string>(row[1]);
      std::string quoted = "\"";
      for (char ch : name) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      quoted += "\"";
      auto rows = run(c, "SELECT * FROM " + quoted + " ORDER BY 1, 2");
      for (const auto& r : rows.rows) {
        for (const auto& v : r) all += text_of(v) + ",";
        all += "\n";
      }
    }
  }
  auto h = sha256(all);
  return to_hex(h.data(), h.size());
}

// Expects a ProviderError whose text contains `part`.
#define EXPECT_SERVER_ERROR(statement, part)                                              \
  do {                                                                                    \
    try {                                                                                 \
      statement;                                                                          \
      ADD_FAILURE() << "no error, expected: " << (part);                                  \
    } catch (const orv::dal::ProviderError& err__) {                                      \
      EXPECT_NE(std::string(err__.what()).find(part), std::string::npos) << err__.what(); \
    }                                                                                     \
  } while (0)

}  // namespace orv::server::testing
