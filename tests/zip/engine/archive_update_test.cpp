// Adding to an existing archive, replacing an entry, existing target files on extract, and a
// damaged deflated entry of our own format.
#include <gtest/gtest.h>

#include <filesystem>

#include "zip/messages/message_ids.h"
#include "zip_test_support.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;
using orv::test::read_file;
using orv::test::TestEnv;
using orv::test::write_file;
using testing::ArchiverFixture;

TEST(ArchiveUpdate, AddKeepsOtherEntriesAndReplacesTheSameName) {
  TestEnv env;
  ArchiverFixture f;
  const fs::path w = env.work();
  write_file(w / "a.Dat", testing::database_like_bytes(5 << 20, 1));
  write_file(w / "b.Dat", "bbb");
  f.zip.SetZipFileName((w / "x.zip").string());
  f.zip.FSpecArgs = {(w / "a.Dat").string(), (w / "b.Dat").string()};
  ASSERT_EQ(f.zip.Add(), 2) << f.texts();
  write_file(w / "b.Dat", "new b contents");
  write_file(w / "c.Dat", "ccc");
  f.zip.FSpecArgs = {(w / "b.Dat").string(), (w / "c.Dat").string()};
  ASSERT_EQ(f.zip.Add(), 2) << f.texts();
  ASSERT_EQ(f.zip.Count(), 3);
  EXPECT_EQ(f.zip.Entries()[0].FileName, "a.Dat");
  EXPECT_EQ(f.zip.Entries()[1].FileName, "b.Dat");
  EXPECT_EQ(f.zip.Entries()[2].FileName, "c.Dat");
  fs::create_directories(w / "out");
  f.zip.ExtrBaseDir = (w / "out").string();
  EXPECT_EQ(f.zip.Extract(), 3) << f.texts();
  EXPECT_EQ(read_file(w / "out" / "a.Dat"), read_file(w / "a.Dat")) << "copied entry still decodes";
  EXPECT_EQ(read_file(w / "out" / "b.Dat"), "new b contents");
}

TEST(ArchiveUpdate, ExistingFilesAreReplacedUnlessTheHandlerSaysSkip) {
  TestEnv env;
  ArchiverFixture f;
  const fs::path w = env.work();
  write_file(w / "a.Dat", "archived");
  f.zip.SetZipFileName((w / "x.zip").string());
  f.zip.FSpecArgs = {(w / "a.Dat").string()};
  ASSERT_EQ(f.zip.Add(), 1);
  fs::create_directories(w / "out");
  write_file(w / "out" / "a.Dat", "older copy");
  f.zip.ExtrBaseDir = (w / "out").string();
  // Without ExtrOverWrite and without a handler the entry is written: a restore needs it.
  EXPECT_EQ(f.zip.Extract(), 1) << f.texts();
  EXPECT_EQ(read_file(w / "out" / "a.Dat"), "archived");
  write_file(w / "out" / "a.Dat", "keep me");
  std::string asked;
  f.zip.OnExtractOverwrite = [&](TZipArchiver*, const std::string& file, bool, bool& overwrite, int) {
    asked = file;
    overwrite = false;
  };
  EXPECT_EQ(f.zip.Extract(), 0);
  EXPECT_EQ(asked, "a.Dat");
  EXPECT_EQ(read_file(w / "out" / "a.Dat"), "keep me");
}

TEST(ArchiveUpdate, DamagedDeflatedEntryFailsAndLeavesNoFile) {
  TestEnv env;
  ArchiverFixture f;
  const fs::path w = env.work();
  write_file(w / "a.Dat", testing::database_like_bytes(9 << 20, 2));
  f.zip.SetZipFileName((w / "x.zip").string());
  f.zip.FSpecArgs = {(w / "a.Dat").string()};
  ASSERT_EQ(f.zip.Add(), 1);
  std::string bytes = read_file(w / "x.zip");
  ASSERT_GT(bytes.size(), 1u << 20);
  for (size_t i = 0; i < 64; ++i) bytes[bytes.size() / 2 + i] ^= 0x5A;  // inside the middle chunk
  write_file(w / "x.zip", bytes);
  ArchiverFixture g;
  g.zip.SetZipFileName((w / "x.zip").string());
  fs::create_directories(w / "out");
  g.zip.ExtrBaseDir = (w / "out").string();
  EXPECT_EQ(g.zip.Extract(), 0);
  EXPECT_TRUE(g.has_message(msg::DllInvalidStructure)) << g.texts();
  EXPECT_TRUE(testing::list_folder(w / "out").empty());
}

}  // namespace
}  // namespace orv::zip
