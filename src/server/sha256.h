// SHA-256 and the password hash of the engine's SQL logins (salted, iterated).
// Pure functions, thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv::server {

std::array<std::uint8_t, 32> sha256(std::string_view data);
std::string to_hex(const std::uint8_t* data, std::size_t n);

// Hex of the iterated SHA-256 of salt and password.
std::string password_hash(std::string_view salt, std::string_view password);
// 16 random bytes as hex.
std::string new_salt();

}  // namespace orv::server
