// The engine's own pieces: where an entry may be written, the chunked deflate stream, the
// central-directory reader on damaged input, and MS-DOS times.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "zip/engine/chunk_deflater.h"
#include "zip/engine/file_io.h"
#include "zip/engine/safe_name.h"
#include "zip/engine/zip_format.h"

namespace orv::zip::engine {
namespace {

TEST(SafeEntryPath, BareNamesNeverLeaveTheFolder) {
  EXPECT_EQ(safe_entry_path("backup.Dat", false), "backup.Dat");
  EXPECT_EQ(safe_entry_path("backups/x.dat", false), "x.dat");
  EXPECT_EQ(safe_entry_path("../../etc/passwd", false), "passwd");
  EXPECT_EQ(safe_entry_path("/etc/cron.d/job", false), "job");
  EXPECT_EQ(safe_entry_path("C:\\Windows\\evil.dll", false), "evil.dll");
  EXPECT_EQ(safe_entry_path("C:evil.dll", false), "evil.dll");
  EXPECT_EQ(safe_entry_path("a\\..\\..\\b.txt", false), "b.txt");
  EXPECT_EQ(safe_entry_path("..", false), "");
  EXPECT_EQ(safe_entry_path("x/..", false), "");
  EXPECT_EQ(safe_entry_path("folder/", false), "");
  EXPECT_EQ(safe_entry_path(std::string("a\0b", 3), false), "");
}

TEST(SafeEntryPath, KeptFoldersDropEveryEscape) {
  EXPECT_EQ(safe_entry_path("../a/./b/c.txt", true), "a/b/c.txt");
  EXPECT_EQ(safe_entry_path("/abs/x.txt", true), "abs/x.txt");
  EXPECT_EQ(safe_entry_path("D:\\data\\..\\..\\x.txt", true), "data/x.txt");
  EXPECT_EQ(safe_entry_path("a/b/..", true), "");
  EXPECT_EQ(clean_stored_name("/home/u/../x.dat"), "home/u/x.dat");
  EXPECT_EQ(clean_stored_name("./"), "");
}

std::vector<uint8_t> inflate_all(const std::vector<uint8_t>& stream, size_t expected) {
  std::vector<uint8_t> out(expected + 16);
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, -15), Z_OK);
  s.next_in = const_cast<uint8_t*>(stream.data());
  s.avail_in = static_cast<uInt>(stream.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  const int r = inflate(&s, Z_FINISH);
  EXPECT_EQ(r, Z_STREAM_END);
  EXPECT_EQ(s.avail_in, 0u) << "bytes after the final block";
  out.resize(static_cast<size_t>(s.total_out));
  inflateEnd(&s);
  return out;
}

// Compresses `data` in chunks, `workers` at a time, as the writer does.
std::vector<uint8_t> deflate_in_chunks(const std::vector<uint8_t>& data, unsigned workers, uint32_t& crc) {
  ChunkDeflater d(6, workers);
  std::vector<DeflateChunk> chunks(workers);
  for (auto& c : chunks) c.input.resize(ChunkDeflater::kChunkSize);
  std::vector<uint8_t> stream;
  size_t at = 0;
  crc = 0;
  do {
    size_t count = 0;
    bool end = false;
    while (count < workers && !end) {
      const size_t n = std::min(ChunkDeflater::kChunkSize, data.size() - at);
      if (n > 0) std::memcpy(chunks[count].input.data(), data.data() + at, n);
      chunks[count].input_size = n;
      at += n;
      ++count;
      end = at == data.size();
    }
    EXPECT_TRUE(d.compress(chunks, count, end));
    for (size_t i = 0; i < count; ++i) {
      stream.insert(stream.end(), chunks[i].output.begin(), chunks[i].output.begin() + chunks[i].output_size);
      crc = static_cast<uint32_t>(crc32_combine(crc, chunks[i].crc, static_cast<z_off_t>(chunks[i].input_size)));
    }
  } while (at < data.size());
  return stream;
}

TEST(ChunkDeflater, ChunksJoinIntoOneStreamForEveryKindOfData) {
  std::mt19937 rng(42);
  std::vector<uint8_t> data;
  // Text-like, random, runs of zeros and a tail that ends mid-chunk: every block type and a
  // final block that ends at any bit position.
  for (int i = 0; data.size() < 6u << 20; ++i) {
    const std::string line = "row " + std::to_string(i) + "|customer " + std::to_string(rng() % 5000) + "|2024-01-0" +
                             std::to_string(rng() % 9 + 1) + "|" + std::to_string(rng() % 100000) + "\n";
    data.insert(data.end(), line.begin(), line.end());
  }
  for (int i = 0; i < (3 << 20); ++i) data.push_back(static_cast<uint8_t>(rng()));
  data.insert(data.end(), 5u << 20, 0);
  data.resize(data.size() + 12345, 7);
  for (unsigned workers : {1u, 2u}) {
    uint32_t crc = 0;
    const std::vector<uint8_t> stream = deflate_in_chunks(data, workers, crc);
    EXPECT_EQ(inflate_all(stream, data.size()), data) << workers << " workers";
    EXPECT_EQ(crc, crc32(0, data.data(), static_cast<uInt>(data.size())));
  }
}

TEST(ChunkDeflater, ChunkOfOneByteAndEmptyInput) {
  for (size_t size : {size_t{0}, size_t{1}, ChunkDeflater::kChunkSize, ChunkDeflater::kChunkSize + 1}) {
    std::vector<uint8_t> data(size, 'a');
    uint32_t crc = 0;
    const std::vector<uint8_t> stream = deflate_in_chunks(data, 2, crc);
    EXPECT_EQ(inflate_all(stream, data.size()), data) << size;
  }
}

class MemorySource : public ArchiveSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() const override { return bytes_.size(); }
  void read_at(uint64_t offset, void* buffer, size_t length) const override {
    if (offset > bytes_.size() || bytes_.size() - offset < length) throw FormatError("read past the end");
    std::memcpy(buffer, bytes_.data() + offset, length);
  }
  std::vector<uint8_t> bytes_;
};

