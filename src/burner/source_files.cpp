#include "burner/source_files.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "burner/names.h"

namespace orv::burner {
namespace {

constexpr const char* kDosAttrib = "user.DOSATTRIB";

std::string BaseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Attribute bits kept in the extended attribute, or -1 when it is absent or unreadable.
long StoredAttributes(const std::string& path) {
  char text[64] = {};
  const ssize_t n = getxattr(path.c_str(), kDosAttrib, text, sizeof text - 1);
  if (n <= 0) return -1;
  text[n] = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 0);
  if (end == text) return -1;
  return value;
}

}  // namespace

static uint32_t AttributesOf(const std::string& path, const struct stat& st) {
  uint32_t attr = 0;
  if (S_ISDIR(st.st_mode)) attr |= faDirectory;
  if ((st.st_mode & S_IWUSR) == 0) attr |= faReadOnly;
  const std::string name = BaseName(path);
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attr |= faHidden;
  const long stored = StoredAttributes(path);
  if (stored < 0) {
    if (!S_ISDIR(st.st_mode)) attr |= faArchive;
  } else {
    attr |= static_cast<uint32_t>(stored) & (faArchive | faSysFile);
  }
  return attr;
}

uint32_t ReadAttributes(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return AttributesOf(path, st);
}

std::string WriteAttributes(const std::string& path, uint32_t attributes) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", attributes & (faReadOnly | faHidden | faSysFile | faArchive));
  if (setxattr(path.c_str(), kDosAttrib, text, std::strlen(text), 0) != 0) return std::strerror(errno);
  return {};
}

std::optional<TSearchRec> FindSourceFile(const std::string& path,
                                         const std::function<bool(const std::string&)>& NameTaken) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  TSearchRec rec;
  rec.Name = BaseName(path);
  rec.Size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  rec.Attr = AttributesOf(path, st);
  rec.Time = FileTimeToDateTime(st.st_mtime);
  if (!IsPlain83Name(rec.Name)) {
    for (int n = 1; n < 1000000; ++n) {
      rec.AlternateName = AlternateShortName(rec.Name, n);
      if (!NameTaken || !NameTaken(rec.AlternateName)) break;
    }
  }
  return rec;
}

}  // namespace orv::burner
