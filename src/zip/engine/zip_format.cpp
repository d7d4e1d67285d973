#include "zip/engine/zip_format.h"

#include <algorithm>
#include <cstring>

#include "zip/records/zip_text.h"

namespace orv::zip::engine {

uint32_t dos_time_from_unix(std::time_t t) {
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr || tm.tm_year < 80) return (1u << 5 | 1u) << 16;  // 1980-01-01
  if (tm.tm_year > 207) tm.tm_year = 207;
  const uint32_t date = static_cast<uint32_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  const uint32_t time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return date << 16 | time;
}

std::time_t unix_time_from_dos(uint32_t dos) {
  std::tm tm{};
  tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
  tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
  tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>((dos & 0x1F) * 2);
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

bool CentralEntry::needs_zip64() const {
  return compressed_size >= kMax32 || uncompressed_size >= kMax32 || local_offset >= kMax32;
}

namespace {

struct EndRecord {
  uint64_t position = 0;  // of the 22-byte end record
  uint64_t entries = 0;
  uint64_t cd_size = 0;
  uint64_t cd_offset = 0;
  std::string comment;
  bool zip64 = false;
  uint64_t zip64_position = 0;
};

EndRecord find_end_record(const ArchiveSource& src) {
  namespace er = records::end_record;
  namespace z64e = records::zip64_end_record;
  namespace loc = records::zip64_locator;
  using records::get;
  const uint64_t size = src.size();
  if (size < er::kSize) throw FormatError("no end of central directory record (file too short)");
  const size_t window = static_cast<size_t>(std::min<uint64_t>(size, er::kSize + 65535));
  std::vector<uint8_t> tail(window);
  src.read_at(size - window, tail.data(), window);
  for (size_t i = window - er::kSize + 1; i-- > 0;) {
    const uint8_t* p = tail.data() + i;
    if (get<er::Signature>(p) != er::kSignature) continue;
    const uint16_t comment_len = get<er::CommentLength>(p);
    if (i + er::kSize + comment_len > window) continue;  // a stray signature inside the comment
    EndRecord end;
    end.position = size - window + i;
    if (get<er::ThisDisk>(p) != 0 || get<er::CentralDisk>(p) != 0)
      throw FormatError("archives split over several disks are not supported");
    end.entries = get<er::TotalEntries>(p);
    end.cd_size = get<er::CentralSize>(p);
    end.cd_offset = get<er::CentralOffset>(p);
    end.comment.assign(reinterpret_cast<const char*>(p + er::kSize), comment_len);
    if (end.position >= loc::kSize) {
      uint8_t l[loc::kSize];
      src.read_at(end.position - loc::kSize, l, sizeof l);
      if (get<loc::Signature>(l) == loc::kSignature) {
        // The locator's offset counts from the archive's start; with data in front of the
        // archive (a script or program stub) the record lies that much further, right before
        // the locator.
        uint64_t z64 = get<loc::Zip64EndOffset>(l);
        uint8_t rec[z64e::kSize];
        bool found = false;
        if (z64 <= end.position && end.position - z64 >= z64e::kSize) {
          src.read_at(z64, rec, sizeof rec);
          found = get<z64e::Signature>(rec) == z64e::kSignature;
        }
        if (!found && end.position >= loc::kSize + z64e::kSize) {
          z64 = end.position - loc::kSize - z64e::kSize;
          src.read_at(z64, rec, sizeof rec);
          found = get<z64e::Signature>(rec) == z64e::kSignature;
        }
        if (!found) throw FormatError("no Zip64 end record where its locator points");
        end.zip64 = true;
        end.zip64_position = z64;
        end.entries = get<z64e::TotalEntries>(rec);
        end.cd_size = get<z64e::CentralSize>(rec);
        end.cd_offset = get<z64e::CentralOffset>(rec);
      }
    }
    return end;
  }
  throw FormatError("no end of central directory record");
}

// Folds the Zip64 extra field into the entry's 64-bit values and picks up the UT mtime.
void apply_extra(CentralEntry& e, bool usize32_full, bool csize32_full, bool offset32_full) {
  const auto* p = reinterpret_cast<const uint8_t*>(e.extra.data());
  size_t left = e.extra.size();
  while (left >= records::extra::kHeaderSize) {
    const uint16_t id = records::get<records::extra::Id>(p);
    const uint16_t len = records::get<records::extra::Length>(p);
    if (len > left - 4) break;  // truncated extra field: ignore the rest, as other readers do
    const uint8_t* d = p + records::extra::kHeaderSize;
    if (id == kZip64ExtraId) {
      size_t at = 0;
      auto take = [&](uint64_t& field) {
        if (at + 8 > len) throw FormatError("Zip64 extra field too short for entry " + e.text_name);
        field = orv::bytes::load_le64(d + at);
        at += 8;
      };
      if (usize32_full) take(e.uncompressed_size);
      if (csize32_full) take(e.compressed_size);
      if (offset32_full) take(e.local_offset);
    } else if (id == kTimeExtraId && len >= 5 && (d[0] & 1)) {
      e.has_unix_time = true;
      e.unix_mtime = static_cast<int32_t>(orv::bytes::load_le32(d + 1));
    }
    p += 4 + len;
    left -= 4 + len;
  }
}

}  // namespace

CentralDirectory read_central_directory(const ArchiveSource& src) {
  const EndRecord end = find_end_record(src);
  const uint64_t cd_end = end.zip64 ? end.zip64_position : end.position;
  if (end.cd_size > cd_end) throw FormatError("central directory size out of range");
  const uint64_t cd_start = cd_end - end.cd_size;
  if (end.cd_offset > cd_start) throw FormatError("central directory offset out of range");
  const uint64_t shift = cd_start - end.cd_offset;  // bytes in front of the archive
  if (end.entries > end.cd_size / records::central_header::kSize) throw FormatError("entry count does not fit the central directory");

  std::vector<uint8_t> cd(static_cast<size_t>(end.cd_size));
  if (!cd.empty()) src.read_at(cd_start, cd.data(), cd.size());

  CentralDirectory dir;
  dir.comment = end.comment;
  dir.start = cd_start;
  dir.entries.reserve(static_cast<size_t>(end.entries));
  size_t at = 0;
  for (uint64_t i = 0; i < end.entries; ++i) {
    if (cd.size() - at < records::central_header::kSize) throw FormatError("central directory ends inside a header");
    const uint8_t* h = cd.data() + at;
    records::CentralHeader ch;
    if (!records::ParseCentralHeader(h, ch)) throw FormatError("a central header signature is wrong");
    if (cd.size() - at < ch.total_size()) throw FormatError("central header runs past the directory");
    CentralEntry e;
    e.made_by = ch.made_by;
    e.version_needed = ch.version_needed;
    e.flags = ch.flags;
    e.method = ch.method;
    e.dos_time = ch.dos_time;
    e.crc = ch.crc;
    e.internal_attr = ch.internal_attr;
    e.external_attr = ch.external_attr;
    const uint8_t* name = h + records::central_header::kSize;
    e.name.assign(reinterpret_cast<const char*>(name), ch.name_length);
    e.text_name = records::EntryName(e.name, e.flags, e.made_by);
    e.extra.assign(reinterpret_cast<const char*>(name + ch.name_length), ch.extra_length);
    e.compressed_size = ch.compressed_size;
    e.uncompressed_size = ch.uncompressed_size;
    e.local_offset = ch.local_offset;
    apply_extra(e, ch.uncompressed_size == kMax32, ch.compressed_size == kMax32, ch.local_offset == kMax32);
    if (ch.disk_start != 0 && ch.disk_start != kMax16) throw FormatError("entry on another disk: " + e.text_name);
    if (e.local_offset > end.cd_offset) throw FormatError("local header offset out of range for " + e.text_name);
    e.local_offset += shift;
    if (e.compressed_size > cd_start - e.local_offset) throw FormatError("compressed size out of range for " + e.text_name);
    dir.entries.push_back(std::move(e));
    at += ch.total_size();
  }
  return dir;
}

uint64_t local_data_offset(const ArchiveSource& src, const CentralEntry& e) {
  namespace lh = records::local_header;
  uint8_t h[lh::kSize];
  if (e.local_offset > src.size() || src.size() - e.local_offset < lh::kSize)
    throw FormatError("local header out of range for " + e.text_name);
  src.read_at(e.local_offset, h, sizeof h);
  if (records::get<lh::Signature>(h) != lh::kSignature) throw FormatError("local header signature is wrong for " + e.text_name);
  const uint64_t data = e.local_offset + lh::kSize + records::get<lh::NameLength>(h) + records::get<lh::ExtraLength>(h);
  if (data > src.size() || src.size() - data < e.compressed_size) throw FormatError("entry data runs past the archive: " + e.text_name);
  return data;
}

void check_entries_apart(const ArchiveSource& src, const std::vector<CentralEntry>& entries) {
  struct Span {
    uint64_t start, end;
    const CentralEntry* entry;
  };
  std::vector<Span> spans;
  spans.reserve(entries.size());
  for (const CentralEntry& e : entries) spans.push_back({e.local_offset, local_data_offset(src, e) + e.compressed_size, &e});
  std::stable_sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
  const Span* reach = nullptr;  // the span reaching furthest so far
  for (const Span& s : spans) {
    if (reach != nullptr && s.start < reach->end)
      throw FormatError("entries " + reach->entry->text_name + " and " + s.entry->text_name +
                        " overlap in the archive (possible zip bomb)");
    if (reach == nullptr || s.end > reach->end) reach = &s;
  }
}

}  // namespace orv::zip::engine
