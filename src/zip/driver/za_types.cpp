#include "zip/driver/za_types.h"

#include <cctype>

namespace orv::zip {

const char* StoreSuffixExtension(AddStoreSuffixEnum member) {
  static const char* const kExtensions[kAddStoreSuffixCount] = {
      "gif", "png", "z",  "zip", "zoo", "arc", "lzh", "arj", "taz",    "tgz", "lha", "rar", "ace", "cab",
      "gz",  "gzip", "jar", "exe", "",   "jpg", "jpeg", "7zp", "mp3", "wmv", "wma", "dvr-ms", "avi"};
  const int i = static_cast<int>(member);
  return (i >= 0 && i < kAddStoreSuffixCount) ? kExtensions[i] : "";
}

AddStoreExts DefaultAddStoreSuffixes() {
  AddStoreExts set;
  for (int i = 0; i < kAddStoreSuffixCount; ++i)
    if (static_cast<AddStoreSuffixEnum>(i) != AddStoreSuffixEnum::assEXT) set.insert(static_cast<AddStoreSuffixEnum>(i));
  return set;
}

std::string StoreSuffixText(AddStoreExts suffixes, const std::string& ext_add_store_suffixes) {
  std::string text;
  for (int i = 0; i < kAddStoreSuffixCount; ++i) {
    const auto m = static_cast<AddStoreSuffixEnum>(i);
    if (m == AddStoreSuffixEnum::assEXT || !suffixes.contains(m)) continue;
    text += '.';
    text += StoreSuffixExtension(m);
    text += ':';
  }
  if (suffixes.contains(AddStoreSuffixEnum::assEXT)) {
    // Normalized: lower case, a leading dot on every item, items ended by colons.
    std::string item;
    auto flush = [&] {
      if (item.empty()) return;
      if (item[0] != '.') text += '.';
      text += item;
      text += ':';
      item.clear();
    };
    for (char c : ext_add_store_suffixes) {
      if (c == ':' || c == ';' || c == ',' || std::isspace(static_cast<unsigned char>(c))) flush();
      else item += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    flush();
  }
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace orv::zip
