// orvakell-zip list ARCHIVE: the archive's entries as the archiver reads them, folders
// included, one a line: uncompressed size, compressed size, CRC-32, date, time, name.
// Messages go to standard error; the exit code is 1 when the directory could not be read.
#include <cstdio>
#include <filesystem>
#include <ostream>

#include "commands.h"
#include "zip/dirreader/zip_dir_reader.h"

namespace orv::zipcli {

int RunList(const CommandContext& ctx) {
  using namespace orv::zip;
  if (ctx.args.size() != 1) {
    ctx.err << "usage: orvakell-zip list ARCHIVE\n";
    return 2;
  }
  const std::filesystem::path archive = ctx.args[0];
  std::error_code ec;
  if (!std::filesystem::exists(archive, ec)) {
    ctx.err << "orvakell-zip: " << archive.string() << ": no such archive\n";
    return 1;
  }
  ZipMessenger messenger;
  messenger.Unattended = true;  // a command line has no dialogs
  messenger.OnMessage = [&ctx](int code, const std::string& text) {
    std::string plain;
    for (char c : text)
      if (c != '\r') plain.push_back(c);
    ctx.err << "orvakell-zip: " << plain << " (" << code << ")\n";
  };
  ZipDirReaderOptions options;
  options.UseDirOnlyEntries = true;
  ZipDirectoryState state;
  const int error = ReadZipDirectoryFile(archive, options, {}, messenger, state);
  if (error != 0) return 1;

  ctx.out << "Archive: " << state.FileUsed << "\n";
  if (!state.ZipComment.empty()) ctx.out << "Comment: " << state.ZipComment << "\n";
  ctx.out << "    Length  Compressed  CRC-32    Date       Time      Name\n";
  std::uint64_t total = 0, total_compressed = 0;
  for (const ZipDirEntry& e : state.Entries) {
    const ZipDosTime t = DecodeDosDateTime(e.DateTime);
    char line[128];
    std::snprintf(line, sizeof line, "%10llu  %10llu  %08x  %04d-%02d-%02d %02d:%02d:%02d  ",
                  static_cast<unsigned long long>(e.UncomprSize), static_cast<unsigned long long>(e.ComprSize),
                  static_cast<unsigned>(e.CRC32), t.year, t.month, t.day, t.hour, t.minute, t.second);
    ctx.out << line << e.StoredName << "\n";
    total += e.UncomprSize;
    total_compressed += e.ComprSize;
  }
  ctx.out << state.Entries.size() << " entries, " << total << " bytes, " << total_compressed << " compressed\n";
  return 0;
}

}  // namespace orv::zipcli
