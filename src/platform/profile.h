// Profile files ("ini" files) with the semantics of the Windows profile functions:
// sections and keys match without regard to letter case, a new key is appended at the end of
// its section, a new section at the end of the file, and the file is created on first write.
// Every write goes to disk at once (through a temporary file renamed over the old one, so a
// crash never leaves half a file). Reads of a missing file, section or key give the default.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orv::platform {

class ProfileFile {
 public:
  explicit ProfileFile(std::filesystem::path path);

  const std::filesystem::path& path() const { return path_; }

  std::string read_string(const std::string& section, const std::string& key, const std::string& def) const;
  // Integer read as the Windows function does: leading decimal digits (optional sign), else def.
  long long read_integer(const std::string& section, const std::string& key, long long def) const;
  // Throws std::runtime_error with the system's text when the file cannot be written.
  void write_string(const std::string& section, const std::string& key, const std::string& value);
  void write_integer(const std::string& section, const std::string& key, long long value);

  // Keys of a section in file order (empty when the section is missing).
  std::vector<std::string> keys(const std::string& section) const;

 private:
  std::filesystem::path path_;
};

}  // namespace orv::platform
