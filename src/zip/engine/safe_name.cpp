#include "zip/engine/safe_name.h"

#include <vector>

namespace orv::zip::engine {

namespace {

std::vector<std::string> components(std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
    name.erase(0, 2);
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t slash = name.find('/', start);
    if (slash == std::string::npos) slash = name.size();
    parts.push_back(name.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

bool usable(const std::string& part) {
  return !part.empty() && part != "." && part != ".." && part.find('\0') == std::string::npos;
}

}  // namespace

std::string safe_entry_path(const std::string& stored, bool keep_folders) {
  const std::vector<std::string> parts = components(stored);
  if (!keep_folders) {
    const std::string& last = parts.back();
    return usable(last) ? last : std::string();
  }
  if (!usable(parts.back())) return {};
  std::string path;
  for (const std::string& part : parts) {
    if (!usable(part)) continue;
    if (!path.empty()) path += '/';
    path += part;
  }
  return path;
}

std::string clean_stored_name(const std::string& name) {
  std::string out;
  for (const std::string& part : components(name)) {
    if (!usable(part)) continue;
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

}  // namespace orv::zip::engine
