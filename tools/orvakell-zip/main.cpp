// orvakell-zip: the archiver's functions from a command line.
//   orvakell-zip list ARCHIVE
//   orvakell-zip add ARCHIVE FILE... | extract [--folders] ARCHIVE DIR | test ARCHIVE
// Commands are entered in kCommands; each one is implemented in its own cmd_*.cpp file.
#include <array>
#include <iostream>

#include "commands.h"

namespace {

using orv::zipcli::Command;

constexpr std::array kCommands = {
    Command{"list", "list ARCHIVE", "print the entries: sizes, CRC-32, date and time, name", orv::zipcli::RunList},
    Command{"add", "add ARCHIVE FILE...", "pack the files into the archive under their bare names", orv::zipcli::RunAdd},
    Command{"extract", "extract [--folders] ARCHIVE DIR",
            "write every entry into DIR under its bare name (--folders: below its stored folders)", orv::zipcli::RunExtract},
    Command{"test", "test ARCHIVE", "decode every entry and check its CRC-32", orv::zipcli::RunTest},
};

void PrintUsage(std::ostream& os) {
  os << "usage: orvakell-zip COMMAND [ARGUMENTS]\n\ncommands:\n";
  for (const Command& c : kCommands) os << "  " << c.usage << "\n      " << c.summary << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(std::cerr);
    return 2;
  }
  const std::string_view name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") {
    PrintUsage(std::cout);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (c.name == name) {
      orv::zipcli::CommandContext ctx{std::span<char* const>(argv + 2, static_cast<std::size_t>(argc - 2)),
                                      std::cout, std::cerr};
      return c.run(ctx);
    }
  }
  std::cerr << "orvakell-zip: unknown command '" << name << "'\n";
  PrintUsage(std::cerr);
  return 2;
}
