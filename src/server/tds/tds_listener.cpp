#include "server/tds/tds_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "server/parser.h"
#include "server/tds/tds_protocol.h"

namespace orv::server::tds {

namespace {

using Message = TokenWriter::Message;

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

// The severity SQL Server gives a message number (16 unless listed).
int severity_of(int number) {
  switch (number) {
    case 18456: case 18452: case 2627: case 924: return 14;
    case 102: return 15;
    case 4060: return 11;
    default: return 16;
  }
}

// The engine's text may end in the line SQL Server sends as a second error ("BACKUP DATABASE
// is terminating abnormally.", 3013); it goes as its own ERROR token.
std::vector<Message> split_error(int number, const std::string& text) {
  if (number <= 0) number = 50000;
  auto nl = text.rfind('\n');
  if (nl != std::string::npos) {
    std::string last = text.substr(nl + 1);
    int second = 0;
    if (last.find("is terminating abnormally.") != std::string::npos) second = 3013;
    else if (last == "ALTER DATABASE statement failed.") second = 5069;
    else if (last == "CREATE DATABASE failed.") second = 1802;
    if (second != 0)
      return {Message{number, 1, severity_of(number), text.substr(0, nl)}, Message{second, 1, 16, last}};
  }
  return {Message{number, 1, severity_of(number), text}};
}

// Splits a batch at ";" outside literals, quoted identifiers and comments.
std::vector<std::string> split_batch(std::string_view sql) {
  std::vector<std::string> out;
  std::string current;
  std::size_t i = 0;
  auto flush = [&] {
    std::string t = trim(current);
    if (!t.empty()) out.push_back(std::move(t));
    current.clear();
  };
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '[') {
      const std::size_t end = quoted_span_end(sql, i);
      current.append(sql.substr(i, end - i));
      i = end;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      std::size_t j = sql.find('\n', i);
      if (j == std::string_view::npos) j = sql.size();
      current.append(sql.substr(i, j - i));
      i = j;
    } else if (c == ';') {
      flush();
      ++i;
    } else {
      current += c;
      ++i;
    }
  }
  flush();
  return out;
}

// "@P1" -> ":P1" for the parameters given (the engine binds ":name").
std::string engine_parameters(std::string_view sql, const std::vector<dal::Param>& params) {
  if (params.empty()) return std::string(sql);
  std::string out;
  std::size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '[') {
      char close = c == '[' ? ']' : c;
      std::size_t j = sql.find(close, i + 1);
      while (j != std::string_view::npos && j + 1 < sql.size() && sql[j + 1] == close) j = sql.find(close, j + 2);
      std::size_t end = j == std::string_view::npos ? sql.size() : j + 1;
      out.append(sql.substr(i, end - i));
      i = end;
    } else if (c == '@') {
      std::size_t j = i + 1;
      while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_')) ++j;
      std::string name(sql.substr(i + 1, j - i - 1));
      bool known = std::any_of(params.begin(), params.end(), [&](const dal::Param& p) { return lower(p.name) == lower(name); });
      out += known ? ":" : "@";
      out += name;
      i = j;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::string peer_name(const sockaddr_storage& a) {
  char host[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (a.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
    inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host);
    port = ntohs(v4->sin_port);
  } else if (a.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
    inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host);
    port = ntohs(v6->sin6_port);
  }
  return std::string(host) + ":" + std::to_string(port);
}

struct Closed {};  // the client went away

}  // namespace

struct Listener::Impl : std::enable_shared_from_this<Listener::Impl> {
  std::shared_ptr<Engine> engine;
  ListenerOptions options;
  int fd = -1;
  int port = 0;
  std::thread acceptor;
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::condition_variable idle;
  std::map<int, std::thread> connections;  // by socket
  std::vector<std::thread> finished;

  void log(const std::string& line) {
    if (options.log) options.log(line);
    else std::cerr << "orvakell-server: " << line << std::endl;
  }

  void accept_loop();
  void serve(int client, std::string peer);
};

namespace {

class Connection {
 public:
  Connection(Listener::Impl& owner, int fd, std::string peer) : owner_(owner), fd_(fd), peer_(std::move(peer)) {}

  void run();

 private:
  struct Request {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> payload;
  };

  // Reads one packet; returns its header and appends its body.
  PacketHeader read_packet(std::vector<std::uint8_t>& body) {
    std::uint8_t h[kHeaderSize];
    read_exact(h, kHeaderSize);
    PacketHeader header = parse_header(h, limit_packet_);
    std::size_t n = header.length - kHeaderSize;
    if (body.size() + n > owner_.options.max_request_bytes) throw TdsError("request larger than the limit");
    std::size_t at = body.size();
    body.resize(at + n);
    read_exact(body.data() + at, n);
    return header;
  }