// A one-entry stored archive "a.txt" holding "hello", with an optional Zip64 extra field.
std::vector<uint8_t> tiny_archive(bool zip64_offset) {
  ByteWriter w;
  const std::string name = "a.txt", data = "hello";
  const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), 5));
  w.u32(kLocalSig); w.u16(10); w.u16(0); w.u16(0); w.u32(0x58210000); w.u32(crc); w.u32(5); w.u32(5);
  w.u16(5); w.u16(0); w.raw(name); w.raw(data);
  const uint64_t cd = w.bytes().size();
  w.u32(kCentralSig); w.u16(0x031E); w.u16(zip64_offset ? 45 : 10); w.u16(0); w.u16(0); w.u32(0x58210000);
  w.u32(crc); w.u32(5); w.u32(5); w.u16(5); w.u16(zip64_offset ? 12 : 0); w.u16(0); w.u16(0); w.u16(0); w.u32(0);
  w.u32(zip64_offset ? kMax32 : 0); w.raw(name);
  if (zip64_offset) { w.u16(kZip64ExtraId); w.u16(8); w.u64(0); }
  const uint64_t cd_size = w.bytes().size() - cd;
  w.u32(kEndSig); w.u16(0); w.u16(0); w.u16(1); w.u16(1); w.u32(static_cast<uint32_t>(cd_size));
  w.u32(static_cast<uint32_t>(cd)); w.u16(0);
  return w.bytes();
}

TEST(CentralDirectory, ReadsEntriesAndZip64Offsets) {
  for (bool z64 : {false, true}) {
    MemorySource src(tiny_archive(z64));
    const CentralDirectory dir = read_central_directory(src);
    ASSERT_EQ(dir.entries.size(), 1u);
    EXPECT_EQ(dir.entries[0].name, "a.txt");
    EXPECT_EQ(dir.entries[0].uncompressed_size, 5u);
    EXPECT_EQ(dir.entries[0].local_offset, 0u);
    EXPECT_EQ(local_data_offset(src, dir.entries[0]), 35u);
  }
}

