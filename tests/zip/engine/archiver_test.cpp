// TZipArchiver with its driver and the real engine library: the guarded run, the start and
// check errors, library loading failures, events, and what the lists hold afterwards.
#include <gtest/gtest.h>

#include <filesystem>

#include "zip/driver/za_records.h"
#include "zip/messages/message_ids.h"
#include "zip_test_support.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;
using orv::test::read_file;
using orv::test::TestEnv;
using orv::test::write_file;
using testing::ArchiverFixture;

TEST(Archiver, AddThenExtractRestoresTheBackupAndEmptiesTheLists) {
  TestEnv env;
  ArchiverFixture f;
  const fs::path source = env.work() / "Sales.Dat";
  const std::string bytes = testing::database_like_bytes(9 << 20);  // more than two chunks
  write_file(source, bytes);
  std::vector<std::pair<ProgressType, int64_t>> progress;
  f.zip.OnProgress = [&](TZipArchiver* sender, ProgressType t, const std::string&, int64_t size) {
    EXPECT_EQ(sender, &f.zip);
    progress.emplace_back(t, size);
  };
  const fs::path archive = env.work() / "Sales.zip";
  f.zip.SetZipFileName(archive.string());
  EXPECT_EQ(f.zip.Count(), 0);
  EXPECT_EQ(f.zip.ZipFileName(), archive.string()) << "a missing archive keeps its name";
  f.zip.FSpecArgs.push_back(source.string());
  EXPECT_EQ(f.zip.Add(), 1) << f.texts();
  EXPECT_TRUE(f.zip.FSpecArgs.empty());
  EXPECT_TRUE(f.messages.empty()) << f.texts();
  // The directory is read again after the add: one entry under its bare name.
  ASSERT_EQ(f.zip.Count(), 1);
  EXPECT_EQ(f.zip.Entries()[0].FileName, "Sales.Dat");
  EXPECT_EQ(f.zip.Entries()[0].UncomprSize, bytes.size());
  EXPECT_LT(f.zip.Entries()[0].ComprSize, bytes.size() / 2);

  // Progress: totals first, one new file, updates that add up to the size, end of batch.
  int64_t updates = 0;
  std::vector<ProgressType> kinds;
  for (auto& [t, size] : progress) {
    if (t == ProgressType::ProgressUpdate) updates += size;
    if (kinds.empty() || kinds.back() != t) kinds.push_back(t);
  }
  EXPECT_EQ(updates, static_cast<int64_t>(bytes.size()));
  const std::vector<ProgressType> expected_start = {ProgressType::TotalFiles2Process, ProgressType::TotalSize2Process,
                                                    ProgressType::NewFile, ProgressType::ProgressUpdate};
  ASSERT_GE(kinds.size(), 5u);
  EXPECT_EQ(std::vector<ProgressType>(kinds.begin(), kinds.begin() + 4), expected_start);
  EXPECT_EQ(kinds[4], ProgressType::EndOfBatch);

  const fs::path target = env.work() / "restore";
  fs::create_directories(target);
  f.zip.ExtrBaseDir = target.string();
  f.zip.FSpecArgs.push_back("*.*");
  EXPECT_EQ(f.zip.Extract(), 1) << f.texts();
  EXPECT_TRUE(f.zip.FSpecArgs.empty());
  EXPECT_EQ(read_file(target / "Sales.Dat"), bytes);
  EXPECT_EQ(testing::list_folder(target), std::vector<std::string>{"Sales.Dat"}) << "no temporary files left";
}