  Request read_request() {
    Request r;
    for (int packets = 0;; ++packets) {
      PacketHeader h = read_packet(r.payload);
      if (packets == 0) r.type = h.type;
      else if (h.type != r.type) throw TdsError("packet type changed within a request");
      if (h.status & kStatusEom) return r;
    }
  }

  void read_exact(std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      ssize_t got = ::recv(fd_, p, n, 0);
      if (got == 0) throw Closed{};
      if (got < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) throw TdsError("client too slow to log in");
        throw Closed{};
      }
      p += got;
      n -= static_cast<std::size_t>(got);
    }
  }

  void send(std::uint8_t type, const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> bytes = packetize(type, payload, packet_size_);
    std::lock_guard lock(write_mutex_);
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    while (n > 0) {
      ssize_t put = ::send(fd_, p, n, MSG_NOSIGNAL);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) throw Closed{};
      p += put;
      n -= static_cast<std::size_t>(put);
    }
  }

  void prelogin(const Request& r);
  bool login(const Request& r);
  void respond(const Request& r);
  std::vector<std::uint8_t> execute(const Request& r);
  // Runs the statements of a batch (or an RPC's text); false when one failed (the rest skipped).
  bool run_statements(TokenWriter& w, const std::string& text, const std::vector<dal::Param>& params, bool in_proc,
                      bool last);
  void run_rpc(TokenWriter& w, const RpcCall& call, bool last);

  Listener::Impl& owner_;
  int fd_;
  std::string peer_;
  std::size_t packet_size_ = 4096;
  std::size_t limit_packet_ = 32767;
  bool wants_encryption_ = false;
  std::unique_ptr<dal::Connection> session_;
  std::string database_ = "master";
  std::mutex write_mutex_;
  std::atomic<bool> cancelled_{false};
  std::map<int, std::string> prepared_;
  int next_handle_ = 1;
};

void Connection::prelogin(const Request& r) {
  Prelogin p = parse_prelogin(r.payload);
  wants_encryption_ = p.has_encryption && (p.encryption == 1 || p.encryption == 3);
  if (wants_encryption_)
    owner_.log(peer_ + ": the client requires encryption, which this server does not offer; refusing the login");
  send(kTabularResult, prelogin_response());
}

bool Connection::login(const Request& r) {
  Login7 l = parse_login7(r.payload);
  TokenWriter w;
  const std::string server = owner_.engine->options().server_name;
  auto refuse = [&](int number, const std::string& text) {
    w.error(Message{number, 1, severity_of(number), text}, server);
    w.done(0xFD, TokenWriter::kErrorFlag, 0);
    send(kTabularResult, w.bytes());
    owner_.log(peer_ + ": login refused: " + text);
    return false;
  };
  if (l.integrated)
    return refuse(18452, "Login failed. The login is from an untrusted domain and cannot be used with Integrated "
                         "authentication.");
  LoginRequest request;
  request.user = l.user;
  request.password = l.password;
  request.database = l.database;
  try {
    session_ = owner_.engine->connect(request);
  } catch (const dal::ProviderError& err) {
    return refuse(err.native_code(), err.what());
  }
  std::size_t wanted = l.packet_size == 0 ? 4096 : l.packet_size;
  std::size_t size = std::clamp<std::size_t>(wanted, 512, std::min<std::size_t>(owner_.options.max_packet_size, 32767));
  if (!l.database.empty()) database_ = l.database;
  w.env_database(database_, "master");
  w.info(Message{5701, 2, 0, "Changed database context to '" + database_ + "'."}, server);
  w.env_language("us_english");
  w.info(Message{5703, 1, 0, "Changed language setting to us_english."}, server);
  w.env_collation();
  w.env_packet_size(size, 4096);
  w.login_ack("Microsoft SQL Server");
  w.done(0xFD, TokenWriter::kFinal, 0);
  send(kTabularResult, w.bytes());
  packet_size_ = size;
  limit_packet_ = std::max<std::size_t>(size, 4096);
  return true;
}

