// orvakell-zip add ARCHIVE FILE...: packs the files into the archive under their bare names
// (an existing archive keeps its other entries), through the archiver, its driver and the
// engine library. Exit 1 with the message text when the archive was not made.
#include <ostream>

#include "cli_archiver.h"
#include "commands.h"

namespace orv::zipcli {

int RunAdd(const CommandContext& ctx) {
  if (ctx.args.size() < 2) {
    ctx.err << "usage: orvakell-zip add ARCHIVE FILE...\n";
    return 2;
  }
  CliArchiver cli(ctx.err);
  orv::zip::TZipArchiver& zip = cli.archiver();
  zip.SetZipFileName(ctx.args[0]);
  if (cli.failed()) return 1;
  for (size_t i = 1; i < ctx.args.size(); ++i) zip.FSpecArgs.push_back(ctx.args[i]);
  const int added = zip.Add();
  if (added <= 0 || cli.failed()) {
    if (!cli.failed()) ctx.err << "orvakell-zip: nothing was added (" << added << ")\n";
    return 1;
  }
  ctx.out << "added " << added << (added == 1 ? " file" : " files") << " to " << ctx.args[0] << "\n";
  return 0;
}

}  // namespace orv::zipcli
