// Archives checked by tools nobody here wrote: what we make must pass unzip, 7z, Python's
// zipfile and zipinfo; what Info-ZIP zip makes must extract byte-identically; crafted archives
// must neither escape the target folder nor pass a CRC error as success.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "zip/messages/message_ids.h"
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

std::string q(const fs::path& p) { return shell_quote(p.string()); }

// Packs `files` (in the work folder) into `archive` with the archiver; returns the count.
int pack(ArchiverFixture& f, const fs::path& archive, const std::vector<fs::path>& files) {
  f.zip.SetZipFileName(archive.string());
  for (const auto& p : files) f.zip.FSpecArgs.push_back(p.string());
  return f.zip.Add();
}

TEST(OutsideTools, OurArchivesPassUnzip7zPythonAndZipinfo) {
  for (const char* tool : {"unzip", "zipinfo", "7z", "python3"})
    if (!have_program(tool)) GTEST_SKIP() << tool << " is not installed";
  TestEnv env;
  ArchiverFixture f;
  const fs::path w = env.work();
  write_file(w / "Sales.Dat", testing::database_like_bytes(9 << 20, 3));
  write_file(w / "logo.png", testing::database_like_bytes(5000, 4));  // a store suffix
  write_file(w / "empty.txt", "");
  write_file(w / "Müşteri.Dat", "utf-8 name");
  ASSERT_EQ(pack(f, w / "a.zip", {w / "Sales.Dat", w / "logo.png", w / "empty.txt", w / "Müşteri.Dat"}), 4) << f.texts();

  auto r = run_command("unzip -t " + q(w / "a.zip"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("No errors detected"), std::string::npos) << r.output;
  r = run_command("7z t " + q(w / "a.zip"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Everything is Ok"), std::string::npos) << r.output;
  r = run_command("python3 -c " + shell_quote("import sys,zipfile\n"
                                              "z=zipfile.ZipFile(sys.argv[1])\n"
                                              "print('bad', z.testzip())\n"
                                              "for i in z.infolist(): print(i.filename, i.compress_type, i.file_size, i.CRC)\n") +
                  " " + q(w / "a.zip"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("bad None"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("logo.png 0 5000"), std::string::npos) << "store suffix: stored\n" << r.output;
  EXPECT_NE(r.output.find("Sales.Dat 8 " + std::to_string(9 << 20)), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Müşteri.Dat 8 10"), std::string::npos) << "UTF-8 name flag\n" << r.output;

  // zipinfo lists the same names, sizes and methods as our own directory reader.
  r = run_command("zipinfo -l " + q(w / "a.zip"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ASSERT_EQ(f.zip.Count(), 4);
  for (const ZipDirEntry& e : f.zip.Entries()) {
    const std::string method = e.ComprMethod == 8 ? "defN" : "stor";
    std::ostringstream want;
    want << e.UncomprSize;
    const size_t line = r.output.find(e.StoredName);
    ASSERT_NE(line, std::string::npos) << e.StoredName << "\n" << r.output;
    const size_t start = r.output.rfind('\n', line) + 1;
    const std::string text = r.output.substr(start, line - start);
    EXPECT_NE(text.find(" " + want.str() + " "), std::string::npos) << text;
    EXPECT_NE(text.find(method), std::string::npos) << text;
    EXPECT_NE(text.find(" " + std::to_string(e.ComprSize) + " "), std::string::npos) << text;
  }
}

TEST(OutsideTools, InfoZipArchivesExtractByteIdentically) {
  if (!have_program("zip")) GTEST_SKIP() << "zip is not installed";
  TestEnv env;
  const fs::path w = env.work();
  fs::create_directories(w / "src" / "backups" / "old");
  const std::string db = testing::database_like_bytes(3 << 20, 5);
  write_file(w / "src" / "backups" / "Sales.Dat", db);
  write_file(w / "src" / "backups" / "old" / "Stock.Dat", testing::database_like_bytes(70000, 6));
  write_file(w / "src" / "readme.txt", "read me\n");
  struct Case {
    const char* name;
    const char* options;
  };
  for (const Case c : {Case{"deflated.zip", "-9 -r"}, Case{"stored.zip", "-0 -r"}, Case{"fast.zip", "-1 -r"}}) {
    const fs::path archive = w / c.name;
    auto r = run_command("cd " + q(w / "src") + " && zip -q " + c.options + " " + q(archive) + " .");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    ArchiverFixture f;
    const fs::path out = w / (std::string("out-") + c.name);
    fs::create_directories(out);
    f.zip.SetZipFileName(archive.string());
    EXPECT_EQ(f.zip.Count(), 3) << "folder entries are left out\n" << f.texts();
    f.zip.ExtrBaseDir = out.string();
    EXPECT_EQ(f.zip.Extract(), 3) << c.name << "\n" << f.texts();
    // Without ExtrDirNames every entry goes into the folder under its bare name.
    EXPECT_EQ(testing::list_folder(out), (std::vector<std::string>{"Sales.Dat", "Stock.Dat", "readme.txt"}));
    EXPECT_EQ(read_file(out / "Sales.Dat"), db) << c.name;
    EXPECT_EQ(read_file(out / "Stock.Dat"), read_file(w / "src" / "backups" / "old" / "Stock.Dat"));
    EXPECT_EQ(read_file(out / "readme.txt"), "read me\n");
  }
  // With ExtrDirNames the stored folders come back.
  ArchiverFixture f;
  const fs::path out = w / "with-folders";
  fs::create_directories(out);
  f.zip.SetZipFileName((w / "deflated.zip").string());
  f.zip.ExtrBaseDir = out.string();
  f.zip.ExtrOptions.insert(ExtrOptsEnum::ExtrDirNames);
  EXPECT_EQ(f.zip.Extract(), 3) << f.texts();
  EXPECT_EQ(read_file(out / "backups" / "old" / "Stock.Dat"), read_file(w / "src" / "backups" / "old" / "Stock.Dat"));
}

// Writes an archive with the given entry names through Python's zipfile (it stores names as
// given, which is what a hostile archive does).
void craft_archive(const fs::path& archive, const std::vector<std::string>& names) {
  std::string script = "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n";
  for (const auto& n : names) {
    script += "i=zipfile.ZipInfo(" + std::string("'") + n + "')\n";
    script += "z.writestr(i, 'payload of " + n + "')\n";
  }
  script += "z.close()\n";
  auto r = run_command("python3 -c " + shell_quote(script) + " " + q(archive));
  ASSERT_EQ(r.exit_code, 0) << r.output;
}

TEST(OutsideTools, CraftedTraversalArchiveStaysInsideTheTarget) {
  if (!have_program("python3")) GTEST_SKIP() << "python3 is not installed";
  TestEnv env;
  const fs::path w = env.work();
  const fs::path target = w / "a" / "b" / "target";
  fs::create_directories(target);
  craft_archive(w / "evil.zip", {"../../escape1.txt", "/tmp/orv-escape-abs.txt", "C:\\\\Windows\\\\escape3.txt",
                                 "x\\\\..\\\\..\\\\escape4.txt", "ok/../../../escape5.txt"});
  for (bool folders : {false, true}) {
    ArchiverFixture f;
    f.zip.SetZipFileName((w / "evil.zip").string());
    f.zip.ExtrBaseDir = target.string();
    if (folders) f.zip.ExtrOptions.insert(ExtrOptsEnum::ExtrDirNames);
    EXPECT_EQ(f.zip.Extract(), 5) << f.texts();
    EXPECT_FALSE(fs::exists("/tmp/orv-escape-abs.txt"));
    // Nothing outside the target: a and a/b hold only the folder below them.
    EXPECT_EQ(testing::list_folder(w / "a").size(), testing::list_folder(target).size() + 2);
    EXPECT_EQ(read_file(target / "escape1.txt"), "payload of ../../escape1.txt");
    // Stored folders, when kept, are rebuilt below the target with every escape dropped.
    EXPECT_TRUE(fs::exists(target / (folders ? "tmp/orv-escape-abs.txt" : "orv-escape-abs.txt")));
    EXPECT_TRUE(fs::exists(target / (folders ? "Windows/escape3.txt" : "escape3.txt")));
    EXPECT_TRUE(fs::exists(target / (folders ? "x/escape4.txt" : "escape4.txt")));
    EXPECT_TRUE(fs::exists(target / (folders ? "ok/escape5.txt" : "escape5.txt")));
    fs::remove_all(target);
    fs::create_directories(target);
  }
  // A symbolic link planted under an entry's name is replaced, never followed.
  write_file(w / "victim.txt", "keep me");
  fs::create_symlink(w / "victim.txt", target / "escape1.txt");
  ArchiverFixture f;
  f.zip.SetZipFileName((w / "evil.zip").string());
  f.zip.ExtrBaseDir = target.string();
  f.zip.FSpecArgs = {"*escape1.txt"};
  EXPECT_EQ(f.zip.Extract(), 1) << f.texts();
  EXPECT_EQ(read_file(w / "victim.txt"), "keep me");
  EXPECT_FALSE(fs::is_symlink(target / "escape1.txt"));
}

TEST(OutsideTools, CrcMismatchIsAnErrorAndLeavesNoFile) {
  TestEnv env;
  ArchiverFixture f;
  const fs::path w = env.work();
  write_file(w / "data.png", std::string(4000, 'x') + "tail");  // stored (store suffix)
  ASSERT_EQ(pack(f, w / "a.zip", {w / "data.png"}), 1) << f.texts();
  std::string bytes = read_file(w / "a.zip");
  const size_t at = bytes.find("xxxxtail");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'y';  // one byte of the stored data changes; the CRC no longer matches
  write_file(w / "a.zip", bytes);
  fs::create_directories(w / "out");
  ArchiverFixture g;
  g.zip.SetZipFileName((w / "a.zip").string());
  g.zip.ExtrBaseDir = (w / "out").string();
  EXPECT_EQ(g.zip.Extract(), 0);
  ASSERT_TRUE(g.has_message(msg::DllInvalidStructure)) << g.texts();
  EXPECT_NE(g.messages.back().text.find("CRC error in data.png"), std::string::npos) << g.messages.back().text;
  EXPECT_TRUE(testing::list_folder(w / "out").empty()) << "no file, no temporary left";

  // Test mode reports it the same way; an OnCRC32Error handler may still take the file.
  ArchiverFixture h;
  h.zip.SetZipFileName((w / "a.zip").string());
  h.zip.ExtrBaseDir = (w / "out").string();
  uint32_t found = 0, expected = 0;
  h.zip.OnCRC32Error = [&](TZipArchiver*, const std::string&, uint32_t a, uint32_t b, bool& doit) {
    found = a;
    expected = b;
    doit = true;
  };
  EXPECT_EQ(h.zip.Extract(), 1) << h.texts();
  EXPECT_NE(found, expected);
  EXPECT_EQ(read_file(w / "out" / "data.png").substr(0, 2), "xx");
}

TEST(OutsideTools, OrvakellZipCommandLine) {
  if (!have_program("unzip")) GTEST_SKIP() << "unzip is not installed";
  TestEnv env;
  const fs::path w = env.work();
  const std::string tool = q(orv::test::bin_dir() / "orvakell-zip");
  write_file(w / "Sales.Dat", testing::database_like_bytes(5 << 20, 9));
  auto r = run_command(tool + " add " + q(w / "Sales.zip") + " " + q(w / "Sales.Dat"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  r = run_command("unzip -t " + q(w / "Sales.zip"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  r = run_command(tool + " test " + q(w / "Sales.zip"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  fs::create_directories(w / "out");
  r = run_command(tool + " extract " + q(w / "Sales.zip") + " " + q(w / "out"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(read_file(w / "out" / "Sales.Dat"), read_file(w / "Sales.Dat"));
  // Standard error is no terminal here: no progress line, only the result.
  EXPECT_EQ(r.output, "extracted 1 file\n");
  r = run_command(tool + " add " + q(w / "other.zip") + " " + q(w / "missing.Dat"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("Nothing to add for"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(w / "other.zip"));
  r = run_command(tool + " extract " + q(w / "Sales.zip") + " " + q(w / "nowhere"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("must exist"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace orv::zip
