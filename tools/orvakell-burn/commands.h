// The subcommands of orvakell-burn. Each lives in its own source file and receives the words
// after its option; it returns the process exit code (0 done, 1 failed, 2 bad usage).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace orv::tools {

// orvakell-burn --list [--no-spti]
int RunListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orv::tools
