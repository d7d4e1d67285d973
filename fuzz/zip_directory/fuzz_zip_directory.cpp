// Fuzz target: the archive directory reader on arbitrary bytes (an archive is outside data).
// The first byte picks the options; the rest is the archive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "zip/dirreader/zip_dir_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv::zip;
  if (size == 0) return 0;
  ZipDirReaderOptions options;
  options.UseDirOnlyEntries = data[0] & 1;
  options.CodePage = static_cast<CodePageOpts>((data[0] >> 1) % 3);
  MemoryZipSource memory(std::span<const std::uint8_t>(data + 1, size - 1));
  TestingZipSource source(memory);
  source.max_chunk = (data[0] & 0x80) ? 5 : 0;
  ZipMessenger messenger;
  messenger.Unattended = true;
  std::size_t messages = 0;
  messenger.OnMessage = [&messages](int, const std::string&) { ++messages; };
  ZipDirReaderEvents events;
  std::size_t names = 0;
  events.OnNewName = [&names](int sequence, const ZipDirEntry&) {
    if (static_cast<std::size_t>(sequence) != ++names) std::abort();
  };
  ZipDirectoryState state;
  const int result = ReadZipDirectory(source, options, events, messenger, state);
  if (result != 0 && (state.ok || messages == 0)) std::abort();  // every failure is reported
  if (result == 0 && state.found) {
    if (!state.ok) std::abort();
    if (state.Entries.size() + state.DirOnlyCount != state.TotalEntries) std::abort();
    if (state.FileSize > size - 1) std::abort();
  }
  if (names != state.Entries.size()) std::abort();
  return 0;
}