bool Connection::run_statements(TokenWriter& w, const std::string& text, const std::vector<dal::Param>& params,
                                bool in_proc, bool last) {
  const std::string server = owner_.engine->options().server_name;
  const std::uint8_t done_token = in_proc ? 0xFF : 0xFD;
  auto statements = split_batch(text);
  if (statements.empty()) {
    if (!in_proc) w.done(done_token, last ? TokenWriter::kFinal : TokenWriter::kMore, 0);
    return true;
  }
  for (std::size_t i = 0; i < statements.size(); ++i) {
    const std::string& sql = statements[i];
    const bool final = last && i + 1 == statements.size();
    const std::uint16_t more = final && !in_proc ? TokenWriter::kFinal : TokenWriter::kMore;
    std::string head = lower(sql.substr(0, std::min<std::size_t>(sql.size(), 40)));
    if (head.rfind("set ", 0) == 0) {  // session options: the engine has none to change
      w.done(done_token, more, 0);
      continue;
    }
    if (head.rfind("select @@", 0) == 0) {
      std::string what = lower(trim(sql.substr(9)));
      dal::ResultSet rs;
      rs.has_rows = true;
      rs.columns = {dal::ColumnInfo{"", dal::ValueKind::Text, 0}};
      if (what == "version") rs.rows.push_back({std::string("Microsoft SQL Server 2012 - 11.0.2100 (ORVAKELL engine)")});
      else if (what == "spid") rs.rows.push_back({static_cast<std::int64_t>(fd_ + 50)});
      else if (what == "servername") rs.rows.push_back({server});
      else if (what == "trancount") rs.rows.push_back({std::int64_t{0}});
      else rs.has_rows = false;
      if (rs.has_rows) {
        w.result_set(rs);
        w.done(done_token, static_cast<std::uint16_t>(more | TokenWriter::kCount), 1);
        continue;
      }
    }
    bool use = false;
    std::string use_name;
    try {
      Statement parsed = parse_statement(sql);
      if (auto* u = std::get_if<stmt::Use>(&parsed)) {
        use = true;
        use_name = u->database;
      }
    } catch (const ParseError&) {
      // The engine reports the same error with its number below.
    }
    try {
      dal::ResultSet rs = session_->execute(engine_parameters(sql, params), params);
      for (const auto& m : take_messages(*session_)) w.info(Message{m.number, 1, 0, m.text}, server);
      if (use) {
        std::string before = database_;
        database_ = use_name;
        w.env_database(database_, before);
        w.info(Message{5701, 1, 0, "Changed database context to '" + database_ + "'."}, server);
      }
      if (rs.has_rows) {
        w.result_set(rs);
        w.done(done_token, static_cast<std::uint16_t>(more | TokenWriter::kCount), rs.rows.size());
      } else if (rs.rows_affected >= 0) {
        w.done(done_token, static_cast<std::uint16_t>(more | TokenWriter::kCount),
               static_cast<std::uint64_t>(rs.rows_affected));
      } else {
        w.done(done_token, more, 0);
      }
    } catch (const dal::ProviderError& err) {
      for (const auto& m : take_messages(*session_)) w.info(Message{m.number, 1, 0, m.text}, server);
      if (cancelled_) return false;
      for (const auto& m : split_error(err.native_code(), err.what())) w.error(m, server);
      w.done(done_token, static_cast<std::uint16_t>((last && !in_proc ? TokenWriter::kFinal : TokenWriter::kMore) |
                                                    TokenWriter::kErrorFlag),
             0);
      return false;
    }
    if (cancelled_) return false;
  }
  return true;
}

