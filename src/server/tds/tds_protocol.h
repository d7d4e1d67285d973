// The TDS 7.4 wire format as the listener (tds_listener.h) reads and writes it: packet headers,
// PRELOGIN, LOGIN7, the ALL_HEADERS prefix, SQLBatch text, RPC requests and the response tokens
// (COLMETADATA, ROW, DONE, ERROR, INFO, ENVCHANGE, LOGINACK, RETURNSTATUS, RETURNVALUE).
//
// Every parser takes the bytes of one message as the client sent them and throws TdsError
// when they are malformed (a length or offset outside the message, a truncated field): the
// listener then closes that connection. Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dal/driver.h"

namespace orv::server::tds {

class TdsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum PacketType : std::uint8_t {
  kSqlBatch = 1,
  kRpc = 3,
  kTabularResult = 4,
  kAttention = 6,
  kLogin7 = 16,
  kPrelogin = 18,
};

constexpr std::size_t kHeaderSize = 8;
constexpr std::uint8_t kStatusEom = 0x01;

struct PacketHeader {
  std::uint8_t type = 0;
  std::uint8_t status = 0;
  std::uint16_t length = 0;  // including the header
  std::uint8_t packet_id = 0;
};

// The 8-byte header; throws when its length is below the header size or above max_length.
PacketHeader parse_header(const std::uint8_t* bytes, std::size_t max_length);
// Splits a message into packets of at most packet_size bytes (header included).
std::vector<std::uint8_t> packetize(std::uint8_t type, const std::vector<std::uint8_t>& payload, std::size_t packet_size);

// The end (one past the closing character) of the quoted span that starts at sql[start]
// ('...', "..." or [...], a doubled closing character staying inside); sql.size() when unclosed.
std::size_t quoted_span_end(std::string_view sql, std::size_t start);

// UTF-16LE <-> UTF-8. Unpaired surrogates and invalid UTF-8 become U+FFFD.
std::string utf16_to_utf8(const std::uint8_t* bytes, std::size_t units);
std::u16string utf8_to_utf16(std::string_view text);
bool valid_utf8(std::string_view text);
// The text as a cp1252 server stores it: characters outside cp1252 become "?".
std::string to_cp1252_repertoire(std::string_view utf8);
// cp1252 bytes -> UTF-8.
std::string cp1252_to_utf8(std::string_view bytes);
// Every string literal without the N prefix replaced as a cp1252 server reads it.
std::string narrow_plain_literals(std::string_view sql);

// PRELOGIN.
struct Prelogin {
  bool has_encryption = false;
  std::uint8_t encryption = 2;  // 0 off, 1 on, 2 not supported, 3 required
};
Prelogin parse_prelogin(const std::vector<std::uint8_t>& payload);
// The server's answer: version, encryption "not supported", no instance, no MARS.
std::vector<std::uint8_t> prelogin_response();

// LOGIN7.
struct Login7 {
  std::uint32_t tds_version = 0;
  std::uint32_t packet_size = 0;
  bool integrated = false;
  std::string host, user, password, app, server, library, language, database;
};
Login7 parse_login7(const std::vector<std::uint8_t>& payload);

// The offset of the text after a batch's ALL_HEADERS; throws when the headers are missing or
// malformed.
std::size_t skip_all_headers(const std::vector<std::uint8_t>& payload);
std::string parse_sql_batch(const std::vector<std::uint8_t>& payload);

// RPC.
struct RpcParam {
  std::string name;  // "@P1", or "" for a positional parameter
  bool output = false;
  dal::Value value;
};
struct RpcCall {
  int proc_id = 0;        // 10 sp_executesql, 11 sp_prepare, 12 sp_execute, 13 sp_prepexec, 15 sp_unprepare
  std::string proc_name;  // when called by name
  std::vector<RpcParam> params;
};
std::vector<RpcCall> parse_rpc(const std::vector<std::uint8_t>& payload);

// Response tokens.
class TokenWriter {
 public:
  struct Message {
    int number = 0;
    int state = 1;
    int severity = 16;
    std::string text;
  };
  void login_ack(const std::string& program);
  void env_database(const std::string& now, const std::string& before);
  void env_packet_size(std::size_t now, std::size_t before);
  void env_collation();
  void env_language(const std::string& now);
  void error(const Message& m, const std::string& server);
  void info(const Message& m, const std::string& server);
  void result_set(const dal::ResultSet& rs);
  // DONE (0xFD), DONEPROC (0xFE) or DONEINPROC (0xFF).
  enum Status : std::uint16_t { kFinal = 0, kMore = 1, kErrorFlag = 2, kCount = 0x10, kAttn = 0x20 };
  void done(std::uint8_t token, std::uint16_t status, std::uint64_t rows);
  void return_status(std::int32_t value);
  void return_int(std::uint16_t ordinal, const std::string& name, std::int32_t value);

  std::vector<std::uint8_t>& bytes() { return out_; }

 private:
  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v);
  void u32(std::uint32_t v);
  void u64(std::uint64_t v);
  void b_varchar(std::string_view utf8);
  void us_varchar(std::string_view utf8);
  void message(std::uint8_t token, const Message& m, const std::string& server);
  std::vector<std::uint8_t> out_;
};

}  // namespace orv::server::tds
