#include "hostile_archive.h"

#include <zlib.h>

#include <stdexcept>

namespace orv::zip::testing {

namespace {

void u16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v));
  s.push_back(static_cast<char>(v >> 8));
}
void u32(std::string& s, uint32_t v) {
  u16(s, static_cast<uint16_t>(v));
  u16(s, static_cast<uint16_t>(v >> 16));
}
void u64(std::string& s, uint64_t v) {
  u32(s, static_cast<uint32_t>(v));
  u32(s, static_cast<uint32_t>(v >> 32));
}
uint32_t clip(uint64_t v) { return v >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v); }

}  // namespace

std::string raw_deflate(const std::string& plain) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, plain.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int r = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

RawEntry make_entry(const std::string& name, const std::string& plain, uint16_t method) {
  RawEntry e;
  e.name = name;
  e.method = method;
  e.data = method == 8 ? raw_deflate(plain) : plain;
  e.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(plain.data()), static_cast<uInt>(plain.size())));
  e.compressed = e.data.size();
  e.uncompressed = plain.size();
  return e;
}

std::string local_record(const RawEntry& e) {
  std::string s;
  u32(s, 0x04034B50);
  u16(s, e.zip64_sizes ? 45 : 20);
  u16(s, e.flags);
  u16(s, e.method);
  u32(s, 0x5A210000);  // 2025-01-01 00:00
  u32(s, e.crc);
  u32(s, clip(e.compressed));
  u32(s, clip(e.uncompressed));
  u16(s, static_cast<uint16_t>(e.name.size()));
  u16(s, 0);
  s += e.name;
  s += e.data;
  return s;
}

std::string archive_bytes(const std::string& body, const std::vector<RawEntry>& entries, bool zip64,
                          const std::string& prefix) {
  std::string cd;
  for (const RawEntry& e : entries) {
    std::string extra;
    if (e.zip64_sizes) {
      u16(extra, 0x0001);
      u16(extra, 16);
      u64(extra, e.uncompressed);
      u64(extra, e.compressed);
    }
    u32(cd, 0x02014B50);
    u16(cd, e.made_by);
    u16(cd, e.zip64_sizes ? 45 : 20);
    u16(cd, e.flags);
    u16(cd, e.method);
    u32(cd, 0x5A210000);
    u32(cd, e.crc);
    u32(cd, e.zip64_sizes ? 0xFFFFFFFFu : clip(e.compressed));
    u32(cd, e.zip64_sizes ? 0xFFFFFFFFu : clip(e.uncompressed));
    u16(cd, static_cast<uint16_t>(e.name.size()));
    u16(cd, static_cast<uint16_t>(extra.size()));
    u16(cd, 0);
    u16(cd, 0);
    u16(cd, 0);
    u32(cd, 0100644u << 16);
    u32(cd, clip(e.local_offset));
    cd += e.name;
    cd += extra;
  }
  std::string out = prefix + body + cd;
  const uint64_t cd_at = body.size(), count = entries.size();
  if (zip64) {
    const uint64_t z64_at = body.size() + cd.size();
    u32(out, 0x06064B50);
    u64(out, 44);
    u16(out, 45);
    u16(out, 45);
    u32(out, 0);
    u32(out, 0);
    u64(out, count);
    u64(out, count);
    u64(out, cd.size());
    u64(out, cd_at);
    u32(out, 0x07064B50);
    u32(out, 0);
    u64(out, z64_at);
    u32(out, 1);
  }
  u32(out, 0x06054B50);
  u16(out, 0);
  u16(out, 0);
  u16(out, zip64 ? 0xFFFF : static_cast<uint16_t>(count));
  u16(out, zip64 ? 0xFFFF : static_cast<uint16_t>(count));
  u32(out, zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(cd.size()));
  u32(out, zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(cd_at));
  u16(out, 0);
  return out;
}

std::string simple_archive(std::vector<RawEntry> entries, bool zip64, const std::string& prefix) {
  std::string body;
  for (RawEntry& e : entries) {
    e.local_offset = body.size();
    body += local_record(e);
  }
  return archive_bytes(body, entries, zip64, prefix);
}

}  // namespace orv::zip::testing
