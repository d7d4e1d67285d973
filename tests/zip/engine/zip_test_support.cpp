#include "zip_test_support.h"

#include <algorithm>
#include <random>

namespace orv::zip::testing {

std::string database_like_bytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  static const char* const kNames[] = {"Yilmaz", "Kaya", "Demir", "Sahin", "Celik", "Muller", "Rossi", "Smith"};
  std::string out;
  out.reserve(size + 128);
  while (out.size() < size) {
    out += "INSERT ";
    out += kNames[rng() % 8];
    out += ' ';
    out += std::to_string(rng() % 1000000);
    out += " 2024-0";
    out += static_cast<char>('1' + rng() % 9);
    out += static_cast<char>(rng());  // a little binary noise, as in real pages
    out += '\n';
  }
  out.resize(size);
  return out;
}

std::vector<std::string> list_folder(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    names.push_back(std::filesystem::relative(e.path(), folder).string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace orv::zip::testing
