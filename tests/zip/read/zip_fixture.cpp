#include "zip_fixture.h"

namespace orv::zip::testing {

void Put16(std::string& s, std::uint64_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& s, std::uint64_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, (v >> 16) & 0xFFFF);
}
void Put64(std::string& s, std::uint64_t v) {
  Put32(s, v & 0xFFFFFFFF);
  Put32(s, v >> 32);
}
void Set16(std::string& s, std::size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
void Set32(std::string& s, std::size_t at, std::uint32_t v) {
  Set16(s, at, static_cast<std::uint16_t>(v & 0xFFFF));
  Set16(s, at + 2, static_cast<std::uint16_t>(v >> 16));
}

Fixture BuildZip(const std::vector<FixtureEntry>& entries, const FixtureOptions& options) {
  Fixture f;
  std::string& out = f.bytes;
  out = options.prefix;
  std::vector<std::uint64_t> local_at;
  for (const FixtureEntry& e : entries) {
    local_at.push_back(out.size());
    Put32(out, 0x04034B50);
    Put16(out, 20);
    Put16(out, e.flag);
    Put16(out, 0);
    Put32(out, e.dos_time);
    Put32(out, e.crc);
    Put32(out, e.data.size());
    Put32(out, e.data.size());
    Put16(out, e.name.size());
    Put16(out, 0);
    out += e.name;
    out += e.data;
  }
  f.central_offset = out.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const FixtureEntry& e = entries[i];
    f.central_header_at.push_back(out.size());
    std::string extra = e.extra;
    if (e.zip64_sizes) {
      std::string z;
      Put16(z, 1);
      Put16(z, 16);
      Put64(z, e.zip64_usize);
      Put64(z, e.zip64_csize);
      extra = z + extra;
    }
    Put32(out, 0x02014B50);
    out.push_back(static_cast<char>(e.made_by));
    out.push_back(static_cast<char>(e.host));
    Put16(out, 20);
    Put16(out, e.flag);
    Put16(out, 0);
    Put32(out, e.dos_time);
    Put32(out, e.crc);
    Put32(out, e.zip64_sizes ? 0xFFFFFFFF : e.data.size());
    Put32(out, e.zip64_sizes ? 0xFFFFFFFF : e.data.size());
    Put16(out, e.name.size());
    Put16(out, extra.size());
    Put16(out, e.comment.size());
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, 0);
    Put32(out, local_at[i] - options.prefix.size());  // offsets as the archive alone records them
    out += e.name;
    out += extra;
    out += e.comment;
  }
  f.central_size = out.size() - f.central_offset;
  const std::uint64_t recorded_offset = f.central_offset - options.prefix.size();
  const std::uint64_t total = static_cast<std::uint64_t>(static_cast<std::int64_t>(entries.size()) + options.total_entries_delta);
  if (options.zip64_end) {
    const std::uint64_t z64_at = out.size();
    Put32(out, 0x06064B50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, total);
    Put64(out, total);
    Put64(out, f.central_size);
    Put64(out, recorded_offset);
    Put32(out, 0x07064B50);
    Put32(out, 0);
    Put64(out, z64_at - options.prefix.size());
    Put32(out, 1);
  }
  f.end_position = out.size();
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, options.zip64_end ? 0xFFFF : total);
  Put16(out, options.zip64_end ? 0xFFFF : total);
  Put32(out, options.zip64_end ? 0xFFFFFFFF : f.central_size);
  Put32(out, options.zip64_end ? 0xFFFFFFFF : recorded_offset);
  Put16(out, options.comment.size());
  out += options.comment;
  out += options.trailer;
  return f;
}

}  // namespace orv::zip::testing
