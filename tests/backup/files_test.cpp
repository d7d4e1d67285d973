// The backup run's files in the working folder: names made from database names stay inside the
// folder, and neither a killed run nor a failed statement leaves a file behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "backup_fixture.h"
#include "platform/file_names.h"
#include "platform/file_write.h"

namespace orv::backup::testing {
namespace {

std::set<std::string> listing(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
  return names;
}

// The id of a process that has ended (and been reaped).
pid_t dead_pid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return pid;
}

TEST(FileNames, OrdinaryNamesStayAndHostileOnesBecomeOnePlainName) {
  for (const char* n : {"Sales", "Stok 2024", "O'Neil", "odd]name[", "Kasa.2025", "çalışan"})
    EXPECT_EQ(platform::file_stem_of_name(n), n);
  EXPECT_EQ(platform::file_stem_of_name("/../x"), "%2F..%2Fx");
  EXPECT_EQ(platform::file_stem_of_name(".."), "%2E.");
  EXPECT_EQ(platform::file_stem_of_name("a/b"), "a%2Fb");
  EXPECT_EQ(platform::file_stem_of_name(".hidden"), "%2Ehidden");
  EXPECT_EQ(platform::file_stem_of_name("a\\b%c"), "a%5Cb%25c");
  EXPECT_EQ(platform::file_stem_of_name(std::string("a\0b\n\x7f", 5)), "a%00b%0A%7F");
  // Reversible for every byte, and "%" not followed by two hex digits stays as it is.
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  for (const std::string& n : {all, std::string(".%"), std::string("%zz%4"), std::string("..."), std::string("")}) {
    const std::string stem = platform::file_stem_of_name(n);
    EXPECT_EQ(platform::name_of_file_stem(stem), n);
    EXPECT_EQ(stem.find('/'), std::string::npos);
    EXPECT_TRUE(stem.empty() || stem[0] != '.');
  }
  EXPECT_EQ(platform::name_of_file_stem("%zz%4"), "%zz%4");
  EXPECT_EQ(platform::name_of_file_stem("a%2fb"), "a/b");
}

using FilesTest = BackupFixture;

TEST_F(FilesTest, NamesWithPathPartsAreBackedUpAndZippedInsideTheWorkingFolder) {
  const std::vector<std::string> names{"/../x", "..", "a/b", ".hidden"};
  for (const auto& n : names) make_database(n);
  set_system(folder, true, false);
  const fs::path parent = fs::path(folder).parent_path().parent_path();
  fs::create_directories(folder);
  orv::test::write_file(parent / "x.Dat", "not ours");
  const std::set<std::string> parent_before = listing(parent);
  view.selected = {0, 1, 2, 3};

  run->BitBtn4Click();

  EXPECT_EQ(count_boxes_with(kBackupFailedText), 0);
  EXPECT_EQ(listing(parent), parent_before);
  EXPECT_EQ(orv::test::read_file(parent / "x.Dat"), "not ours");
  std::set<std::string> expected;
  for (const auto& n : names) {
    SCOPED_TRACE(n);
    expected.insert(BackupRun::BackupFileName(n));
    expected.insert(BackupRun::ArchiveFileName(n));
    EXPECT_EQ(last_file(n), BackupRun::ArchiveFileName(n));
    EXPECT_EQ(platform::name_of_file_stem(BackupRun::BackupFileName(n).substr(0, BackupRun::BackupFileName(n).size() - 4)), n);
    if (orv::test::have_program("unzip")) {
      const auto list = orv::test::run_command("unzip -Z1 " + orv::test::shell_quote(file(BackupRun::ArchiveFileName(n)).string()));
      EXPECT_EQ(list.output, BackupRun::BackupFileName(n) + "\n");
    }
  }
  EXPECT_EQ(listing(folder), expected);
  EXPECT_EQ(BackupRun::BackupFileName("/../x"), "%2F..%2Fx.Dat");
  EXPECT_EQ(BackupRun::BackupFileName("Sales"), "Sales.Dat");
}

TEST_F(FilesTest, SweepRemovesTheTemporariesOfEndedProcessesOnly) {
  fs::create_directories(folder);
  const std::string dead = std::to_string(dead_pid());
  const std::string live = std::to_string(::getppid());
  const std::string own = std::to_string(::getpid());
  const std::vector<std::string> orphans{".Sales.Dat." + dead + ".part", ".Sales.Dat." + dead + ".part.new-AbC123",
                                         ".a%2Fb.zip." + dead + ".part.ze-x9Y8z7", ".x.Dat.5.part.Dat." + dead + ".part",
                                         ".Big.Dat.99999999999999999999999.part"};
  const std::vector<std::string> kept{".Sales.Dat." + live + ".part", ".Sales.zip." + own + ".part", "Sales.Dat",
                                      "Sales.1.Dat", ".Sales.Dat.part", ".profile", "x.Dat." + dead + ".part",
                                      ".Sales.txt." + dead + ".part"};
  for (const auto& n : orphans) orv::test::write_file(file(n), "x");
  for (const auto& n : kept) orv::test::write_file(file(n), "x");
  fs::create_directories(file(".dir.Dat." + dead + ".part"));
  // A test restore's extraction folder goes with what it holds; a live process's stays.
  fs::create_directories(file(".Sales.zip." + dead + ".part.d"));
  fs::create_directories(file(".Sales.zip." + live + ".part.d"));
  orv::test::write_file(file(".Sales.zip." + dead + ".part.d") / "Sales.Dat", "x");
  orv::test::write_file(file(".Sales.zip." + live + ".part.d") / "Sales.Dat", "x");

  std::vector<std::string> removed = BackupRun::SweepOrphans(folder);

  std::sort(removed.begin(), removed.end());
  std::vector<std::string> want = orphans;
  want.push_back(".Sales.zip." + dead + ".part.d");
  std::sort(want.begin(), want.end());
  EXPECT_EQ(removed, want);
  std::set<std::string> left(kept.begin(), kept.end());
  left.insert(".dir.Dat." + dead + ".part");
  left.insert(".Sales.zip." + live + ".part.d");
  EXPECT_EQ(listing(folder), left);
}

// A child process backs up (or zips) and is killed in the middle; the next run leaves only the
// finished files.
class KilledRunTest : public BackupFixture {
 protected:
  // Runs `work` in a child process that must end by SIGKILL; returns the child's id.
  pid_t killed_child(const std::function<void()>& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      work();
      ::_exit(0);  // not killed: the parent reports it
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    return pid;
  }
};

TEST_F(KilledRunTest, KilledAfterTheServerWroteTheBackupLeavesNothingAfterTheNextRun) {
  make_database("Sales", 50);
  fs::create_directories(folder);
  orv::test::write_file(file("Sales.Dat"), "previous good backup");
  const pid_t child = killed_child([&] {
    run->OnBackupWritten = [](const std::string&) { ::raise(SIGKILL); };
    run->BackupDatabase("Sales", folder + "Sales.Dat");
  });
  const std::string tag = "." + std::to_string(child) + ".part";
  EXPECT_TRUE(fs::exists(file(".Sales.Dat" + tag))) << "the kill came after the server wrote";
  EXPECT_EQ(orv::test::read_file(file("Sales.Dat")), "previous good backup");

  view.selected = {row_of("Sales")};
  run->BitBtn4Click();

  EXPECT_EQ(listing(folder), (std::set<std::string>{"Sales.Dat"}));
  EXPECT_NE(orv::test::read_file(file("Sales.Dat")), "previous good backup");
}

TEST_F(KilledRunTest, KilledWhileZippingLeavesNothingAfterTheNextRun) {
  make_database("Sales", 1);
  {  // a few megabytes, so the archive is written in many steps
    dal::DataConnection c;
    c.open(settings::WindowsConnectionString());
    c.execute(server::use_statement("Sales"));
    c.execute("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 20000) "
              "INSERT INTO t SELECT x, hex(randomblob(100)) FROM n");
    c.close();
  }
  set_system(folder, true, false);
  view.selected = {row_of("Sales")};
  run->BitBtn4Click();
  const std::string archive = orv::test::read_file(file("Sales.zip"));
  const pid_t child = killed_child([&] {
    archiver.OnProgress = [](zip::TZipArchiver*, zip::ProgressType type, const std::string&, std::int64_t) {
      if (type == zip::ProgressType::ProgressUpdate) ::raise(SIGKILL);
    };
    run->ZipBackupFile(folder + "Sales.Dat", "Sales");
  });
  // The zip engine writes the archive unnamed where the file system allows (nothing to see
  // then); otherwise the killed writer's temporary carries its pid. Nothing else may be there.
  for (const auto& n : listing(folder))
    EXPECT_TRUE(n == "Sales.Dat" || n == "Sales.zip" || n.find("." + std::to_string(child) + ".part") != std::string::npos)
        << n;
  EXPECT_EQ(orv::test::read_file(file("Sales.zip")), archive);

  run->BitBtn4Click();

  EXPECT_EQ(listing(folder), (std::set<std::string>{"Sales.Dat", "Sales.zip"}));
}

// A statement failing on a full disk at any write leaves the folder as it was: no 0-byte or
// partial ".Dat" where none was, the previous file byte-identical where one was.
TEST_F(FilesTest, FullDiskAtAnyWriteLeavesTheFolderAsItWas) {
  make_database("Sales", 50);
  fs::create_directories(folder);
  for (bool previous : {false, true}) {
    SCOPED_TRACE(previous ? "with a previous backup" : "first backup");
    if (previous) orv::test::write_file(file("Sales.Dat"), "previous good backup");
    int failures = 0;
    for (long n = 1; n < 500; ++n) {
      platform::io::inject_fault(platform::io::Fault::NoSpace, n);
      const bool ok = run->BackupDatabase("Sales", folder + "Sales.Dat");
      const bool fired = platform::io::fault_fired();
      platform::io::clear_fault();
      if (!fired) {
        EXPECT_TRUE(ok);
        break;
      }
      if (ok) {  // a fault the writer could pass over: the file must be whole
        fs::remove(file("Sales.Dat"));
        if (previous) orv::test::write_file(file("Sales.Dat"), "previous good backup");
        continue;
      }
      ++failures;
      SCOPED_TRACE("fault at call " + std::to_string(n));
      if (previous) {
        EXPECT_EQ(listing(folder), (std::set<std::string>{"Sales.Dat"}));
        EXPECT_EQ(orv::test::read_file(file("Sales.Dat")), "previous good backup");
      } else {
        EXPECT_TRUE(listing(folder).empty()) << *listing(folder).begin();
      }
    }
    EXPECT_GT(failures, 0);
    fs::remove(file("Sales.Dat"));
  }
}

}  // namespace
}  // namespace orv::backup::testing
