// Reader of a zip archive's directory (end record, Zip64 end records, central directory).
//
// ReadZipDirectory reads through a ZipSource and fills a ZipDirectoryState: the end record is
// found with at most two reads (22 bytes, then at most 65,557), a Zip64 locator and record with
// two more when the end record asks for them; the central directory is read entry by entry.
// Folder-only entries are left out unless UseDirOnlyEntries. Errors and warnings are archiver
// messages shown through the ZipMessenger (dialog unless Unattended, always OnMessage); the
// result is the error number (0 = read). After an error the entries read so far stay in the
// state but `ok` is false: the caller clears its archive name so that its count reads 0.
// ReadZipDirectoryFile adds the file rules: a missing archive is not an error, an executable
// whose zip data lies in a separate ".zip" file, and numbered part sets (name001.zip ...).
//
// Threading: one call at a time per state and messenger; no globals.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "zip/dirreader/zip_dir_entry.h"
#include "zip/dirreader/zip_source.h"
#include "zip/messages/zip_dialog.h"

namespace orv::zip {

enum class CodePageOpts { cpAuto, cpNone, cpOEM };

// The archiver's progress kinds, ordinals as the archiver defines them.
enum class ProgressType {
  NewFile = 0, ProgressUpdate = 1, EndOfBatch = 2, TotalFiles2Process = 3,
  TotalSize2Process = 4, NewExtra = 5, ExtraUpdate = 6
};

struct ZipDirReaderOptions {
  bool UseDirOnlyEntries = false;
  CodePageOpts CodePage = CodePageOpts::cpAuto;
};

struct ZipDirReaderEvents {
  std::function<void(ProgressType, const std::string& file_name, std::int64_t file_size)> OnProgress;
  std::function<void(int sequence, const ZipDirEntry& entry)> OnNewName;  // 1-based
  std::function<void()> OnDirUpdate;
  std::function<bool()> Cancel;       // polled after each entry; true ends with 11007
  std::function<void(bool busy)> Busy;  // busy cursor on / off
};

struct ZipDirectoryState {
  std::vector<ZipDirEntry> Entries;
  bool ok = false;                    // a directory was read completely
  bool found = false;                 // an end record was found
  std::size_t DirOnlyCount = 0;       // folder entries left out
  std::uint64_t CentralDirOffset = 0; // where the central directory starts in the file
  std::uint64_t FileSize = 0;         // logical size: end record + comment
  std::uint64_t SFXOffset = 0;        // start of the zip data (lowest local header, shifted)
  std::uint32_t TotalDisks = 0;       // number of the last disk
  std::uint64_t TotalEntries = 0;     // as recorded in the end record(s)
  bool Zip64 = false;                 // Zip64 end records were used
  std::string ZipComment;             // converted
  bool StructureWarning = false;      // central directory not at its recorded offset
  bool GarbageWarning = false;        // bytes after the end record that are no padding
  std::string FileUsed;               // ReadZipDirectoryFile: the file actually read

  void Clear();
};

// Reads the directory of `source`. Returns 0 or the message number of the error.
[[nodiscard]] int ReadZipDirectory(ZipSource& source, const ZipDirReaderOptions& options,
                                   const ZipDirReaderEvents& events, ZipMessenger& messenger,
                                   ZipDirectoryState& state);

// Reads the directory of the archive file `path` (see the header comment).
[[nodiscard]] int ReadZipDirectoryFile(const std::filesystem::path& path,
                                       const ZipDirReaderOptions& options,
                                       const ZipDirReaderEvents& events, ZipMessenger& messenger,
                                       ZipDirectoryState& state);

// Code-page rule: whether a name or comment made on `host_sys` is converted from OEM (CP437).
bool ZipNeedsOemConversion(CodePageOpts code_page, std::uint8_t host_sys, std::uint8_t made_by);
// Raw name/comment bytes -> UTF-8: CP437 when `oem`; else taken as UTF-8 when valid (or flag bit
// 11), else as Windows-1252.
std::string ZipConvertText(std::string_view raw, bool oem, bool utf8_flag);

}  // namespace orv::zip
