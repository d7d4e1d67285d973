// orvakell-burn: command-line front end of the disc library. The first word picks the
// subcommand from the table below; each subcommand is one source file.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "device_command.h"
#include "image_command.h"

namespace {

struct Subcommand {
  const char* option;
  const char* summary;
  int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

constexpr Subcommand kSubcommands[] = {
    {"--list", "--list [--no-spti]              list the CD/DVD units and what they can do",
     &orv::tools::RunListCommand},
    {"--image", "--image OUT.iso [options] FILE|FOLDER...  write an ISO 9660/Joliet image file",
     &orv::tools::RunImageCommand},
    {"--device", "--device ENTRY [options] FILE|FOLDER...  write a new session to a recorder",
     &orv::tools::RunDeviceCommand},
    {"--verify", "--verify ENTRY FILE...            check the disc's last session against the files",
     &orv::tools::RunVerifyCommand},
};

void Usage(std::ostream& out) {
  out << "usage:\n";
  for (const auto& s : kSubcommands) out << "  orvakell-burn " << s.summary << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage(std::cerr);
    return 2;
  }
  const std::string option = argv[1];
  if (option == "--help" || option == "-h") {
    Usage(std::cout);
    return 0;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& s : kSubcommands) {
    if (option == s.option) return s.run(args, std::cout, std::cerr);
  }
  std::cerr << "orvakell-burn: unknown option " << option << "\n";
  Usage(std::cerr);
  return 2;
}
