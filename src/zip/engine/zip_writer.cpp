#include "zip/engine/zip_writer.h"

#include "zip/engine/chunk_table.h"
#include "zip/records/zip_text.h"

#include "platform/file_write.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace orv::zip::engine {

namespace {

constexpr uint16_t kMadeByUnix = (3 << 8) | 30;
// A local header carries Zip64 sizes when the file may reach 4 GiB once compressed; deflate
// of incompressible data grows by well under 1/64.
constexpr uint64_t kZip64LocalThreshold = kMax32 - (kMax32 >> 6);

bool non_ascii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return true;
  return false;
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: some file systems refuse fsync on folders
  ::close(fd);
}

std::string time_extra(int64_t mtime) {
  ByteWriter w;
  w.u16(kTimeExtraId);
  w.u16(5);
  w.u8(1);
  w.u32(static_cast<uint32_t>(mtime));
  return std::string(w.bytes().begin(), w.bytes().end());
}

// Replaces or drops the Zip64 field of an extra block (other fields are kept).
std::string without_zip64(const std::string& extra) {
  std::string out;
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + at);
    const size_t len = orv::bytes::load_le16(p + 2);
    if (at + 4 + len > extra.size()) break;
    if (orv::bytes::load_le16(p) != kZip64ExtraId) out.append(extra, at, 4 + len);
    at += 4 + len;
  }
  return out;
}

}  // namespace

namespace {

unsigned archive_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;  // an archive gets the usual mode
}

}  // namespace

ZipWriter::ZipWriter(const std::string& final_path, Session& session, int zip_level)
    : final_path_(final_path),
      temp_((sweep_orphans(final_path), final_path), archive_mode()),
      out_(temp_.file()),
      session_(session),
      zip_level_(zip_level) {}

ZipWriter::~ZipWriter() = default;

void ZipWriter::write(const void* data, size_t n) {
  out_.write_all(data, n);
  offset_ += n;
  session_.set_written(static_cast<int64_t>(offset_));
}

void ZipWriter::write_local_header(const CentralEntry& e, bool zip64_sizes) {
  namespace lh = records::local_header;
  using records::put;
  std::string extra = without_zip64(e.extra);
  if (zip64_sizes) {
    ByteWriter z;
    z.u16(kZip64ExtraId);
    z.u16(16);
    z.u64(e.uncompressed_size);
    z.u64(e.compressed_size);
    extra = std::string(z.bytes().begin(), z.bytes().end()) + extra;
  }
  uint8_t h[lh::kSize];
  put<lh::Signature>(h, lh::kSignature);
  put<lh::VersionNeeded>(h, e.version_needed);
  put<lh::Flags>(h, e.flags);
  put<lh::Method>(h, e.method);
  put<lh::DosTime>(h, e.dos_time);
  put<lh::Crc>(h, e.crc);
  put<lh::CompressedSize>(h, zip64_sizes ? kMax32 : static_cast<uint32_t>(e.compressed_size));
  put<lh::UncompressedSize>(h, zip64_sizes ? kMax32 : static_cast<uint32_t>(e.uncompressed_size));
  put<lh::NameLength>(h, static_cast<uint16_t>(e.name.size()));
  put<lh::ExtraLength>(h, static_cast<uint16_t>(extra.size()));
  ByteWriter w;
  w.raw(h, sizeof h);
  w.raw(e.name);
  w.raw(extra);
  write(w.bytes().data(), w.bytes().size());
}

void ZipWriter::copy_entry(const ArchiveSource& from, const CentralEntry& src) {
  CentralEntry e = src;
  e.flags &= static_cast<uint16_t>(~0x0008u);  // sizes are known: no data descriptor
  e.extra = without_zip64(e.extra);
  const uint64_t data = local_data_offset(from, src);
  const bool zip64 = e.compressed_size >= kMax32 || e.uncompressed_size >= kMax32;
  e.local_offset = offset_;
  if (zip64 && e.version_needed < 45) e.version_needed = 45;
  if (e.is_encrypted() && (src.flags & 0x0008)) e.flags |= 0x0008;  // keeps the check byte's meaning
  write_local_header(e, zip64);
  std::vector<uint8_t> buf(1 << 20);
  uint64_t left = e.compressed_size, at = data;
  while (left > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, buf.size()));
    from.read_at(at, buf.data(), n);
    write(buf.data(), n);
    at += n;
    left -= n;
  }
  if (e.flags & 0x0008) {
    ByteWriter d;
    d.u32(kDescriptorSig);
    d.u32(e.crc);
    if (zip64) {
      d.u64(e.compressed_size);
      d.u64(e.uncompressed_size);
    } else {
      d.u32(static_cast<uint32_t>(e.compressed_size));
      d.u32(static_cast<uint32_t>(e.uncompressed_size));
    }
    write(d.bytes().data(), d.bytes().size());
  }
  central_.push_back(std::move(e));
}

