// Archives made by Info-ZIP's zip, listed by orvakell-zip exactly as zipinfo lists them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include "infozip_compare.h"
#include "test_env.h"
#include "zip/dirreader/zip_dir_reader.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;

class InfoZipArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::have_program("zip") || !test::have_program("zipinfo") || !test::have_program("unzip"))
      GTEST_SKIP() << "Info-ZIP zip/zipinfo/unzip not installed";
    fs::create_directories(env_.work());
  }
  // Runs zip in the work folder; `args` are already quoted.
  void Zip(const std::string& args) {
    const auto r = test::run_command("cd " + test::shell_quote(env_.work().string()) + " && zip -q " + args);
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  // Files at an even second, so that the MS-DOS time and zipinfo's own time agree.
  void File(const std::string& name, const std::string& bytes) {
    const fs::path p = env_.work() / name;
    fs::create_directories(p.parent_path());
    test::write_file(p, bytes);
    struct utimbuf t {1700000000, 1700000000};
    ::utime(p.c_str(), &t);
  }
  void ExpectSameListing(const fs::path& archive, std::size_t expected_entries) {
    int exit_code = -1;
    const auto ours = testing::ListWithOrvakell(archive, exit_code);
    const auto theirs = testing::ListWithInfoZip(archive);
    EXPECT_EQ(exit_code, 0);
    ASSERT_EQ(theirs.size(), expected_entries);
    ASSERT_EQ(ours.size(), theirs.size());
    for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i], theirs[i]) << "entry " << i;
  }
  test::TestEnv env_;
};

TEST_F(InfoZipArchives, FoldersCommentsAndMethods) {
  File("backups/x.dat", std::string(5000, 'x') + "tail");
  File("backups/deep/empty.bin", "");
  File("name with spaces.txt", "spaces");
  File("random.bin", std::string("\x01\x7f\xfe\x80\x00\x33", 6));
  Zip("-r -X demo.zip backups 'name with spaces.txt' random.bin");
  const auto comment = test::run_command("cd " + test::shell_quote(env_.work().string()) +
                                         " && printf 'archive comment\\nsecond line' | zip -q -z demo.zip");
  ASSERT_EQ(comment.exit_code, 0) << comment.output;
  ExpectSameListing(env_.work() / "demo.zip", 6);

  // The reader itself: folder entries left out, the comment kept.
  ZipMessenger m;
  m.Unattended = true;
  ZipDirectoryState state;
  ASSERT_EQ(ReadZipDirectoryFile(env_.work() / "demo.zip", {}, {}, m, state), 0);
  EXPECT_EQ(state.ZipComment, "archive comment\r\nsecond line");  // zip stores CR LF
  EXPECT_EQ(state.DirOnlyCount, 2u);
  ASSERT_EQ(state.Entries.size(), 4u);
  EXPECT_EQ(state.Entries[0].FileName, "backups\\x.dat");
  EXPECT_EQ(state.Entries[0].ComprMethod, 8);
}

TEST_F(InfoZipArchives, ExtendedTimesAndStreamedInput) {
  // Without -X, zip adds extended-time fields; zipinfo shows those, which agree at even seconds.
  File("a.txt", "alpha");
  File("b.txt", std::string(100000, 'b'));
  Zip("t.zip a.txt b.txt");
  ExpectSameListing(env_.work() / "t.zip", 2);
  // A member read from standard input (stored under the name "-").
  const auto piped = test::run_command("cd " + test::shell_quote(env_.work().string()) +
                                       " && printf 'from a pipe' | zip -q -X p.zip -");
  ASSERT_EQ(piped.exit_code, 0) << piped.output;
  ExpectSameListing(env_.work() / "p.zip", 1);
}

TEST_F(InfoZipArchives, ForcedZip64) {
  File("one.txt", "one");
  File("two.txt", std::string(70000, '2'));
  Zip("-X -fz z64.zip one.txt two.txt");
  ExpectSameListing(env_.work() / "z64.zip", 2);
}

TEST_F(InfoZipArchives, MoreThan65535Entries) {
  const fs::path dir = env_.work() / "many";
  fs::create_directories(dir);
  const int count = 65600;
  for (int i = 0; i < count; ++i) {
    std::FILE* f = std::fopen((dir / ("f" + std::to_string(i))).c_str(), "w");
    ASSERT_NE(f, nullptr);
    if (i % 1000 == 0) std::fputs("content", f);
    std::fclose(f);
  }
  Zip("-r -X -0 many.zip many");
  ExpectSameListing(env_.work() / "many.zip", count + 1);

  ZipMessenger m;
  m.Unattended = true;
  ZipDirectoryState state;
  ASSERT_EQ(ReadZipDirectoryFile(env_.work() / "many.zip", {}, {}, m, state), 0);
  EXPECT_TRUE(state.Zip64);
  EXPECT_EQ(state.TotalEntries, static_cast<std::uint64_t>(count + 1));
  EXPECT_EQ(state.Entries.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(state.DirOnlyCount, 1u);
}

TEST_F(InfoZipArchives, TextFileIsNoArchive) {
  File("a.zip", "this is only text\n");
  int exit_code = 0;
  EXPECT_TRUE(testing::ListWithOrvakell(env_.work() / "a.zip", exit_code).empty());
  EXPECT_EQ(exit_code, 1);
  const auto r = test::run_command(test::shell_quote((test::bin_dir() / "orvakell-zip").string()) + " list " +
                                   test::shell_quote((env_.work() / "a.zip").string()));
  EXPECT_NE(r.output.find("This archive is not a valid Zip archive (11036)"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace orv::zip
