// Names as outside readers see them: never flagged UTF-8 falsely, written on extraction as the
// listing shows them, never two entries onto one file, and Zip64 archives found behind a stub.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "hostile_archive.h"
#include "zip_test_support.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;
using orv::test::have_program;
using orv::test::read_file;
using orv::test::run_command;
using orv::test::shell_quote;
using orv::test::TestEnv;
using orv::test::write_file;
using testing::ArchiverFixture;
using testing::make_entry;
using testing::RawEntry;

TEST(ZipNames, OnlyValidUtf8NamesAreFlaggedUtf8) {
  TestEnv env;
  const fs::path w = env.work();
  const std::string latin1 = "caf\xe9.txt";  // a Linux name in Latin-1: not UTF-8
  write_file(w / latin1, "latin-1 name");
  write_file(w / "Müşteri.Dat", "utf-8 name");
  write_file(w / "plain.txt", "ascii name");
  ArchiverFixture f;
  f.zip.SetZipFileName((w / "a.zip").string());
  f.zip.FSpecArgs = {(w / latin1).string(), (w / "Müşteri.Dat").string(), (w / "plain.txt").string()};
  ASSERT_EQ(f.zip.Add(), 3) << f.texts();
  ASSERT_EQ(f.zip.Count(), 3);
  std::map<std::string, bool> flagged;
  for (const ZipDirEntry& e : f.zip.Entries()) flagged[e.StoredName] = (e.Flag & 0x0800) != 0;
  EXPECT_EQ(flagged.size(), 3u);
  EXPECT_TRUE(flagged["Müşteri.Dat"]);
  EXPECT_FALSE(flagged["plain.txt"]);
  EXPECT_FALSE(flagged["café.txt"]) << "read back in the host's code page, unflagged";

  if (have_program("python3")) {
    const auto r = run_command("python3 -c " +
                               shell_quote("import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\nprint('bad', z.testzip())\n") +
                               " " + shell_quote((w / "a.zip").string()));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("bad None"), std::string::npos) << r.output;
  }
}

