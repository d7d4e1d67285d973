#include "platform/file_names.h"

namespace orv::platform {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string file_stem_of_name(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c == '/' || c == '%' || c == '\\' || c < 0x20 || c == 0x7f || (i == 0 && c == '.')) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0f];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string name_of_file_stem(std::string_view stem) {
  std::string out;
  out.reserve(stem.size());
  for (std::size_t i = 0; i < stem.size(); ++i) {
    if (stem[i] == '%' && i + 2 < stem.size() && hex_value(stem[i + 1]) >= 0 && hex_value(stem[i + 2]) >= 0) {
      out += static_cast<char>(hex_value(stem[i + 1]) * 16 + hex_value(stem[i + 2]));
      i += 2;
    } else {
      out += stem[i];
    }
  }
  return out;
}

}  // namespace orv::platform
