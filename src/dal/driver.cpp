#include "dal/driver.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace orv::dal {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<Driver>> drivers;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

ConnectionString::ConnectionString(std::string_view text) : text_(text) {
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    size_t semi = text.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      // A part without "=": skip it.
      i = semi == std::string_view::npos ? text.size() : semi + 1;
      continue;
    }
    std::string key = trim(text.substr(i, eq - i));
    size_t v = eq + 1;
    while (v < text.size() && text[v] == ' ') ++v;
    std::string value;
    if (v < text.size() && (text[v] == '"' || text[v] == '{')) {
      // Quoted or braced value: a doubled closing character stands for itself.
      char close = text[v] == '"' ? '"' : '}';
      size_t j = v + 1;
      while (j < text.size()) {
        if (text[j] == close) {
          if (j + 1 < text.size() && text[j + 1] == close) {
            value += close;
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value += text[j++];
      }
      size_t end = text.find(';', j);
      i = end == std::string_view::npos ? text.size() : end + 1;
    } else {
      size_t end = text.find(';', v);
      value = trim(text.substr(v, (end == std::string_view::npos ? text.size() : end) - v));
      i = end == std::string_view::npos ? text.size() : end + 1;
    }
    if (!key.empty()) items_.emplace_back(std::move(key), std::move(value));
  }
}

std::string ConnectionString::get(std::string_view key) const {
  std::string k = lower(key);
  for (const auto& [name, value] : items_)
    if (lower(name) == k) return value;
  return {};
}

bool ConnectionString::has(std::string_view key) const {
  std::string k = lower(key);
  return std::any_of(items_.begin(), items_.end(), [&](const auto& kv) { return lower(kv.first) == k; });
}

TableRows Connection::read_table(const std::string&, const std::string&) {
  throw ProviderError("The provider does not support opening tables.");
}

RowKey Connection::insert_row(const std::string&, const std::vector<std::pair<std::string, Value>>&) {
  throw ProviderError("The provider does not support updating tables.");
}

void Connection::update_row(const std::string&, RowKey, const std::vector<std::pair<std::string, Value>>&) {
  throw ProviderError("The provider does not support updating tables.");
}

TableRows Connection::read_row(const std::string&, RowKey) {
  throw ProviderError("The provider does not support opening tables.");
}

void Connection::update_row_matching(const std::string&, const std::vector<std::pair<std::string, Value>>&,
                                     const std::vector<std::pair<std::string, Value>>&) {
  throw ProviderError("The provider does not support updating tables.");
}

void register_driver(const std::string& provider, std::shared_ptr<Driver> driver) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.drivers[lower(provider)] = std::move(driver);
}

std::shared_ptr<Driver> find_driver(const std::string& provider) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.drivers.find(lower(provider));
  return it == r.drivers.end() ? nullptr : it->second;
}

std::unique_ptr<Connection> open_connection(const ConnectionString& cs, const ConnectOptions& options) {
  auto driver = find_driver(cs.get("Provider"));
  if (!driver) throw ProviderError("Provider cannot be found. It may not be properly installed.");
  return driver->connect(cs, options);
}

}  // namespace orv::dal