TEST(Archiver, AddFromInsideOnProgressIsRefusedAndChangesNothing) {
  TestEnv env;
  ArchiverFixture f;
  write_file(env.work() / "a.Dat", testing::database_like_bytes(100000));
  write_file(env.work() / "b.Dat", "other");
  f.zip.Verbose = true;
  f.zip.SetZipFileName((env.work() / "a.zip").string());
  f.zip.FSpecArgs.push_back((env.work() / "a.Dat").string());
  int inner = 0, calls = 0;
  f.zip.OnProgress = [&](TZipArchiver* sender, ProgressType t, const std::string&, int64_t) {
    if (t != ProgressType::NewFile || calls++ > 0) return;
    sender->FSpecArgs = {(env.work() / "b.Dat").string()};
    inner = sender->Add();
    sender->FSpecArgs.clear();
  };
  EXPECT_EQ(f.zip.Add(), 1) << f.texts();
  EXPECT_EQ(inner, -255);
  EXPECT_TRUE(f.has_message(0)) << "Verbose: the refused re-entry is reported";
  bool reentry = false;
  for (const auto& m : f.messages) reentry |= m.text == "Re-entry";
  EXPECT_TRUE(reentry) << f.texts();
  ASSERT_EQ(f.zip.Count(), 1);
  EXPECT_EQ(f.zip.Entries()[0].FileName, "a.Dat");
}

TEST(Archiver, StartErrorsOfTheGuardedRun) {
  TestEnv env;
  ArchiverFixture f;
  f.zip.BeginLoading();
  EXPECT_EQ(f.zip.Add(), -256);
  EXPECT_EQ(f.zip.Extract(), -256);
  f.zip.Loaded();
  f.zip.SetActive(false);
  f.zip.FSpecArgs = {"x"};
  EXPECT_EQ(f.zip.Add(), -255);
  EXPECT_EQ(f.zip.FSpecArgs.size(), 1u) << "a refused start changes nothing";
  f.zip.SetActive(true);
  f.zip.TempDir = (env.work() / "no-such-folder").string();
  f.zip.SetZipFileName((env.work() / "x.zip").string());
  EXPECT_EQ(f.zip.Add(), msg::CannotWriteTo);
  EXPECT_TRUE(f.has_message(msg::CannotWriteTo));
  EXPECT_FALSE(f.zip.Busy());
}

TEST(Archiver, ReadingWhileInactiveIsDeferredUntilActivation) {
  TestEnv env;
  ArchiverFixture f;
  write_file(env.work() / "a.Dat", "abc");
  f.zip.SetZipFileName((env.work() / "a.zip").string());
  f.zip.FSpecArgs = {(env.work() / "a.Dat").string()};
  ASSERT_EQ(f.zip.Add(), 1) << f.texts();
  TZipArchiver other;
  other.DLLDirectory = f.zip.DLLDirectory;
  other.SetActive(false);
  other.SetZipFileName((env.work() / "a.zip").string());
  EXPECT_EQ(other.Count(), 0);
  other.SetActive(true);
  EXPECT_EQ(other.Count(), 1);
}

TEST(Archiver, CheckErrorsAreShownAndCallNoLibrary) {
  TestEnv env;
  ArchiverFixture f;
  // Nothing to add: 10301, and the library is not even looked for.
  f.zip.DLLDirectory = (env.work() / "no-library-here").string();
  f.zip.SetZipFileName((env.work() / "a.zip").string());
  EXPECT_EQ(f.zip.Add(), 0);
  EXPECT_TRUE(f.has_message(msg::NoFilesToZip)) << f.texts();
  EXPECT_FALSE(f.has_message(msg::DllLoadFailed));
  ASSERT_EQ(f.dialogs.shown.size(), 1u);
  EXPECT_EQ(f.dialogs.shown[0].kind, ZipDialogKind::Error);
  EXPECT_EQ(f.dialogs.shown[0].text, "Error - no files to zip!");

  // The archive's folder must exist: 10308 with the folder.
  f.messages.clear();
  f.zip.SetZipFileName((env.work() / "missing" / "a.zip").string());
  f.zip.FSpecArgs = {"whatever"};
  EXPECT_EQ(f.zip.Add(), 0);
  EXPECT_TRUE(f.zip.FSpecArgs.empty());
  ASSERT_TRUE(f.has_message(msg::DestinationMustExist)) << f.texts();
  EXPECT_NE(f.messages.back().text.find((env.work() / "missing").string()), std::string::npos);
}