TEST(ZipNames, ExtractionWritesTheNamesTheListingShows) {
  TestEnv env;
  const fs::path w = env.work();
  RawEntry dos = make_entry("filename_with_\x91o\x86.txt", "made on MS-DOS", 0);  // CP437, no UTF-8 flag
  dos.made_by = 20;  // host 0: FAT
  RawEntry unix_utf8 = make_entry("Müşteri.Dat", "flagged", 0);
  unix_utf8.flags = 0x0800;
  write_file(w / "names.zip", testing::simple_archive({dos, unix_utf8}));
  fs::create_directories(w / "out");
  ArchiverFixture f;
  f.zip.SetZipFileName((w / "names.zip").string());
  ASSERT_EQ(f.zip.Count(), 2);
  std::vector<std::string> listed;
  for (const ZipDirEntry& e : f.zip.Entries()) listed.push_back(e.StoredName);
  EXPECT_EQ(listed, (std::vector<std::string>{"filename_with_æoå.txt", "Müşteri.Dat"}));
  f.zip.ExtrBaseDir = (w / "out").string();
  ASSERT_EQ(f.zip.Extract(), 2) << f.texts();
  std::vector<std::string> written = testing::list_folder(w / "out");
  std::sort(written.begin(), written.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(written, listed);
  EXPECT_EQ(read_file(w / "out" / "filename_with_æoå.txt"), "made on MS-DOS");

  // A file specification matches the name as listed.
  fs::create_directories(w / "one");
  ArchiverFixture g;
  g.zip.SetZipFileName((w / "names.zip").string());
  g.zip.ExtrBaseDir = (w / "one").string();
  g.zip.FSpecArgs = {"*æoå*"};
  EXPECT_EQ(g.zip.Extract(), 1) << g.texts();
  EXPECT_EQ(testing::list_folder(w / "one"), (std::vector<std::string>{"filename_with_æoå.txt"}));
}

TEST(ZipNames, TwoEntriesOntoOneFileAreRefusedUnlessFoldersAreKept) {
  TestEnv env;
  const fs::path w = env.work();
  write_file(w / "clash.zip", testing::simple_archive({make_entry("d1/f.txt", "one", 0), make_entry("d2/f.txt", "two", 8),
                                                       make_entry("other.txt", "other", 0)}));
  fs::create_directories(w / "flat");
  ArchiverFixture f;
  f.zip.SetZipFileName((w / "clash.zip").string());
  f.zip.ExtrBaseDir = (w / "flat").string();
  EXPECT_EQ(f.zip.Extract(), 0);
  EXPECT_NE(f.texts().find("Entries d1/f.txt and d2/f.txt would both be extracted to f.txt"), std::string::npos)
      << f.texts();
  EXPECT_TRUE(testing::list_folder(w / "flat").empty()) << "nothing is extracted";

  // Either one alone, or both with their folders, extract.
  f.zip.FSpecArgs = {"d2/f.txt"};
  EXPECT_EQ(f.zip.Extract(), 1) << f.texts();
  EXPECT_EQ(read_file(w / "flat" / "f.txt"), "two");
  fs::create_directories(w / "kept");
  ArchiverFixture g;
  g.zip.SetZipFileName((w / "clash.zip").string());
  g.zip.ExtrBaseDir = (w / "kept").string();
  g.zip.ExtrOptions.insert(ExtrOptsEnum::ExtrDirNames);
  EXPECT_EQ(g.zip.Extract(), 3) << g.texts();
  EXPECT_EQ(read_file(w / "kept" / "d1" / "f.txt"), "one");
  EXPECT_EQ(read_file(w / "kept" / "d2" / "f.txt"), "two");

  // The same from the command line: refused flat (exit 1, both names), extracted with --folders.
  const std::string tool = shell_quote((orv::test::bin_dir() / "orvakell-zip").string());
  const std::string archive = shell_quote((w / "clash.zip").string());
  fs::create_directories(w / "cli");
  auto r = run_command(tool + " extract " + archive + " " + shell_quote((w / "cli").string()));
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("d1/f.txt and d2/f.txt"), std::string::npos) << r.output;
  EXPECT_TRUE(testing::list_folder(w / "cli").empty());
  r = run_command(tool + " extract --folders " + archive + " " + shell_quote((w / "cli").string()));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(read_file(w / "cli" / "d1" / "f.txt"), "one");
  EXPECT_EQ(read_file(w / "cli" / "d2" / "f.txt"), "two");
}

TEST(ZipNames, ArchivesBehindAStubAreFoundWithAndWithoutZip64) {
  TestEnv env;
  const fs::path w = env.work();
  const std::string stub = "#!/bin/sh\necho 'a script in front of the archive'\nexit 0\n";
  for (bool zip64 : {false, true}) {
    SCOPED_TRACE(zip64 ? "Zip64" : "plain");
    const fs::path archive = w / (zip64 ? "exe_with_z64" : "exe_with_zip");
    write_file(archive, testing::simple_archive({make_entry("module.py", "FAVORITE_NUMBER = 5\n", 0),
                                                 make_entry("data.bin", std::string(70000, 'd'), 8)},
                                                zip64, stub));
    const fs::path out = w / (zip64 ? "out64" : "out");
    fs::create_directories(out);
    ArchiverFixture f;
    f.zip.SetZipFileName(archive.string());
    ASSERT_EQ(f.zip.Count(), 2) << f.texts();
    f.zip.ExtrBaseDir = out.string();
    EXPECT_EQ(f.zip.Extract(), 2) << f.texts();
    EXPECT_EQ(read_file(out / "module.py"), "FAVORITE_NUMBER = 5\n");
    EXPECT_EQ(read_file(out / "data.bin"), std::string(70000, 'd'));
  }
}

}  // namespace
}  // namespace orv::zip