void ZipWriter::add_file(const NewEntry& ne) {
  File in(ne.source, O_RDONLY);
  const uint64_t size = ne.size;
  CentralEntry e;
  e.name = ne.name;
  e.made_by = kMadeByUnix;
  // Flagged UTF-8 only when it is: a Linux name can hold any bytes, and a false flag makes
  // readers refuse the archive. Other names go unflagged, as Info-ZIP stores them.
  e.flags = non_ascii(ne.name) && records::IsValidUtf8(ne.name) ? 0x0800 : 0;
  e.method = (ne.store || size == 0 || zip_level_ == 0) ? 0 : 8;
  e.dos_time = dos_time_from_unix(static_cast<std::time_t>(ne.mtime));
  e.external_attr = (ne.mode & 0xFFFFu) << 16;
  e.uncompressed_size = size;
  e.extra = time_extra(ne.mtime);
  const bool zip64 = size >= kZip64LocalThreshold;
  e.version_needed = zip64 ? 45 : (e.method == 8 ? 20 : 10);
  e.local_offset = offset_;

  session_.new_file(ne.name, static_cast<int64_t>(size));
  const uint64_t header_at = offset_;
  write_local_header(e, zip64);
  const uint64_t data_at = offset_;

  const unsigned workers = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
  if (e.method == 8 && !deflater_) deflater_ = std::make_unique<ChunkDeflater>(libdeflate_level_for(zip_level_), workers);
  const size_t batch = e.method == 8 ? deflater_->workers() : 1;
  if (chunks_.size() < batch) chunks_.resize(batch);
  for (auto& c : chunks_)
    if (c.input.size() < ChunkDeflater::kChunkSize) c.input.resize(ChunkDeflater::kChunkSize);

  uint32_t crc = 0;
  uint64_t done = 0;
  ChunkTable table;
  table.chunk_size = static_cast<uint32_t>(ChunkDeflater::kChunkSize);
  while (done < size) {
    size_t count = 0;
    bool at_end = false;
    while (count < batch && !at_end) {
      DeflateChunk& c = chunks_[count];
      const size_t want = static_cast<size_t>(std::min<uint64_t>(ChunkDeflater::kChunkSize, size - done));
      c.input_size = in.read_full(c.input.data(), want);
      if (c.input_size != want)
        throw EngineError(ZE_IO_ERROR, ZE_MSG_IO, "File " + ne.source + " became shorter while it was packed");
      done += want;
      ++count;
      at_end = done == size;
    }
    if (e.method == 8) {
      if (!deflater_->compress(chunks_, count, at_end))
        for (size_t i = 0; i < count; ++i)
          if (!chunks_[i].error.empty()) throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, chunks_[i].error + " (" + ne.source + ")");
    }
    for (size_t i = 0; i < count; ++i) {
      DeflateChunk& c = chunks_[i];
      if (e.method == 8) {
        crc = static_cast<uint32_t>(crc32_combine64(crc, c.crc, static_cast<z_off64_t>(c.input_size)));
        write(c.output.data(), c.output_size);
        table.compressed.push_back(static_cast<uint32_t>(c.output_size));
      } else {
        crc = static_cast<uint32_t>(libdeflate_crc32(crc, c.input.data(), c.input_size));
        write(c.input.data(), c.input_size);
      }
      session_.progress(static_cast<int64_t>(c.input_size));
    }
  }
  uint8_t probe;
  if (in.read_some(&probe, 1) != 0)
    throw EngineError(ZE_IO_ERROR, ZE_MSG_IO, "File " + ne.source + " grew while it was packed");
  if (e.method == 8 && size == 0) {
    const uint8_t empty[2] = {0x03, 0x00};
    write(empty, sizeof empty);
  }
  e.crc = crc;
  e.compressed_size = offset_ - data_at;
  // The chunk table goes into the central directory only (the local header is written already).
  if (e.method == 8 && size > 0) e.extra += encode_chunk_table(table);
  if (!zip64 && e.compressed_size >= kMax32)
    throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, "Compressed data of " + ne.source + " outgrew 4 GiB");
  // Patch CRC and sizes into the local header: its fields from Crc to UncompressedSize, and
  // the values of the Zip64 field that opens its extra field.
  namespace lh = records::local_header;
  static_assert(lh::CompressedSize::offset == lh::Crc::offset + 4 && lh::UncompressedSize::offset == lh::Crc::offset + 8);
  uint8_t patch[lh::UncompressedSize::offset + 4];
  records::put<lh::Crc>(patch, e.crc);
  records::put<lh::CompressedSize>(patch, zip64 ? kMax32 : static_cast<uint32_t>(e.compressed_size));
  records::put<lh::UncompressedSize>(patch, zip64 ? kMax32 : static_cast<uint32_t>(e.uncompressed_size));
  out_.write_at(header_at + lh::Crc::offset, patch + lh::Crc::offset, sizeof patch - lh::Crc::offset);
  if (zip64) {
    ByteWriter sizes;
    sizes.u64(e.uncompressed_size);
    sizes.u64(e.compressed_size);
    out_.write_at(header_at + lh::kSize + e.name.size() + records::extra::kHeaderSize, sizes.bytes().data(),
                  sizes.bytes().size());
  }
  central_.push_back(std::move(e));
}

