#include "infozip_compare.h"

#include <gtest/gtest.h>

#include <sstream>

#include "test_env.h"

namespace orv::zip::testing {
namespace {

// The text after the first `fields` whitespace-separated fields of `line` (the name, which may
// hold spaces), and the fields themselves.
std::vector<std::string> SplitFields(const std::string& line, int fields, std::string& rest) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (int i = 0; i < fields; ++i) {
    at = line.find_first_not_of(' ', at);
    if (at == std::string::npos) return {};
    const std::size_t end = line.find(' ', at);
    out.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? line.size() : end;
  }
  at = line.find_first_not_of(' ', at);
  rest = at == std::string::npos ? std::string() : line.substr(at);
  return out;
}

}  // namespace

std::vector<ListedEntry> ListWithOrvakell(const std::filesystem::path& archive, int& exit_code) {
  const auto result = test::run_command(test::shell_quote((test::bin_dir() / "orvakell-zip").string()) + " list " +
                                        test::shell_quote(archive.string()) + " 2>/dev/null");
  exit_code = result.exit_code;
  std::vector<ListedEntry> out;
  std::istringstream lines(result.output);
  std::string line;
  bool in_list = false;
  while (std::getline(lines, line)) {
    if (line.rfind("    Length", 0) == 0) {
      in_list = true;
      continue;
    }
    if (!in_list) continue;
    std::string name;
    const auto f = SplitFields(line, 5, name);
    if (f.size() != 5 || line.find(" entries, ") != std::string::npos) continue;
    ListedEntry e;
    e.size = std::stoull(f[0]);
    e.compressed = std::stoull(f[1]);
    e.crc = f[2];
    std::string date = f[3], time = f[4];
    std::erase(date, '-');
    std::erase(time, ':');
    e.when = date + "." + time;
    e.name = name;
    out.push_back(e);
  }
  return out;
}

std::vector<ListedEntry> ListWithInfoZip(const std::filesystem::path& archive) {
  std::vector<ListedEntry> out;
  const auto info = test::run_command("zipinfo -lT " + test::shell_quote(archive.string()));
  std::istringstream lines(info.output);
  std::string line;
  while (std::getline(lines, line)) {
    // -rw-r--r--  3.0 unx        6 tx        6 stor 20261209.140839 name
    std::string name;
    const auto f = SplitFields(line, 8, name);
    if (f.size() != 8 || f[0].size() != 10 || f[7].size() != 15 || f[7][8] != '.') continue;
    ListedEntry e;
    e.name = name;
    e.size = std::stoull(f[3]);
    e.compressed = std::stoull(f[5]);
    e.when = f[7];
    out.push_back(e);
  }
  // unzip -v: Length Method Size Cmpr Date Time CRC-32 Name, in the same order.
  const auto verbose = test::run_command("unzip -v " + test::shell_quote(archive.string()));
  std::istringstream vlines(verbose.output);
  std::size_t i = 0;
  bool in_list = false;
  while (std::getline(vlines, line)) {
    if (line.rfind("--------", 0) == 0) {
      if (in_list) break;
      in_list = true;
      continue;
    }
    if (!in_list) continue;
    std::string name;
    const auto f = SplitFields(line, 7, name);
    if (f.size() != 7 || i >= out.size()) {
      ADD_FAILURE() << "unexpected unzip -v line: " << line;
      break;
    }
    EXPECT_EQ(name, out[i].name);
    out[i++].crc = f[6];
  }
  EXPECT_EQ(i, out.size()) << "unzip -v listed a different number of entries";
  return out;
}

}  // namespace orv::zip::testing
