// Fuzz target: the TDS listener's parsers of client messages. The first byte picks the parser
// (packet header, pre-login, LOGIN7, SQL batch, RPC, literal narrowing); any input either parses
// or throws TdsError, and a parsed RPC's text values re-encode to UTF-16 without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/tds/tds_protocol.h"

using namespace orv::server::tds;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::uint8_t which = data[0];
  std::vector<std::uint8_t> body(data + 1, data + size);
  try {
    switch (which % 6) {
      case 0:
        if (body.size() >= kHeaderSize) {
          PacketHeader h = parse_header(body.data(), 32767);
          if (h.length < kHeaderSize) std::abort();
        }
        break;
      case 1:
        (void)parse_prelogin(body);
        break;
      case 2: {
        Login7 l = parse_login7(body);
        (void)utf8_to_utf16(l.user + l.password + l.database);
        break;
      }
      case 3: {
        std::string text = parse_sql_batch(body);
        (void)narrow_plain_literals(text);
        break;
      }
      case 4:
        for (const auto& call : parse_rpc(body))
          for (const auto& p : call.params)
            if (const auto* s = std::get_if<std::string>(&p.value)) (void)utf8_to_utf16(*s);
        break;
      default: {
        std::string text(body.begin(), body.end());
        std::string narrowed = narrow_plain_literals(text);
        if (valid_utf8(text) && utf8_to_utf16(narrowed).size() > utf8_to_utf16(text).size()) std::abort();
        TokenWriter w;
        orv::dal::ResultSet rs;
        rs.has_rows = true;
        rs.columns = {orv::dal::ColumnInfo{text, orv::dal::ValueKind::Text, 0}};
        rs.rows = {{text}, {std::monostate{}}};
        w.result_set(rs);
        w.error(TokenWriter::Message{50000, 1, 16, text}, "server");
      }
    }
  } catch (const TdsError&) {
  }
  return 0;
}