void Connection::run_rpc(TokenWriter& w, const RpcCall& call, bool last) {
  int id = call.proc_id;
  if (id == 0) {
    std::string name = lower(call.proc_name);
    if (name.rfind("sys.", 0) == 0) name = name.substr(4);
    static const std::map<std::string, int> known = {{"sp_executesql", 10}, {"sp_prepare", 11}, {"sp_execute", 12},
                                                     {"sp_prepexec", 13}, {"sp_unprepare", 15}};
    auto it = known.find(name);
    id = it == known.end() ? -1 : it->second;
  }
  const std::string server = owner_.engine->options().server_name;
  auto text_param = [&](std::size_t i) -> std::string {
    if (i >= call.params.size()) throw TdsError("RPC call without its statement");
    const auto* s = std::get_if<std::string>(&call.params[i].value);
    if (!s) throw TdsError("RPC statement is not text");
    return *s;
  };
  auto values_from = [&](std::size_t first) {
    std::vector<dal::Param> out;
    for (std::size_t i = first; i < call.params.size(); ++i) {
      std::string name = call.params[i].name;
      if (!name.empty() && name[0] == '@') name.erase(0, 1);
      if (name.empty()) name = "P" + std::to_string(i - first + 1);
      out.push_back(dal::Param{name, call.params[i].value});
    }
    return out;
  };
  auto handle_param = [&](std::size_t i) -> int {
    if (i >= call.params.size()) throw TdsError("RPC call without its handle");
    const auto* v = std::get_if<std::int64_t>(&call.params[i].value);
    return v ? static_cast<int>(*v) : 0;
  };
  bool ok = true;
  int handle = 0;
  switch (id) {
    case 10:
      ok = run_statements(w, text_param(0), values_from(2), true, last);
      break;
    case 11:
    case 13:
      handle = next_handle_++;
      prepared_[handle] = text_param(2);
      if (id == 13) ok = run_statements(w, prepared_[handle], values_from(3), true, last);
      break;
    case 12: {
      auto it = prepared_.find(handle_param(0));
      if (it == prepared_.end()) {
        w.error(Message{8179, 1, 16, "Could not find prepared statement with handle " +
                                         std::to_string(handle_param(0)) + "."},
                server);
        ok = false;
      } else {
        ok = run_statements(w, it->second, values_from(1), true, last);
      }
      break;
    }
    case 15:
      prepared_.erase(handle_param(0));
      break;
    default:
      ok = run_statements(w, call.proc_name, values_from(0), true, last);
  }
  if (cancelled_) return;
  w.return_status(ok ? 0 : 1);
  if (id == 11 || id == 13) w.return_int(0, call.params.empty() ? "" : call.params[0].name, handle);
  w.done(0xFE, static_cast<std::uint16_t>((last ? TokenWriter::kFinal : TokenWriter::kMore) |
                                          (ok ? 0 : TokenWriter::kErrorFlag)),
         0);
}

std::vector<std::uint8_t> Connection::execute(const Request& r) {
  TokenWriter w;
  if (r.type == kSqlBatch) {
    run_statements(w, narrow_plain_literals(parse_sql_batch(r.payload)), {}, false, true);
  } else {
    auto calls = parse_rpc(r.payload);
    for (std::size_t i = 0; i < calls.size() && !cancelled_; ++i) {
      if (calls[i].proc_id == 10 || calls[i].proc_id == 13 || calls[i].proc_id == 11) {
        std::size_t at = calls[i].proc_id == 10 ? 0 : 2;
        if (at < calls[i].params.size())
          if (auto* s = std::get_if<std::string>(&calls[i].params[at].value)) *s = narrow_plain_literals(*s);
      }
      run_rpc(w, calls[i], i + 1 == calls.size());
    }
  }
  return std::move(w.bytes());
}

// Runs a request on a worker thread while this one watches the socket for an ATTENTION.
void Connection::respond(const Request& r) {
  // Parse errors close the connection: check the request's form before running anything.
  if (r.type == kSqlBatch) (void)skip_all_headers(r.payload);
  cancelled_ = false;
  std::mutex m;
  std::condition_variable cv;
  bool finished = false;
  std::vector<std::uint8_t> response;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      response = execute(r);
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard lock(m);
    finished = true;
    cv.notify_all();
  });
  bool closed = false;
  std::string protocol_error;
  for (;;) {
    {
      std::unique_lock lock(m);
      if (finished) break;
    }
    if (cancelled_ || closed) {
      interrupt(*session_);
      std::unique_lock lock(m);
      cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return finished; });
      continue;
    }
    pollfd p{fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, 50);
    if (ready <= 0) continue;
    try {
      std::vector<std::uint8_t> body;
      PacketHeader h = read_packet(body);
      if (h.type == kAttention) cancelled_ = true;
      else protocol_error = "a request arrived while another was running";
      if (!protocol_error.empty()) closed = true;
    } catch (const TdsError& err) {
      protocol_error = err.what();
      closed = true;
    } catch (const Closed&) {
      closed = true;
    }
  }
  worker.join();
  if (!protocol_error.empty()) throw TdsError(protocol_error);
  if (closed) throw Closed{};
  if (failure) std::rethrow_exception(failure);
  if (cancelled_) {
    TokenWriter w;
    w.done(0xFD, TokenWriter::kAttn, 0);
    send(kTabularResult, w.bytes());
    return;
  }
  send(kTabularResult, response);
}

