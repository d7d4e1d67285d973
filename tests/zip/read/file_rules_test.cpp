// The file rules around the reader: missing archives, unopenable paths, executables whose zip
// data lies beside them, and numbered part sets.
#include <gtest/gtest.h>

#include "test_env.h"
#include "zip/dirreader/zip_dir_reader.h"
#include "zip_fixture.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;
using testing::BuildZip;
using testing::FixtureEntry;

struct FileReadRun {
  int result = -1;
  ZipDirectoryState state;
  std::vector<int> messages;
  int dir_updates = 0;
};

FileReadRun ReadFile(const fs::path& path) {
  FileReadRun run;
  ZipMessenger m;
  m.Unattended = true;
  m.OnMessage = [&run](int code, const std::string&) { run.messages.push_back(code); };
  ZipDirReaderEvents events;
  events.OnDirUpdate = [&run] { ++run.dir_updates; };
  run.result = ReadZipDirectoryFile(path, {}, events, m, run.state);
  return run;
}

class ZipDirFileRules : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(env_.work()); }
  test::TestEnv env_;
};

TEST_F(ZipDirFileRules, MissingArchiveIsNoError) {
  const FileReadRun run = ReadFile(env_.work() / "new.zip");
  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(run.messages.empty());
  EXPECT_TRUE(run.state.Entries.empty());
  EXPECT_FALSE(run.state.found);
  EXPECT_EQ(run.dir_updates, 1);
}

TEST_F(ZipDirFileRules, UnopenableArchiveGivesBothMessages) {
  fs::create_directories(env_.work() / "folder.zip");
  const FileReadRun run = ReadFile(env_.work() / "folder.zip");
  EXPECT_EQ(run.result, 11036);
  EXPECT_EQ(run.messages, (std::vector<int>{11002, 11036}));
  EXPECT_EQ(run.dir_updates, 1);
}

TEST_F(ZipDirFileRules, TextFileNamedZip) {
  test::write_file(env_.work() / "a.zip", "no archive here\n");
  const FileReadRun run = ReadFile(env_.work() / "a.zip");
  EXPECT_EQ(run.result, 11036);
  EXPECT_EQ(run.messages, std::vector<int>{11036});
  EXPECT_TRUE(run.state.Entries.empty());
}

TEST_F(ZipDirFileRules, ExecutableWithDetachedZipData) {
  // prog.exe holds only a directory whose entry points at no local header; prog.zip has the data.
  FixtureEntry inside{.name = "inside.txt", .data = "in the zip"};
  const std::string zip = BuildZip({inside}).bytes;
  std::string exe = "MZ" + std::string(200, '\0');
  const std::string directory = BuildZip({FixtureEntry{.name = "stub.txt"}}).bytes.substr(30 + 8);  // no local header
  exe += directory;
  const std::size_t dir_at = 202;
  testing::Set32(exe, exe.size() - 22 + 16, static_cast<std::uint32_t>(dir_at));
  test::write_file(env_.work() / "prog.exe", exe);
  test::write_file(env_.work() / "prog.zip", zip);
  FileReadRun run = ReadFile(env_.work() / "prog.exe");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.state.FileUsed, (env_.work() / "prog.zip").string());
  ASSERT_EQ(run.state.Entries.size(), 1u);
  EXPECT_EQ(run.state.Entries[0].FileName, "inside.txt");

  // A self-extracting executable (local headers present) is read itself.
  test::write_file(env_.work() / "sfx.exe", "MZ" + std::string(98, '\0') + zip);
  run = ReadFile(env_.work() / "sfx.exe");
  EXPECT_EQ(run.state.FileUsed, (env_.work() / "sfx.exe").string());
  EXPECT_EQ(run.messages, std::vector<int>{10203});
  EXPECT_EQ(run.state.SFXOffset, 100u);
}

TEST_F(ZipDirFileRules, NumberedPartsStandInForAMissingArchive) {
  std::string part1 = BuildZip({FixtureEntry{.name = "p1.dat", .data = "1"}}).bytes;
  std::string part2 = BuildZip({FixtureEntry{.name = "p2.dat", .data = "2"}}).bytes;
  testing::Set16(part2, part2.size() - 22 + 4, 1);  // number of this disk: 1 (second part)
  testing::Set16(part2, part2.size() - 22 + 6, 1);
  test::write_file(env_.work() / "set001.zip", part1);
  test::write_file(env_.work() / "set002.zip", part2);
  const FileReadRun run = ReadFile(env_.work() / "set.zip");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.state.FileUsed, (env_.work() / "set002.zip").string());
  ASSERT_EQ(run.state.Entries.size(), 1u);
  EXPECT_EQ(run.state.Entries[0].FileName, "p2.dat");
  EXPECT_EQ(run.state.TotalDisks, 1u);
}

}  // namespace
}  // namespace orv::zip
