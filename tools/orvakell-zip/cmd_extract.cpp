// orvakell-zip extract [--folders] ARCHIVE DIR: writes every entry into DIR under its bare name,
// or with --folders under its stored folders below DIR.
// orvakell-zip test ARCHIVE: decodes every entry and checks its CRC-32, writing nothing.
// Both go through the archiver, its driver and the engine library; exit 1 with the message
// text when an entry failed.
#include <ostream>
#include <string_view>

#include "cli_archiver.h"
#include "commands.h"

namespace orv::zipcli {

namespace {

int RunExtractOrTest(const CommandContext& ctx, bool test, bool folders = false) {
  using namespace orv::zip;
  CliArchiver cli(ctx.err);
  TZipArchiver& zip = cli.archiver();
  zip.SetZipFileName(ctx.args[0]);
  if (cli.failed()) return 1;
  if (zip.Count() == 0) {
    ctx.err << "orvakell-zip: " << ctx.args[0] << ": no entries to " << (test ? "test" : "extract") << "\n";
    return 1;
  }
  if (test) zip.ExtrOptions.insert(ExtrOptsEnum::ExtrTest);
  else zip.ExtrBaseDir = ctx.args[1];
  if (folders) zip.ExtrOptions.insert(ExtrOptsEnum::ExtrDirNames);
  const int count = zip.Extract();
  if (count <= 0 || cli.failed()) {
    if (!cli.failed()) ctx.err << "orvakell-zip: nothing was " << (test ? "tested" : "extracted") << " (" << count << ")\n";
    return 1;
  }
  ctx.out << (test ? "tested " : "extracted ") << count << (count == 1 ? " file" : " files")
          << (test ? ": no errors\n" : "\n");
  return 0;
}

}  // namespace

int RunExtract(const CommandContext& ctx) {
  const bool folders = !ctx.args.empty() && std::string_view(ctx.args[0]) == "--folders";
  const CommandContext rest{ctx.args.subspan(folders ? 1 : 0), ctx.out, ctx.err};
  if (rest.args.size() != 2) {
    ctx.err << "usage: orvakell-zip extract [--folders] ARCHIVE DIR\n";
    return 2;
  }
  return RunExtractOrTest(rest, false, folders);
}

int RunTest(const CommandContext& ctx) {
  if (ctx.args.size() != 1) {
    ctx.err << "usage: orvakell-zip test ARCHIVE\n";
    return 2;
  }
  return RunExtractOrTest(ctx, true);
}

}  // namespace orv::zipcli
