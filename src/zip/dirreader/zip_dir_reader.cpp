// Reading an archive's central directory entry by entry (see zip_dir_reader.h).
#include "zip/dirreader/zip_dir_reader.h"

#include <algorithm>
#include <limits>
#include <new>

#include "zip/dirreader/zip_end_record.h"
#include "zip/records/zip_records.h"


namespace orv::zip {
namespace {

using detail::ReadFully;

constexpr std::size_t kCentralHeaderSize = records::central_header::kSize;

// Raised inside the reading; the number is shown and returned.
struct ReadFailure {
  int ident;
};

// Reads `count` bytes at `offset`; a short read or read error raises `ident`.
void ReadExact(ZipSource& source, std::uint64_t offset, std::uint8_t* out, std::size_t count, int ident) {
  std::size_t got = 0;
  if (!ReadFully(source, offset, out, count, got, nullptr) || got != count) throw ReadFailure{ident};
}

// Replaces the 0xFFFFFFFF / 0xFFFF marks of a central header by the Zip64 extra field's values,
// which come in the order: uncompressed size, compressed size, local header offset, disk.
void ApplyZip64Extra(ZipDirEntry& e, const std::string& extra, std::uint32_t raw_disk,
                     std::uint32_t raw_usize, std::uint32_t raw_csize, std::uint32_t raw_offset) {
  const bool need_u = raw_usize == 0xFFFFFFFF, need_c = raw_csize == 0xFFFFFFFF;
  const bool need_o = raw_offset == 0xFFFFFFFF, need_d = raw_disk == 0xFFFF;
  if (!(need_u || need_c || need_o || need_d)) return;
  const auto* p = reinterpret_cast<const std::uint8_t*>(extra.data());
  std::size_t at = 0;
  while (at + 4 <= extra.size()) {
    const std::uint16_t tag = records::get<records::extra::Id>(p + at);
    const std::size_t len = records::get<records::extra::Length>(p + at);
    if (len > extra.size() - at - 4) break;
    if (tag == records::extra::kZip64) {
      const std::uint8_t* f = p + at + records::extra::kHeaderSize;
      std::size_t left = len;
      const auto take64 = [&](std::uint64_t& into) {
        if (left < 8) throw ReadFailure{msg::CentralHeaderRead};
        into = orv::bytes::load_le64(f);
        f += 8;
        left -= 8;
      };
      if (need_u) take64(e.UncomprSize);
      if (need_c) take64(e.ComprSize);
      if (need_o) take64(e.RelOffLocalHdr);
      if (need_d) {
        if (left < 4) throw ReadFailure{msg::CentralHeaderRead};
        e.DiskStart = orv::bytes::load_le32(f);
      }
      return;
    }
    at += records::extra::kHeaderSize + len;
  }
  // The header says "see the Zip64 field" but there is none: the values cannot be known.
  throw ReadFailure{msg::CentralHeaderRead};
}

std::string ToBackslashes(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

void Progress(const ZipDirReaderEvents& events, ProgressType type, const std::string& name, std::int64_t size) {
  if (events.OnProgress) events.OnProgress(type, name, size);
}

}  // namespace

bool ZipDirEntry::IsDirOnly() const {
  return !FileName.empty() && (FileName.back() == '\\' || FileName.back() == '/');
}

ZipDosTime DecodeDosDateTime(std::uint32_t packed) {
  const std::uint32_t date = packed >> 16, time = packed & 0xFFFF;
  return {static_cast<int>(1980 + (date >> 9)), static_cast<int>((date >> 5) & 0x0F), static_cast<int>(date & 0x1F),
          static_cast<int>(time >> 11), static_cast<int>((time >> 5) & 0x3F), static_cast<int>((time & 0x1F) * 2)};
}

void ZipDirectoryState::Clear() { *this = ZipDirectoryState(); }

int ReadZipDirectory(ZipSource& source, const ZipDirReaderOptions& options, const ZipDirReaderEvents& events,
                     ZipMessenger& messenger, ZipDirectoryState& state) {
  const std::string file_used = state.FileUsed;
  state.Clear();
  state.FileUsed = file_used;

  const detail::EndRecord end = detail::FindEndRecord(source);
  if (end.status == detail::EndStatus::ReadError) {
    messenger.ShowExceptionError(EZipArchiver(msg::ZipFileNotOpened));
  }
  if (end.status != detail::EndStatus::Found) {
    const int ident = end.status == detail::EndStatus::BadZip64 ? msg::CentralHeaderRead : msg::NotValidZipArchive;
    messenger.ShowExceptionError(EZipArchiver(ident));
    if (events.OnDirUpdate) events.OnDirUpdate();
    return ident;
  }
  state.found = true;
  if (end.garbage) {
    state.GarbageWarning = true;
    messenger.ShowZipMessage(msg::GarbageAtEnd);
  }

  if (events.Busy) events.Busy(true);
  int result = 0;
  std::uint8_t last_host = 0, last_made_by = 20;
  std::int64_t shift = 0;
  try {
    state.FileSize = end.logical_size;
    state.TotalDisks = end.this_disk;
    state.TotalEntries = end.total_entries;
    state.Zip64 = end.zip64;
    std::uint64_t start = end.central_offset;
    if (end.central_disk == end.this_disk) {
      // Where the directory must start if nothing lies in front of the archive.
      const std::uint64_t directory_end = end.zip64 ? end.zip64_position : end.position;
      if (end.central_size <= directory_end) start = directory_end - end.central_size;
    }
    if (start != end.central_offset) {
      state.StructureWarning = true;
      messenger.ShowZipMessage(msg::ZipStructureWarning);
    }
    shift = static_cast<std::int64_t>(start - end.central_offset);
    state.CentralDirOffset = start;
    state.SFXOffset = end.logical_size == detail::kEndRecordSize ? 0 : end.central_offset;
    if (start > source.Size()) throw ReadFailure{msg::SeekError};

    const std::string loading = LoadZipStr(msg::LoadingDirectory);
    Progress(events, ProgressType::NewExtra, loading, static_cast<std::int64_t>(end.total_entries));
    // Each entry takes at least 46 bytes of the file: a larger count cannot be true and must not
    // reserve memory it names.
    state.Entries.reserve(static_cast<std::size_t>(
        std::min<std::uint64_t>(end.total_entries, (source.Size() - start) / kCentralHeaderSize + 1)));

    std::uint64_t pos = start;
    for (std::uint64_t n = 0; n < end.total_entries; ++n) {
      std::uint8_t h[kCentralHeaderSize];
      ReadExact(source, pos, h, sizeof h, msg::CentralHeaderRead);
      records::CentralHeader ch;
      if (!records::ParseCentralHeader(h, ch)) throw ReadFailure{msg::CentralHeaderSignature};
      pos += sizeof h;
      ZipDirEntry e;
      e.MadeByVersion = static_cast<std::uint8_t>(ch.made_by & 0xFF);
      e.HostSys = static_cast<std::uint8_t>(ch.made_by >> 8);
      e.VersionNeeded = ch.version_needed;
      e.Flag = ch.flags;
      e.ComprMethod = ch.method;
      e.DateTime = ch.dos_time;
      e.CRC32 = ch.crc;
      const std::uint32_t raw_csize = ch.compressed_size, raw_usize = ch.uncompressed_size;
      e.ComprSize = raw_csize;
      e.UncomprSize = raw_usize;
      e.FileNameLength = ch.name_length;
      e.ExtraFieldLength = ch.extra_length;
      e.FileCommentLen = ch.comment_length;
      e.DiskStart = ch.disk_start;
      e.IntFileAttrib = ch.internal_attr;
      e.ExtFileAttrib = ch.external_attr;
      const std::uint32_t raw_offset = ch.local_offset;
      e.RelOffLocalHdr = raw_offset;
      e.Encrypted = (e.Flag & 1) != 0;

      std::string raw_name(e.FileNameLength, '\0');
      ReadExact(source, pos, reinterpret_cast<std::uint8_t*>(raw_name.data()), raw_name.size(), msg::CentralFileNameRead);
      pos += raw_name.size();
      const bool oem = ZipNeedsOemConversion(options.CodePage, e.HostSys, e.MadeByVersion);
      const bool utf8 = (e.Flag & 0x0800) != 0;
      e.StoredName = ZipConvertText(raw_name, oem, utf8);
      e.FileName = ToBackslashes(e.StoredName);

      e.ExtraData.assign(e.ExtraFieldLength, '\0');
      ReadExact(source, pos, reinterpret_cast<std::uint8_t*>(e.ExtraData.data()), e.ExtraData.size(), msg::SeekError);
      pos += e.ExtraData.size();
      ApplyZip64Extra(e, e.ExtraData, e.DiskStart, raw_usize, raw_csize, raw_offset);

      std::string raw_comment(e.FileCommentLen, '\0');
      ReadExact(source, pos, reinterpret_cast<std::uint8_t*>(raw_comment.data()), raw_comment.size(), msg::FileCommentRead);
      pos += raw_comment.size();
      e.FileComment = ZipConvertText(raw_comment, oem, utf8);

      if (e.HostSys != 0) {
        last_host = e.HostSys;
        last_made_by = e.MadeByVersion;
      }
      state.SFXOffset = std::min(state.SFXOffset, e.RelOffLocalHdr);
      if (options.UseDirOnlyEntries || !e.IsDirOnly()) {
        state.Entries.push_back(std::move(e));
        if (events.OnNewName) events.OnNewName(static_cast<int>(state.Entries.size()), state.Entries.back());
      } else {
        ++state.DirOnlyCount;
      }
      Progress(events, ProgressType::ExtraUpdate, loading, 1);
      if (events.Cancel && events.Cancel()) throw ReadFailure{msg::UserCanceled};
    }
  } catch (const ReadFailure& failure) {
    result = failure.ident;
    messenger.ShowExceptionError(EZipArchiver(failure.ident));
  } catch (const EZipArchiver& error) {
    result = error.Ident();
    messenger.ShowExceptionError(error);
  } catch (const std::bad_alloc&) {
    result = msg::NoMemory;
    messenger.ShowExceptionError(EZipArchiver(msg::NoMemory));
  } catch (const std::exception& other) {
    result = msg::UnknownListError;
    messenger.ShowExceptionError(EZipArchiver(msg::UnknownListError, LoadZipStr(msg::UnknownListError) + other.what(), true));
  }

  Progress(events, ProgressType::EndOfBatch, std::string(), 0);
  if (events.Busy) events.Busy(false);
  if (result == 0) {
    // A damaged directory can hold any offset: saturate instead of overflowing.
    std::int64_t data_start = 0;
    if (__builtin_add_overflow(static_cast<std::int64_t>(state.SFXOffset), shift, &data_start))
      data_start = shift < 0 ? 0 : std::numeric_limits<std::int64_t>::max();
    state.SFXOffset = data_start < 0 ? 0 : static_cast<std::uint64_t>(data_start);
    state.ZipComment = ZipConvertText(end.comment, ZipNeedsOemConversion(options.CodePage, last_host, last_made_by), false);
    state.ok = true;
  }
  if (events.OnDirUpdate) events.OnDirUpdate();
  return result;
}

}  // namespace orv::zip
