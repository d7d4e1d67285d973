#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "server/backup_format.h"
#include "test_env.h"

namespace orv::server {
namespace {

// Writes a backup file with `sets` sets of small data files and returns its bytes.
std::string make_backup(const orv::test::TestEnv& env, int sets) {
  std::filesystem::create_directories(env.work());
  auto data = env.work() / "data.bin";
  auto file = env.work() / "b.Dat";
  std::filesystem::remove(file);
  for (int s = 0; s < sets; ++s) {
    orv::test::write_file(data, std::string(300 + s * 17, char('a' + s)));
    int fd = ::open(data.c_str(), O_RDONLY);
    BackupSet h;
    h.server_name = "host";
    h.user_name = "me";
    h.database_name = "db\nwith%odd name " + std::to_string(s);
    parse_date("2026-03-04 05:06:07.089", h.start_date);
    std::vector<BackupSource> files(2);
    files[0].entry = BackupFile{"db", "/srv/db.sqlite", 'D', 300u + s * 17u, 0, 0};
    files[0].fd = fd;
    files[1].entry = BackupFile{"db_log", "/srv/db.sqlite-journal", 'L', 0, 0, 0};
    append_backup_set(file, h, files, false);
    ::close(fd);
  }
  return orv::test::read_file(file);
}

TEST(BackupFormat, SetsReadBackWithTheirHeadersAndData) {
  orv::test::TestEnv env;
  std::string bytes = make_backup(env, 2);
  MemorySource src(bytes.data(), bytes.size());
  auto sets = read_backup_sets(src);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].position, 1);
  EXPECT_EQ(sets[1].position, 2);
  EXPECT_EQ(sets[0].database_name, "db\nwith%odd name 0");
  EXPECT_EQ(format_date(sets[1].start_date), "2026-03-04 05:06:07.089");
  ASSERT_EQ(sets[1].files.size(), 2u);
  EXPECT_EQ(sets[1].files[0].physical_name, "/srv/db.sqlite");
  EXPECT_EQ(sets[1].files[1].type, 'L');
  std::string out;
  copy_backup_file(src, sets[1].files[0], [&](const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); });
  EXPECT_EQ(out, std::string(317, 'b'));
  EXPECT_EQ(sets[0].length + sets[1].length, bytes.size());
}

// Every cut of the file short of a whole set is refused, never read as a shorter backup.
TEST(BackupFormat, EveryTruncationIsRefused) {
  orv::test::TestEnv env;
  std::string bytes = make_backup(env, 2);
  MemorySource whole(bytes.data(), bytes.size());
  std::uint64_t first_end = read_backup_sets(whole)[0].length;
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    MemorySource src(bytes.data(), n);
    if (n == first_end) {
      EXPECT_EQ(read_backup_sets(src).size(), 1u);
      continue;
    }
    EXPECT_THROW(read_backup_sets(src), BackupFormatError) << "length " << n;
  }
}

// Every single flipped byte is caught: by the structure and header checks or by a data checksum.
TEST(BackupFormat, EveryFlippedByteIsDetected) {
  orv::test::TestEnv env;
  std::string bytes = make_backup(env, 1);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::string bad = bytes;
    bad[i] ^= 0x01;
    MemorySource src(bad.data(), bad.size());
    bool caught = false;
    try {
      for (const auto& set : read_backup_sets(src))
        for (const auto& f : set.files) copy_backup_file(src, f, [](const void*, std::size_t) {});
    } catch (const BackupFormatError&) {
      caught = true;
    }
    EXPECT_TRUE(caught) << "byte " << i;
  }
}

TEST(BackupFormat, AppendFailureLeavesTheEarlierSetsIntact) {
  orv::test::TestEnv env;
  std::string bytes = make_backup(env, 1);
  auto file = env.work() / "b.Dat";
  BackupSet h;
  h.database_name = "x";
  std::vector<BackupSource> files(1);
  files[0].entry = BackupFile{"x", "/srv/x", 'D', 1000, 0, 0};
  files[0].fd = ::open("/dev/null", O_RDONLY);  // promises 1000 bytes, gives none
  EXPECT_THROW(append_backup_set(file, h, files, false), BackupFormatError);
  ::close(files[0].fd);
  EXPECT_EQ(orv::test::read_file(file), bytes);
}

TEST(BackupFormat, Dates) {
  dal::DateTime d;
  ASSERT_TRUE(parse_date("2000-01-01 12:00:00.000", d));
  EXPECT_DOUBLE_EQ(d.days, 36526.5);
  EXPECT_EQ(format_date(d), "2000-01-01 12:00:00.000");
  EXPECT_FALSE(parse_date("2000-13-01 12:00:00.000", d));
  EXPECT_FALSE(parse_date("2000-01-01 12:00:00.000x", d));
  EXPECT_FALSE(parse_date("garbage", d));
}

}  // namespace
}  // namespace orv::server