void Connection::run() {
  try {
    timeval tv{owner_.options.login_seconds, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    Request first = read_request();
    if (first.type != kPrelogin) throw TdsError("the first packet is not a pre-login");
    prelogin(first);
    Request second = read_request();
    if (second.type == kPrelogin || wants_encryption_) {
      TokenWriter w;
      w.error(Message{20, 1, 20,
                      "The client requires encryption, but this server does not offer encryption. Connect with "
                      "encryption off."},
              owner_.engine->options().server_name);
      w.done(0xFD, TokenWriter::kErrorFlag, 0);
      send(kTabularResult, w.bytes());
      owner_.log(peer_ + ": connection closed: encryption required by the client");
      return;
    }
    if (second.type != kLogin7) throw TdsError("expected a login, got packet type " + std::to_string(second.type));
    if (!login(second)) return;
    timeval none{0, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
    for (;;) {
      Request r = read_request();
      switch (r.type) {
        case kSqlBatch:
        case kRpc:
          respond(r);
          break;
        case kAttention: {
          // Nothing runs: acknowledge so that the client stops waiting.
          TokenWriter w;
          w.done(0xFD, TokenWriter::kAttn, 0);
          send(kTabularResult, w.bytes());
          break;
        }
        default:
          throw TdsError("unsupported packet type " + std::to_string(r.type));
      }
    }
  } catch (const TdsError& err) {
    owner_.log(peer_ + ": malformed request, connection closed: " + err.what());
  } catch (const Closed&) {
  } catch (const std::exception& err) {
    owner_.log(peer_ + ": connection closed: " + err.what());
  }
}

}  // namespace

void Listener::Impl::accept_loop() {
  while (!stopping) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int client = ::accept4(fd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
    if (client < 0) {
      if (stopping) break;
      if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
        if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      log(std::string("accept failed: ") + std::strerror(errno));
      break;
    }
    std::string peer = peer_name(addr);
    std::lock_guard lock(mutex);
    for (auto& t : finished) t.join();
    finished.clear();
    if (connections.size() >= options.max_connections) {
      log(peer + ": refused, " + std::to_string(connections.size()) + " connections already open");
      ::close(client);
      continue;
    }
    auto self = shared_from_this();
    connections.emplace(client, std::thread([self, client, peer] { self->serve(client, peer); }));
  }
}

void Listener::Impl::serve(int client, std::string peer) {
  Connection(*this, client, std::move(peer)).run();
  std::lock_guard lock(mutex);
  ::close(client);
  auto it = connections.find(client);
  if (it != connections.end()) {
    finished.push_back(std::move(it->second));
    connections.erase(it);
  }
  idle.notify_all();
}

Listener::Listener(std::shared_ptr<Engine> engine, ListenerOptions options) : impl_(std::make_shared<Impl>()) {
  impl_->engine = std::move(engine);
  impl_->options = std::move(options);
  const std::string& address = impl_->options.address;
  sockaddr_storage addr{};
  socklen_t len = 0;
  int family = AF_INET;
  if (address.find(':') != std::string::npos) {
    family = AF_INET6;
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(impl_->options.port));
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) != 1)
      throw std::system_error(EINVAL, std::generic_category(), "listen address " + address);
    len = sizeof(sockaddr_in6);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(impl_->options.port));
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) != 1)
      throw std::system_error(EINVAL, std::generic_category(), "listen address " + address);
    len = sizeof(sockaddr_in);
  }
  impl_->fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (impl_->fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  int one = 1;
  ::setsockopt(impl_->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(impl_->fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(impl_->fd, 64) != 0) {
    int e = errno;
    ::close(impl_->fd);
    throw std::system_error(e, std::generic_category(), "listen on " + address + ":" + std::to_string(impl_->options.port));
  }
  sockaddr_storage bound{};
  socklen_t bound_len = sizeof bound;
  ::getsockname(impl_->fd, reinterpret_cast<sockaddr*>(&bound), &bound_len);
  impl_->port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

Listener::~Listener() { stop(); }

int Listener::port() const { return impl_->port; }

void Listener::start() {
  if (impl_->acceptor.joinable()) return;
  auto impl = impl_;
  impl_->acceptor = std::thread([impl] { impl->accept_loop(); });
}

void Listener::stop() {
  if (impl_->stopping.exchange(true)) return;
  ::shutdown(impl_->fd, SHUT_RDWR);
  if (impl_->acceptor.joinable()) impl_->acceptor.join();
  ::close(impl_->fd);
  std::unique_lock lock(impl_->mutex);
  for (auto& [client, thread] : impl_->connections) ::shutdown(client, SHUT_RDWR);
  impl_->idle.wait(lock, [&] { return impl_->connections.empty(); });
  for (auto& t : impl_->finished) t.join();
  impl_->finished.clear();
}

}  // namespace orv::server::tds