TEST(Archiver, ExtractChecks) {
  TestEnv env;
  ArchiverFixture f;
  write_file(env.work() / "a.Dat", "abc");
  f.zip.SetZipFileName((env.work() / "a.zip").string());
  f.zip.FSpecArgs = {(env.work() / "a.Dat").string()};
  ASSERT_EQ(f.zip.Add(), 1);
  f.zip.ExtrBaseDir = (env.work() / "nowhere").string();
  EXPECT_EQ(f.zip.Extract(), 0);
  ASSERT_TRUE(f.has_message(msg::ExtractDirMustExist)) << f.texts();
  EXPECT_EQ(f.messages.back().text, "Extract directory '" + (env.work() / "nowhere").string() + "/' must exist");

  // With ExtrForceDirs the folder is made.
  f.messages.clear();
  f.zip.ExtrOptions.insert(ExtrOptsEnum::ExtrForceDirs);
  EXPECT_EQ(f.zip.Extract(), 1) << f.texts();
  EXPECT_EQ(read_file(env.work() / "nowhere" / "a.Dat"), "abc");

  // No archive name: 10102.
  ArchiverFixture g;
  g.zip.ExtrBaseDir = env.work().string();
  EXPECT_EQ(g.zip.Extract(), 0);
  EXPECT_TRUE(g.has_message(msg::NoZipFileSpecified)) << g.texts();
}

TEST(Archiver, NotAZipArchiveShowsTheMessageAndCountsZero) {
  TestEnv env;
  ArchiverFixture f;
  write_file(env.work() / "a.zip", "this is plain text, not an archive\n");
  f.zip.SetZipFileName((env.work() / "a.zip").string());
  EXPECT_TRUE(f.has_message(msg::NotValidZipArchive)) << f.texts();
  EXPECT_EQ(f.zip.Count(), 0);
  ASSERT_FALSE(f.dialogs.shown.empty());
  EXPECT_EQ(f.dialogs.shown.back().text, "This archive is not a valid Zip archive");
}

TEST(Archiver, LibraryMissingGives10650) {
  TestEnv env;
  ArchiverFixture f;
  fs::create_directories(env.work() / "empty");
  write_file(env.work() / "a.Dat", "abc");
  f.zip.DLLDirectory = (env.work() / "empty").string();
  f.zip.SetZipFileName((env.work() / "a.zip").string());
  f.zip.FSpecArgs = {(env.work() / "a.Dat").string()};
  EXPECT_EQ(f.zip.Add(), 0);
  ASSERT_TRUE(f.has_message(msg::DllLoadFailed)) << f.texts();
  EXPECT_EQ(f.messages.back().text.rfind("Failed to load libZipEngine179.so", 0), 0u) << f.messages.back().text;
  EXPECT_FALSE(fs::exists(env.work() / "a.zip"));
  EXPECT_TRUE(f.zip.FSpecArgs.empty());
}

TEST(Archiver, LibraryTooOldTooNewOrIncompleteGives10651) {
  for (const char* folder : {"zipold", "zipnew", "zipnopath"}) {
    TestEnv env;
    ArchiverFixture f;
    write_file(env.work() / "a.Dat", "abc");
    const fs::path dir = fs::path(ORV_TEST_BIN_DIR) / folder;
    ASSERT_TRUE(fs::exists(dir / "libZipEngine179.so")) << dir;
    f.zip.DLLDirectory = dir.string() + "/";  // a trailing separator is dropped
    f.zip.SetZipFileName((env.work() / "a.zip").string());
    f.zip.FSpecArgs = {(env.work() / "a.Dat").string()};
    EXPECT_EQ(f.zip.Add(), 0) << folder;
    ASSERT_TRUE(f.has_message(msg::DllOldOrCorrupt)) << folder << "\n" << f.texts();
    EXPECT_NE(f.messages.back().text.find("It is old or corrupt"), std::string::npos);
    EXPECT_FALSE(f.zip.Worker().Loaded()) << "a refused library is released";
  }
}