TEST(CentralDirectory, DamagedDirectoriesAreFormatErrors) {
  const std::vector<uint8_t> good = tiny_archive(false);
  const size_t cd = 30 + 5 + 5;
  auto expect_error = [](std::vector<uint8_t> bytes, const char* what) {
    MemorySource src(std::move(bytes));
    EXPECT_THROW((void)read_central_directory(src), FormatError) << what;
  };
  expect_error({}, "empty file");
  expect_error(std::vector<uint8_t>(good.begin(), good.end() - 1), "end record cut");
  std::vector<uint8_t> b = good;
  b[cd] = 'X';
  expect_error(b, "central signature");
  b = good;
  b[good.size() - 22 + 10] = 9;  // 9 entries claimed
  b[good.size() - 22 + 8] = 9;
  expect_error(b, "entry count");
  b = good;
  b[good.size() - 22 + 12] = 0xF0;  // central directory larger than the file
  expect_error(b, "directory size");
  b = good;
  b[cd + 42] = 0x40;  // local header offset beyond the directory
  expect_error(b, "local offset");
  b = good;
  b[cd + 20] = 0xFF;  // compressed size beyond the data
  b[cd + 21] = 0xFF;
  expect_error(b, "compressed size");
  // A truncated Zip64 field names the entry.
  b = tiny_archive(true);
  b[cd + 30] = 4;  // extra length 4: the Zip64 field has no room for its offset
  b[cd + 46 + 5 + 2] = 0;
  expect_error(b, "zip64 field");
}

TEST(DosTime, RoundTripsLocalTimeAndClampsOldDates) {
  std::tm tm{};
  tm.tm_year = 124;
  tm.tm_mon = 1;
  tm.tm_mday = 29;
  tm.tm_hour = 23;
  tm.tm_min = 59;
  tm.tm_sec = 58;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  EXPECT_EQ(unix_time_from_dos(dos_time_from_unix(t)), t);
  EXPECT_EQ(dos_time_from_unix(0), 0x00210000u);  // 1970 -> 1980-01-01 00:00
}

// Where the file system has no unnamed files, the temporary file has a name: held while its
// writer lives, removed by the next sweep once the writer is gone without cleaning up.
TEST(TempFile, NamedFileIsHeldWhileItsWriterLivesAndSweptAfter) {
  char folder_template[] = "/tmp/orv-tempfile-XXXXXX";
  ASSERT_NE(::mkdtemp(folder_template), nullptr);
  const std::filesystem::path folder = folder_template;
  const std::string final_path = (folder / "a.zip").string();
  {
    TempFile t(final_path, 0640, false);
    ASSERT_FALSE(t.anonymous());
    ASSERT_EQ(t.temp_path().rfind(final_path + ".ze-", 0), 0u) << t.temp_path();
    EXPECT_TRUE(std::filesystem::exists(t.temp_path()));
    EXPECT_EQ(sweep_orphans(final_path), 0) << "a live writer's file stays";
    t.file().write_all("data", 4);
    t.publish();
    EXPECT_FALSE(std::filesystem::exists(t.temp_path()));
  }
  EXPECT_EQ(std::filesystem::status(final_path).permissions(), std::filesystem::perms(0640));
  // A writer that dies without cleaning up.
  const pid_t pid = ::fork();
  if (pid == 0) {
    auto* t = new TempFile(final_path, 0644, false);  // never destroyed
    ::_exit(t->temp_path().empty() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 2);
  EXPECT_EQ(sweep_orphans(final_path), 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);

  // An unnamed one leaves nothing behind at all, published or not.
  {
    TempFile t(final_path, 0644);
    if (t.anonymous()) {
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
    }
    t.file().write_all("new", 3);
  }
  std::ifstream in(final_path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "data") << "an unpublished file never replaces the final one";
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace orv::zip::engine
