// The file rules around the directory reader: missing archives, numbered part sets, and an
// executable whose zip data lies in a separate ".zip" file.
#include <system_error>

#include "zip/dirreader/zip_dir_reader.h"
#include "zip/dirreader/zip_end_record.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;

bool HasExtension(const fs::path& path, const char* ext) {
  std::string e = path.extension().string();
  for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return e == ext;
}

bool IsFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// An executable ("MZ") whose end record ends the file and whose directory lies at its recorded
// offset, but whose first entry has no local header where it should: its zip data is elsewhere.
bool IsDetachedExecutable(const fs::path& path) {
  FileZipSource source(path);
  if (!source.IsOpen() || source.Size() < 2) return false;
  std::uint8_t mz[2];
  std::size_t got = 0;
  if (!detail::ReadFully(source, 0, mz, 2, got, nullptr) || got != 2 || mz[0] != 'M' || mz[1] != 'Z') return false;
  const detail::EndRecord end = detail::FindEndRecord(source);
  if (end.status != detail::EndStatus::Found || end.logical_size != source.Size()) return false;
  std::uint8_t h[records::central_header::kSize];
  records::CentralHeader first;
  if (!detail::ReadFully(source, end.central_offset, h, sizeof h, got, nullptr) || got != sizeof h ||
      !records::ParseCentralHeader(h, first))
    return false;
  std::uint8_t local[records::local_header::Signature::width];
  if (!detail::ReadFully(source, first.local_offset, local, sizeof local, got, nullptr)) return false;
  return got != sizeof local || records::get<records::local_header::Signature>(local) != detail::kLocalSignature;
}

// name001.zip, name002.zip, ...: the last part whose end record names it as its own disk.
fs::path LastPartOfSet(const fs::path& archive) {
  fs::path found;
  const fs::path stem = archive.parent_path() / archive.stem();
  for (int n = 1; n <= 999; ++n) {
    char number[16];
    std::snprintf(number, sizeof number, "%03d", n);
    const fs::path part = stem.string() + number + ".zip";
    if (!IsFile(part)) break;
    FileZipSource source(part);
    if (!source.IsOpen()) continue;
    const detail::EndRecord end = detail::FindEndRecord(source);
    if (end.status == detail::EndStatus::Found && end.this_disk == static_cast<std::uint32_t>(n - 1)) found = part;
  }
  return found;
}

}  // namespace

int ReadZipDirectoryFile(const fs::path& path, const ZipDirReaderOptions& options, const ZipDirReaderEvents& events,
                         ZipMessenger& messenger, ZipDirectoryState& state) {
  state.Clear();
  fs::path use = path;
  if (!IsFile(use)) {
    const fs::path part = HasExtension(use, ".zip") ? LastPartOfSet(use) : fs::path();
    if (part.empty()) {
      std::error_code ec;
      if (!fs::exists(use, ec)) {  // no archive yet: not an error
        if (events.OnDirUpdate) events.OnDirUpdate();
        return 0;
      }
    } else {
      use = part;
    }
  } else if (IsDetachedExecutable(use)) {
    fs::path zip = use;
    zip.replace_extension(".zip");
    use = zip;
  }
  state.FileUsed = use.string();
  FileZipSource source(use);
  if (!source.IsOpen()) {
    messenger.ShowExceptionError(EZipArchiver(msg::ZipFileNotOpened));
    messenger.ShowExceptionError(EZipArchiver(msg::NotValidZipArchive));
    if (events.OnDirUpdate) events.OnDirUpdate();
    return msg::NotValidZipArchive;
  }
  return ReadZipDirectory(source, options, events, messenger, state);
}

}  // namespace orv::zip
