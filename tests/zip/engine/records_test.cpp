// The named record layouts read what another writer (Python's zipfile) wrote: every field of
// its end record and central headers as Python reports it.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "zip/records/zip_records.h"
#include "zip_test_support.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;
using orv::test::have_program;
using orv::test::read_file;
using orv::test::run_command;
using orv::test::shell_quote;
using orv::test::TestEnv;

TEST(ZipRecords, LayoutsReadTheFieldsPythonWrote) {
  if (!have_program("python3")) GTEST_SKIP() << "python3 is not installed";
  TestEnv env;
  const fs::path archive = env.work() / "py.zip";
  const std::string script =
      "import sys,zipfile\n"
      "z=zipfile.ZipFile(sys.argv[1],'w')\n"
      "i=zipfile.ZipInfo('deflated.txt',(2021,6,15,14,33,20)); i.compress_type=zipfile.ZIP_DEFLATED\n"
      "i.comment=b'a comment'; i.external_attr=0o100640<<16; i.extra=b'\\x99\\x99\\x02\\x00ab'\n"
      "z.writestr(i, b'hello '*1000)\n"
      "z.writestr('dir/stored.bin', bytes(range(256))*3)\n"
      "z.writestr('ünïcode.txt', b'x')\n"
      "z.comment=b'archive comment'\n"
      "z.close()\n"
      "z=zipfile.ZipFile(sys.argv[1])\n"
      "print(z.start_dir, len(z.infolist()))\n"
      "for i in z.infolist(): print(i.header_offset, i.flag_bits, i.compress_type, i.CRC, i.compress_size, i.file_size,\n"
      "  i.create_system, i.create_version, i.extract_version, i.external_attr, len(i.extra), len(i.comment),\n"
      "  len(i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')), i.date_time[0])\n";
  const auto r = run_command("python3 -c " + shell_quote(script) + " " + shell_quote(archive.string()));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string bytes = read_file(archive);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());

  namespace er = records::end_record;
  const std::string comment = "archive comment";
  ASSERT_GT(bytes.size(), er::kSize + comment.size());
  const std::uint8_t* end = data + bytes.size() - er::kSize - comment.size();
  ASSERT_EQ(records::get<er::Signature>(end), er::kSignature);
  EXPECT_EQ(records::get<er::CommentLength>(end), comment.size());
  std::istringstream in(r.output);
  std::uint64_t start_dir = 0;
  std::size_t count = 0;
  in >> start_dir >> count;
  EXPECT_EQ(records::get<er::CentralOffset>(end), start_dir);
  EXPECT_EQ(records::get<er::TotalEntries>(end), count);
  EXPECT_EQ(records::get<er::EntriesThisDisk>(end), count);
  EXPECT_EQ(records::get<er::CentralOffset>(end) + records::get<er::CentralSize>(end),
            bytes.size() - er::kSize - comment.size());

  std::size_t at = start_dir;
  for (std::size_t n = 0; n < count; ++n) {
    SCOPED_TRACE("entry " + std::to_string(n));
    std::uint64_t offset, flags, method, crc, csize, usize, system, made, needed, attr, extra, note, name, year;
    in >> offset >> flags >> method >> crc >> csize >> usize >> system >> made >> needed >> attr >> extra >> note >> name >>
        year;
    ASSERT_TRUE(in) << r.output;
    records::CentralHeader h;
    ASSERT_LE(at + records::central_header::kSize, bytes.size());
    ASSERT_TRUE(records::ParseCentralHeader(data + at, h));
    EXPECT_EQ(h.local_offset, offset);
    EXPECT_EQ(h.flags, flags);
    EXPECT_EQ(h.method, method);
    EXPECT_EQ(h.crc, crc);
    EXPECT_EQ(h.compressed_size, csize);
    EXPECT_EQ(h.uncompressed_size, usize);
    EXPECT_EQ(h.made_by >> 8, system);
    EXPECT_EQ(h.made_by & 0xFF, made);
    EXPECT_EQ(h.version_needed, needed);
    EXPECT_EQ(h.external_attr, attr);
    EXPECT_EQ(h.extra_length, extra);
    EXPECT_EQ(h.comment_length, note);
    EXPECT_EQ(h.name_length, name);
    EXPECT_EQ(1980 + (h.dos_time >> 25), year);
    EXPECT_EQ(h.disk_start, 0);
    // The local header it points at agrees on what both hold.
    namespace lh = records::local_header;
    const std::uint8_t* local = data + h.local_offset;
    EXPECT_EQ(records::get<lh::Signature>(local), lh::kSignature);
    EXPECT_EQ(records::get<lh::Method>(local), h.method);
    EXPECT_EQ(records::get<lh::Crc>(local), h.crc);
    EXPECT_EQ(records::get<lh::NameLength>(local), h.name_length);
    EXPECT_EQ(records::get<lh::DosTime>(local), h.dos_time);
    at += h.total_size();
  }
  EXPECT_EQ(at, start_dir + records::get<er::CentralSize>(end));
  // A header is recognised by its signature only.
  std::string damaged = bytes;
  damaged[start_dir] = 'Q';
  records::CentralHeader h;
  EXPECT_FALSE(records::ParseCentralHeader(reinterpret_cast<const std::uint8_t*>(damaged.data()) + start_dir, h));
}

}  // namespace
}  // namespace orv::zip
