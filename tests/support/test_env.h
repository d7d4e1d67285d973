// Test support: a private installation and configuration folder per test, and a way to run
// the outside checking tools (unzip, 7z, xorriso, sqlite3) and read what they print.
#pragma once

#include <filesystem>
#include <string>

namespace orv::test {

// Creates a fresh folder under the system temp folder and points ORVAKELL_HOME,
// XDG_CONFIG_HOME, XDG_DATA_HOME and HOME's XDG user folders into it. The previous
// values come back and the folder is removed when the object goes out of scope.
class TestEnv {
 public:
  TestEnv();
  ~TestEnv();
  TestEnv(const TestEnv&) = delete;
  TestEnv& operator=(const TestEnv&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path home() const { return root_ / "home"; }      // ORVAKELL_HOME
  std::filesystem::path config() const { return root_ / "config"; }  // XDG_CONFIG_HOME
  std::filesystem::path data() const { return root_ / "data"; }      // XDG_DATA_HOME
  std::filesystem::path work() const { return root_ / "work"; }      // scratch for the test

 private:
  std::filesystem::path root_;
  struct Saved;
  Saved* saved_;
};

// The build's bin folder (programs, shared objects, shipped Velmora.db) and the source tree.
std::filesystem::path bin_dir();
std::filesystem::path source_dir();

struct CommandResult {
  int exit_code = -1;   // exit status, or -1 when the command did not end normally
  std::string output;   // stdout and stderr together
};

// Runs a shell command line and collects its output. Arguments must already be quoted
// (use shell_quote).
CommandResult run_command(const std::string& command_line);
std::string shell_quote(const std::string& text);
bool have_program(const std::string& name);

// Whole-file helpers for fixtures.
std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

}  // namespace orv::test
