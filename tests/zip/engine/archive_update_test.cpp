// Adding to an existing archive, replacing an entry, existing target files on extract, and a
// damaged deflated entry of our own format.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(ArchiveUpdate, SpecificationsPatternsFoldersAndHiddenFiles) {
  TestEnv env;
  const fs::path w = env.work();
  fs::create_directories(w / "data" / "sub");
  write_file(w / "data" / "a.Dat", "a");
  write_file(w / "data" / ".hidden.Dat", "h");
  write_file(w / "data" / "note.txt", "n");
  write_file(w / "data" / "sub" / "b.Dat", "b");
  auto names = [](const TZipArchiver& zip) {
    std::vector<std::string> out;
    for (const ZipDirEntry& e : zip.Entries()) out.push_back(e.StoredName);
    std::sort(out.begin(), out.end());
    return out;
  };
  {
    ArchiverFixture f;  // a pattern leaves hidden files out; a named hidden file is taken
    f.zip.SetZipFileName((w / "p.zip").string());
    f.zip.FSpecArgs = {(w / "data" / "*.Dat").string(), (w / "data" / ".hidden.Dat").string()};
    EXPECT_EQ(f.zip.Add(), 2) << f.texts();
    EXPECT_EQ(names(f.zip), (std::vector<std::string>{".hidden.Dat", "a.Dat"}));
  }
  {
    ArchiverFixture f;  // ">" recurses; with AddDirNames the folders below RootDir are kept
    f.zip.SetZipFileName((w / "r.zip").string());
    f.zip.RootDir = (w / "data").string();
    f.zip.AddOptions.insert(AddOptsEnum::AddDirNames);
    f.zip.FSpecArgs = {">*.Dat"};
    f.zip.FSpecArgsExcl = {"a.*"};
    EXPECT_EQ(f.zip.Add(), 1) << f.texts();
    EXPECT_EQ(names(f.zip), (std::vector<std::string>{"sub/b.Dat"}));
    EXPECT_TRUE(f.zip.FSpecArgsExcl.empty());
  }
  {
    ArchiverFixture f;  // bare names that collide are refused, no archive
    write_file(w / "b.Dat", "other b");
    f.zip.SetZipFileName((w / "c.zip").string());
    f.zip.FSpecArgs = {(w / "b.Dat").string(), (w / "data" / "sub" / "b.Dat").string()};
    EXPECT_EQ(f.zip.Add(), 0);
    EXPECT_NE(f.texts().find("Two files would be stored as b.Dat"), std::string::npos) << f.texts();
    EXPECT_FALSE(fs::exists(w / "c.zip"));
  }
}

}  // namespace
}  // namespace orv::zip
