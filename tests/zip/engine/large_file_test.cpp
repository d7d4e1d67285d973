// A backup over 4 GiB (a sparse file with data at both ends) packs into a Zip64 archive that
// unzip accepts, and extracts byte-identically. Slow: label "large".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "zip_test_support.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;
using orv::test::run_command;
using orv::test::shell_quote;
using orv::test::TestEnv;

constexpr uint64_t kSize = (uint64_t{4} << 30) + (uint64_t{3} << 20) + 17;

void write_at(const fs::path& path, uint64_t offset, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

std::string read_at(const fs::path& path, uint64_t offset, size_t n) {
  std::string out(n, '\0');
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::pread(fd, out.data(), n, static_cast<off_t>(offset)), static_cast<ssize_t>(n));
  ::close(fd);
  return out;
}

TEST(LargeFile, OverFourGiBPacksAndExtracts) {
  TestEnv env;
  const fs::path w = env.work();
  const fs::path source = w / "Huge.Dat";
  const std::string head = testing::database_like_bytes(1 << 20, 11), tail = testing::database_like_bytes(4096, 12);
  write_at(source, 0, head);
  write_at(source, kSize - tail.size(), tail);
  ASSERT_EQ(fs::file_size(source), kSize);

  testing::ArchiverFixture f;
  f.zip.SetZipFileName((w / "Huge.zip").string());
  f.zip.FSpecArgs = {source.string()};
  ASSERT_EQ(f.zip.Add(), 1) << f.texts();
  ASSERT_EQ(f.zip.Count(), 1);
  EXPECT_EQ(f.zip.Entries()[0].UncomprSize, kSize);
  EXPECT_GE(f.zip.Entries()[0].VersionNeeded, 45);

  if (orv::test::have_program("unzip")) {
    const auto r = run_command("unzip -l " + shell_quote((w / "Huge.zip").string()));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find(std::to_string(kSize)), std::string::npos) << r.output;
  }
  if (orv::test::have_program("python3")) {
    const auto r = run_command("python3 -c " +
                               shell_quote("import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\ni=z.infolist()[0]\n"
                                           "print(i.file_size, i.compress_size < 2**32)\n") +
                               " " + shell_quote((w / "Huge.zip").string()));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find(std::to_string(kSize) + " True"), std::string::npos) << r.output;
  }

  fs::remove(source);  // room for the extracted copy
  fs::create_directories(w / "out");
  f.zip.ExtrBaseDir = (w / "out").string();
  ASSERT_EQ(f.zip.Extract(), 1) << f.texts();
  const fs::path out = w / "out" / "Huge.Dat";
  ASSERT_EQ(fs::file_size(out), kSize);
  EXPECT_EQ(read_at(out, 0, head.size()), head);
  EXPECT_EQ(read_at(out, kSize - tail.size(), tail.size()), tail);
  EXPECT_EQ(read_at(out, uint64_t{4} << 30, 64), std::string(64, '\0'));
}

}  // namespace
}  // namespace orv::zip