TEST(Archiver, DllLoadKeepsTheLibraryLoadedBetweenOperations) {
  TestEnv env;
  ArchiverFixture f;
  write_file(env.work() / "a.Dat", "abc");
  f.zip.SetZipFileName((env.work() / "a.zip").string());
  f.zip.FSpecArgs = {(env.work() / "a.Dat").string()};
  ASSERT_EQ(f.zip.Add(), 1);
  EXPECT_FALSE(f.zip.Worker().Loaded()) << "released after the operation";
  f.zip.SetDll_Load(true);
  EXPECT_TRUE(f.zip.Worker().Loaded());
  EXPECT_EQ(f.zip.Worker().LibraryVersion(), 179);
  EXPECT_NE(f.zip.Worker().LibraryName().find("libZipEngine179.so"), std::string::npos);
  f.zip.SetDll_Load(false);
  EXPECT_FALSE(f.zip.Worker().Loaded());
}

TEST(Archiver, HandlerErrorStopsTheLibraryAndEndsTheShownTextWithTheFault) {
  TestEnv env;
  ArchiverFixture f;
  write_file(env.work() / "a.Dat", testing::database_like_bytes(6 << 20));
  const fs::path archive = env.work() / "a.zip";
  write_file(archive, "");  // replaced below only by a complete archive
  fs::remove(archive);
  f.zip.SetZipFileName(archive.string());
  f.zip.FSpecArgs = {(env.work() / "a.Dat").string()};
  f.zip.OnProgress = [](TZipArchiver*, ProgressType t, const std::string&, int64_t) {
    if (t == ProgressType::ProgressUpdate) throw std::runtime_error("disk panel gone");
  };
  EXPECT_EQ(f.zip.Add(), 0);
  ASSERT_TRUE(f.has_message(msg::DllHandlerException)) << f.texts();
  const std::string& text = f.messages.back().text;
  EXPECT_NE(text.find("DLL Error - Exception in handler  #2 \"disk panel gone\""), std::string::npos) << text;
  EXPECT_FALSE(fs::exists(archive)) << "no partial archive under the final name";
  EXPECT_EQ(testing::list_folder(env.work()), std::vector<std::string>{"a.Dat"});
}

TEST(Archiver, CancelThroughOnCheckTerminateKeepsTheOldArchive) {
  TestEnv env;
  ArchiverFixture f;
  write_file(env.work() / "old.Dat", "old contents");
  write_file(env.work() / "big.Dat", testing::database_like_bytes(10 << 20));
  const fs::path archive = env.work() / "a.zip";
  f.zip.SetZipFileName(archive.string());
  f.zip.FSpecArgs = {(env.work() / "old.Dat").string()};
  ASSERT_EQ(f.zip.Add(), 1);
  const std::string before = read_file(archive);
  int updates = 0;
  f.zip.OnCheckTerminate = [&](TZipArchiver*, bool& abort) { abort = abort || updates > 0; };
  f.zip.OnProgress = [&](TZipArchiver*, ProgressType t, const std::string&, int64_t) {
    if (t == ProgressType::ProgressUpdate) ++updates;
  };
  f.zip.FSpecArgs = {(env.work() / "big.Dat").string()};
  EXPECT_EQ(f.zip.Add(), 0);
  EXPECT_TRUE(f.has_message(msg::DllUserCancelled)) << f.texts();
  EXPECT_EQ(read_file(archive), before);
  EXPECT_EQ(testing::list_folder(env.work()), (std::vector<std::string>{"a.zip", "big.Dat", "old.Dat"}));
}