void ZipWriter::commit(const std::string& comment) {
  const uint64_t cd_start = offset_;
  for (const CentralEntry& e : central_) {
    const bool big_u = e.uncompressed_size >= kMax32, big_c = e.compressed_size >= kMax32,
               big_o = e.local_offset >= kMax32;
    std::string extra = without_zip64(e.extra);
    if (big_u || big_c || big_o) {
      ByteWriter z;
      z.u16(kZip64ExtraId);
      z.u16(static_cast<uint16_t>(8 * (big_u + big_c + big_o)));
      if (big_u) z.u64(e.uncompressed_size);
      if (big_c) z.u64(e.compressed_size);
      if (big_o) z.u64(e.local_offset);
      extra = std::string(z.bytes().begin(), z.bytes().end()) + extra;
    }
    uint16_t needed = e.version_needed;
    if ((big_u || big_c || big_o) && needed < 45) needed = 45;
    namespace ch = records::central_header;
    using records::put;
    uint8_t h[ch::kSize];
    put<ch::Signature>(h, ch::kSignature);
    put<ch::MadeBy>(h, e.made_by);
    put<ch::VersionNeeded>(h, needed);
    put<ch::Flags>(h, e.flags);
    put<ch::Method>(h, e.method);
    put<ch::DosTime>(h, e.dos_time);
    put<ch::Crc>(h, e.crc);
    put<ch::CompressedSize>(h, big_c ? kMax32 : static_cast<uint32_t>(e.compressed_size));
    put<ch::UncompressedSize>(h, big_u ? kMax32 : static_cast<uint32_t>(e.uncompressed_size));
    put<ch::NameLength>(h, static_cast<uint16_t>(e.name.size()));
    put<ch::ExtraLength>(h, static_cast<uint16_t>(extra.size()));
    put<ch::CommentLength>(h, 0);
    put<ch::DiskStart>(h, 0);
    put<ch::InternalAttr>(h, e.internal_attr);
    put<ch::ExternalAttr>(h, e.external_attr);
    put<ch::LocalOffset>(h, big_o ? kMax32 : static_cast<uint32_t>(e.local_offset));
    ByteWriter w;
    w.raw(h, sizeof h);
    w.raw(e.name);
    w.raw(extra);
    write(w.bytes().data(), w.bytes().size());
  }
  const uint64_t cd_size = offset_ - cd_start;
  const uint64_t count = central_.size();
  const bool zip64 = count >= kMax16 || cd_size >= kMax32 || cd_start >= kMax32;
  using records::put;
  ByteWriter w;
  if (zip64) {
    namespace z64e = records::zip64_end_record;
    namespace loc = records::zip64_locator;
    const uint64_t z64_at = offset_;
    uint8_t r[z64e::kSize];
    put<z64e::Signature>(r, z64e::kSignature);
    put<z64e::RecordSize>(r, z64e::kSize - 12);
    put<z64e::MadeBy>(r, kMadeByUnix);
    put<z64e::VersionNeeded>(r, 45);
    put<z64e::ThisDisk>(r, 0);
    put<z64e::CentralDisk>(r, 0);
    put<z64e::EntriesThisDisk>(r, count);
    put<z64e::TotalEntries>(r, count);
    put<z64e::CentralSize>(r, cd_size);
    put<z64e::CentralOffset>(r, cd_start);
    w.raw(r, sizeof r);
    uint8_t l[loc::kSize];
    put<loc::Signature>(l, loc::kSignature);
    put<loc::Zip64EndDisk>(l, 0);
    put<loc::Zip64EndOffset>(l, z64_at);
    put<loc::TotalDisks>(l, 1);
    w.raw(l, sizeof l);
  }
  namespace er = records::end_record;
  const std::string text = comment.substr(0, kMax16);
  uint8_t r[er::kSize];
  put<er::Signature>(r, er::kSignature);
  put<er::ThisDisk>(r, 0);
  put<er::CentralDisk>(r, 0);
  put<er::EntriesThisDisk>(r, static_cast<uint16_t>(std::min<uint64_t>(count, kMax16)));
  put<er::TotalEntries>(r, static_cast<uint16_t>(std::min<uint64_t>(count, kMax16)));
  put<er::CentralSize>(r, static_cast<uint32_t>(std::min<uint64_t>(cd_size, kMax32)));
  put<er::CentralOffset>(r, static_cast<uint32_t>(std::min<uint64_t>(cd_start, kMax32)));
  put<er::CommentLength>(r, static_cast<uint16_t>(text.size()));
  w.raw(r, sizeof r);
  w.raw(text);
  write(w.bytes().data(), w.bytes().size());
  out_.sync();
  temp_.publish();
  sync_folder(folder_of(final_path_));
}

}  // namespace orv::zip::engine
