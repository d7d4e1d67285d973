// Subcommands of orvakell-zip. Each lives in its own file (cmd_<name>.cpp) and is entered in
// the table of main.cpp. A command gets its arguments after the command name and returns the
// process exit code: 0 success, 1 the operation failed, 2 wrong usage.
#pragma once

#include <iosfwd>
#include <span>
#include <string_view>

namespace orv::zipcli {

struct CommandContext {
  std::span<char* const> args;  // arguments after the command name
  std::ostream& out;
  std::ostream& err;
};

using CommandFunction = int (*)(const CommandContext&);

struct Command {
  std::string_view name;
  std::string_view usage;    // "list ARCHIVE"
  std::string_view summary;  // one line for the help text
  CommandFunction run;
};

int RunList(const CommandContext& ctx);
int RunAdd(const CommandContext& ctx);
int RunExtract(const CommandContext& ctx);
int RunTest(const CommandContext& ctx);

}  // namespace orv::zipcli
