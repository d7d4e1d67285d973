#include "test_env.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

namespace orv::test {

namespace {
const char* const kVars[] = {"ORVAKELL_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                             "XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR"};
}

struct TestEnv::Saved {
  std::vector<std::pair<std::string, std::optional<std::string>>> vars;
};

TestEnv::TestEnv() : saved_(new Saved) {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("orvakell-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      root_ = candidate;
      break;
    }
  }
  if (root_.empty()) throw std::runtime_error("cannot create a test folder");
  for (auto* sub : {"home", "config", "data", "work", "desktop", "documents"})
    std::filesystem::create_directories(root_ / sub);
  for (const char* var : kVars) {
    const char* old = std::getenv(var);
    saved_->vars.emplace_back(var, old ? std::optional<std::string>(old) : std::nullopt);
  }
  ::setenv("ORVAKELL_HOME", home().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", config().c_str(), 1);
  ::setenv("XDG_DATA_HOME", data().c_str(), 1);
  ::setenv("XDG_DESKTOP_DIR", (root_ / "desktop").c_str(), 1);
  ::setenv("XDG_DOCUMENTS_DIR", (root_ / "documents").c_str(), 1);
}

TestEnv::~TestEnv() {
  for (auto& [name, value] : saved_->vars) {
    if (value) ::setenv(name.c_str(), value->c_str(), 1);
    else ::unsetenv(name.c_str());
  }
  delete saved_;
  std::error_code ec;
  if (!std::getenv("ORV_KEEP_TEST_DIRS")) std::filesystem::remove_all(root_, ec);
}

std::filesystem::path bin_dir() {
  const char* dir = std::getenv("ORV_BIN_DIR");
  if (!dir) throw std::runtime_error("ORV_BIN_DIR is not set (run the tests through ctest)");
  return dir;
}

std::filesystem::path source_dir() {
  const char* dir = std::getenv("ORV_SOURCE_DIR");
  if (!dir) throw std::runtime_error("ORV_SOURCE_DIR is not set (run the tests through ctest)");
  return dir;
}

CommandResult run_command(const std::string& command_line) {
  CommandResult result;
  std::string full = command_line + " 2>&1";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer{};
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
  int status = ::pclose(pipe);
  if (status != -1 && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

bool have_program(const std::string& name) {
  return run_command("command -v " + shell_quote(name) + " >/dev/null").exit_code == 0;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace orv::test