TEST(Archiver, CancelDuringAParallelInflateLeavesNoFile) {
  TestEnv env;
  ArchiverFixture f;
  const std::string big = testing::database_like_bytes(40 << 20, 5);  // ten chunks, inflated in parallel
  write_file(env.work() / "big.Dat", big);
  const fs::path archive = env.work() / "a.zip";
  f.zip.SetZipFileName(archive.string());
  f.zip.FSpecArgs = {(env.work() / "big.Dat").string()};
  ASSERT_EQ(f.zip.Add(), 1);
  fs::create_directories(env.work() / "out");

  ArchiverFixture g;
  g.zip.SetZipFileName(archive.string());
  g.zip.ExtrBaseDir = (env.work() / "out").string();
  int updates = 0;
  g.zip.OnCheckTerminate = [&](TZipArchiver*, bool& abort) { abort = abort || updates > 0; };
  g.zip.OnProgress = [&](TZipArchiver*, ProgressType t, const std::string&, int64_t) {
    if (t == ProgressType::ProgressUpdate) ++updates;
  };
  EXPECT_EQ(g.zip.Extract(), 0);
  EXPECT_TRUE(g.has_message(msg::DllUserCancelled)) << g.texts();
  EXPECT_TRUE(testing::list_folder(env.work() / "out").empty());

  // Uncancelled, the same extract writes every chunk in its place.
  ArchiverFixture h;
  h.zip.SetZipFileName(archive.string());
  h.zip.ExtrBaseDir = (env.work() / "out").string();
  ASSERT_EQ(h.zip.Extract(), 1) << h.texts();
  EXPECT_TRUE(read_file(env.work() / "out" / "big.Dat") == big);
}

TEST(Archiver, MissingSourceFailsVisiblyAndMakesNoArchive) {
  TestEnv env;
  ArchiverFixture f;
  f.zip.SetZipFileName((env.work() / "a.zip").string());
  f.zip.FSpecArgs = {(env.work() / "gone.Dat").string()};
  EXPECT_EQ(f.zip.Add(), 0);
  ASSERT_TRUE(f.has_message(msg::DllCriticalError)) << f.texts();
  EXPECT_NE(f.messages.back().text.find("Nothing to add for " + (env.work() / "gone.Dat").string()), std::string::npos);
  EXPECT_FALSE(fs::exists(env.work() / "a.zip"));
}

TEST(Records, StoreSuffixTextAndSpecificationLines) {
  EXPECT_EQ(StoreSuffixText(DefaultAddStoreSuffixes(), ""),
            ".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha:.rar:.ace:.cab:.gz:.gzip:.jar:.exe:.jpg:.jpeg:"
            ".7zp:.mp3:.wmv:.wma:.dvr-ms:.avi");
  EXPECT_EQ(StoreSuffixText({AddStoreSuffixEnum::assZIP, AddStoreSuffixEnum::assEXT}, "BAK; .Dat:xz"), ".zip:.bak:.dat:.xz");
  EXPECT_EQ(StoreSuffixText({}, "bak"), "");

  ZAFileSpecLine l = ParseAddSpecLine(">/data/*.Dat", 0, 0);
  EXPECT_EQ(l.spec, "/data/*.Dat");
  EXPECT_EQ(l.recurse, 0xFFFF);
  l = ParseAddSpecLine("|a.Dat", -1, -1);
  EXPECT_EQ(l.recurse, 0);
  EXPECT_EQ(l.encrypt, -1);
  l = ParseAddSpecLine(" a.Dat <secret", 0, -1);
  EXPECT_EQ(l.spec, "a.Dat");
  EXPECT_EQ(l.recurse, 0xFFFF) << "low 16 bits of the record's value";
  EXPECT_TRUE(l.has_password);
  EXPECT_EQ(l.password, "secret");
  EXPECT_EQ(l.encrypt, 0xFFFF);
  l = ParseAddSpecLine("a.Dat< ", -1, 0);
  EXPECT_EQ(l.encrypt, 0);
  EXPECT_FALSE(l.has_password);
}

