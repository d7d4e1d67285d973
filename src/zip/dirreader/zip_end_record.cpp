// Finding the end record: the last 22 bytes first, then one backward search over the last
// 65,557 bytes; a Zip64 locator right before the record leads to the Zip64 end record.
#include "zip/dirreader/zip_end_record.h"

#include <algorithm>
#include <vector>

namespace orv::zip::detail {

bool ReadFully(ZipSource& source, std::uint64_t offset, std::uint8_t* out, std::size_t count,
               std::size_t& got, std::string* error) {
  got = 0;
  while (got < count) {
    ZipReadResult r = source.ReadAt(offset + got, std::span<std::uint8_t>(out + got, count - got));
    if (!r.ok) {
      if (error) *error = r.error;
      return false;
    }
    if (r.count == 0) break;
    got += r.count;
  }
  return true;
}

namespace {

void TakeRecord(EndRecord& end, const std::uint8_t* rec) {
  namespace er = records::end_record;
  using records::get;
  end.this_disk = get<er::ThisDisk>(rec);
  end.central_disk = get<er::CentralDisk>(rec);
  end.entries_this_disk = get<er::EntriesThisDisk>(rec);
  end.total_entries = get<er::TotalEntries>(rec);
  end.central_size = get<er::CentralSize>(rec);
  end.central_offset = get<er::CentralOffset>(rec);
}

// Zip64: the locator lies right before the end record and names the Zip64 end record. Archives
// with data in front of them (shifted) have it right before the locator instead.
void ReadZip64(ZipSource& source, EndRecord& end) {
  namespace loc = records::zip64_locator;
  namespace z64e = records::zip64_end_record;
  using records::get;
  if (end.position < loc::kSize) return;
  std::uint8_t l[loc::kSize];
  std::size_t got = 0;
  if (!ReadFully(source, end.position - loc::kSize, l, sizeof l, got, &end.read_error)) {
    end.status = EndStatus::ReadError;
    return;
  }
  if (got != sizeof l || get<loc::Signature>(l) != loc::kSignature) return;
  const std::uint64_t recorded = get<loc::Zip64EndOffset>(l);
  std::uint8_t rec[z64e::kSize];
  std::uint64_t at = recorded;
  bool found = false;
  for (int attempt = 0; attempt < 2 && !found; ++attempt) {
    if (attempt == 1) {
      if (end.position < loc::kSize + sizeof rec) break;
      at = end.position - loc::kSize - sizeof rec;
      if (at == recorded) break;
    }
    if (at > end.position) continue;
    if (!ReadFully(source, at, rec, sizeof rec, got, &end.read_error)) {
      end.status = EndStatus::ReadError;
      return;
    }
    found = got == sizeof rec && get<z64e::Signature>(rec) == z64e::kSignature;
  }
  if (!found) {
    // A locator without its record: only fatal when the end record needs the Zip64 values.
    if (end.total_entries == 0xFFFF || end.central_size == 0xFFFFFFFF || end.central_offset == 0xFFFFFFFF ||
        end.this_disk == 0xFFFF || end.central_disk == 0xFFFF)
      end.status = EndStatus::BadZip64;
    return;
  }
  end.zip64 = true;
  end.zip64_position = at;
  // The Zip64 values stand where the end record holds its "too large" marks.
  if (end.this_disk == 0xFFFF) end.this_disk = get<z64e::ThisDisk>(rec);
  if (end.central_disk == 0xFFFF) end.central_disk = get<z64e::CentralDisk>(rec);
  if (end.entries_this_disk == 0xFFFF) end.entries_this_disk = get<z64e::EntriesThisDisk>(rec);
  if (end.total_entries == 0xFFFF) end.total_entries = get<z64e::TotalEntries>(rec);
  if (end.central_size == 0xFFFFFFFF) end.central_size = get<z64e::CentralSize>(rec);
  if (end.central_offset == 0xFFFFFFFF) end.central_offset = get<z64e::CentralOffset>(rec);
}

}  // namespace

EndRecord FindEndRecord(ZipSource& source) {
  EndRecord end;
  const std::uint64_t size = source.Size();
  if (size >= kEndRecordSize) {
    std::uint8_t tail[kEndRecordSize];
    std::size_t got = 0;
    if (!ReadFully(source, size - kEndRecordSize, tail, kEndRecordSize, got, &end.read_error)) {
      end.status = EndStatus::ReadError;
      return end;
    }
    if (got == kEndRecordSize && records::get<records::end_record::Signature>(tail) == kEndSignature) {
      end.status = EndStatus::Found;
      end.position = size - kEndRecordSize;
      end.logical_size = size;
      TakeRecord(end, tail);
    }
  }
  if (end.status != EndStatus::Found) {
    const std::size_t block_size = static_cast<std::size_t>(std::min<std::uint64_t>(size, kMaxEndSearch));
    std::vector<std::uint8_t> block(block_size);
    std::size_t got = 0;
    const std::uint64_t block_at = size - block_size;
    if (!ReadFully(source, block_at, block.data(), block_size, got, &end.read_error)) {
      end.status = EndStatus::ReadError;
      return end;
    }
    block.resize(got);
    // Backwards from 23 bytes before the end: the record right at the end was probed above.
    // A candidate whose comment would run past the data is a chance match inside other data.
    for (std::size_t i = block.size() >= 23 ? block.size() - 23 + 1 : 0; i-- > 0;) {
      if (records::get<records::end_record::Signature>(&block[i]) != kEndSignature) continue;
      const std::size_t comment_len = records::get<records::end_record::CommentLength>(&block[i]);
      if (comment_len > block.size() - i - kEndRecordSize) continue;
      end.status = EndStatus::Found;
      end.position = block_at + i;
      end.logical_size = end.position + kEndRecordSize + comment_len;
      TakeRecord(end, &block[i]);
      end.comment.assign(reinterpret_cast<const char*>(&block[i + kEndRecordSize]), comment_len);
      const std::size_t rest_at = i + kEndRecordSize + comment_len;
      const std::size_t rest = block.size() - rest_at;
      if (rest > 0) {
        const bool padding = rest < 512 && std::all_of(block.begin() + static_cast<std::ptrdiff_t>(rest_at),
                                                       block.end(), [](std::uint8_t b) { return b < 0x2F; });
        end.garbage = !padding;
      }
      break;
    }
  }
  if (end.status != EndStatus::Found) return end;
  ReadZip64(source, end);
  return end;
}

}  // namespace orv::zip::detail
