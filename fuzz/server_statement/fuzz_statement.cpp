// Fuzz target: the local engine's statement parser. Any text either parses or throws
// ParseError; a parsed backup or restore statement rebuilt by the statement builder parses
// back to the same names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/parser.h"
#include "server/statement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    orv::server::Statement st = orv::server::parse_statement(text);
    if (auto* b = std::get_if<orv::server::stmt::Backup>(&st)) {
      auto again = std::get<orv::server::stmt::Backup>(
          orv::server::parse_statement(orv::server::backup_statement(b->database, b->disk)));
      if (again.database != b->database || again.disk != b->disk) std::abort();
    }
    if (auto* r = std::get_if<orv::server::stmt::Restore>(&st)) {
      auto again = std::get<orv::server::stmt::Restore>(
          orv::server::parse_statement(orv::server::restore_statement(r->database, r->disk)));
      if (again.database != r->database || again.disk != r->disk) std::abort();
    }
  } catch (const orv::server::ParseError&) {
  }
  return 0;
}