TEST(Records, AddAndExtractRecordsCarryTheSettings) {
  ZASettings s;
  s.FSpecArgs = {"a.Dat", "", ">b"};
  s.FSpecArgsExcl = {"*.tmp"};
  s.AddOptions = {AddOptsEnum::AddFreshen, AddOptsEnum::AddUpdate, AddOptsEnum::AddRecurseDirs};
  ZARecordBuilder b;
  ZE_ZipCommand& c = b.BuildAdd(s, "/w/a.zip", "", nullptr, nullptr);
  EXPECT_EQ(c.Version, 179);
  EXPECT_EQ(c.Version2, 179);
  EXPECT_EQ(c.Check, 7);
  EXPECT_EQ(c.Level, 9);
  EXPECT_EQ(c.Quiet, -1);
  EXPECT_EQ(c.JunkDir, -1) << "no AddDirNames: bare names";
  EXPECT_EQ(c.Force, -1);
  EXPECT_EQ(c.NoDirEntries, -1);
  EXPECT_EQ(c.Update, -1);
  EXPECT_EQ(c.Freshen, 0) << "only AddUpdate reaches the library";
  EXPECT_EQ(c.HowToMove, -1);
  EXPECT_STREQ(c.ZipFileName, "/w/a.zip");
  EXPECT_EQ(c.Comment, nullptr);
  ASSERT_EQ(c.Argc, 3);
  EXPECT_STREQ(c.FSpecs[0].FileSpec, "a.Dat");
  EXPECT_EQ(c.FSpecs[0].Recurse, 0xFFFF);
  EXPECT_EQ(c.FSpecs[1].FileSpec, nullptr);
  ASSERT_EQ(c.ExclCount, 1);
  EXPECT_STREQ(c.Excludes[0], "*.tmp");

  s.FSpecArgs = {"*.*", "b"};
  ZE_UnzipCommand& u = b.BuildExtract(s, "/w/a.zip", "/w/out/", 1, nullptr, nullptr);
  EXPECT_EQ(u.Argc, 0) << "a first line *.* selects every entry";
  EXPECT_STREQ(u.ExtractDir, "/w/out/");
  EXPECT_STREQ(u.Password, "");
  EXPECT_EQ(u.Check, 7);
  s.FSpecArgs = {"b"};
  s.Unattended = true;
  ZE_UnzipCommand& v = b.BuildExtract(s, "/w/a.zip", "", 0, nullptr, nullptr);
  EXPECT_EQ(v.Argc, 1);
  EXPECT_EQ(v.ExtractDir, nullptr);
  EXPECT_EQ(v.Handle, nullptr);
}

TEST(ProgressDetails, PercentagesFollowTheirRules) {
  TProgressDetails d;
  EXPECT_EQ(d.ItemPerCent(), 0);
  d.ItemSize = 1000;
  d.ItemPosition = 333;
  EXPECT_EQ(d.ItemPerCent(), 33);
  d.ItemSize = 10000000;
  d.ItemPosition = 9999999;
  EXPECT_EQ(d.ItemPerCent(), 99);
  d.TotalSize = int64_t{6} << 30;
  d.TotalPosition = int64_t{3} << 30;
  EXPECT_EQ(d.TotalPerCent(), 50) << "64-bit arithmetic";

  TZACore core;
  std::vector<int> items, totals;
  core.Events.OnItemProgress = [&](const std::string&, int64_t, int p) { items.push_back(p); };
  core.Events.OnTotalProgress = [&](int64_t, int p) { totals.push_back(p); };
  core.ReportProgress(ProgressType::TotalSize2Process, {}, 200);
  core.ReportProgress(ProgressType::NewFile, "a", 200);
  core.ReportProgress(ProgressType::ProgressUpdate, {}, 50);
  core.ReportProgress(ProgressType::EndOfBatch, {}, 0);
  EXPECT_EQ(items, (std::vector<int>{0, 25, 101}));
  EXPECT_EQ(totals, (std::vector<int>{25, 101}));
}

}  // namespace
}  // namespace orv::zip
