// Write faults walked over every writer of files users keep: for each counted write call of a
// small case (platform/file_write.h), that call fails once with ENOSPC or EIO, or moves only half
// its bytes. A failed write must leave the previous good file byte-identical, nothing under the
// final name that was not there before, no temporary file beside it, and an error carrying the
// system's text; a short write must be retried into a correct file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "burner/image_writer.h"
#include "platform/file_write.h"
#include "platform/profile.h"
#include "server/backup_format.h"
#include "settings/store/settings_db_file.h"
#include "test_env.h"
#include "zip/engine/session.h"
#include "zip/engine/zip_writer.h"

namespace {

namespace fs = std::filesystem;
namespace io = orv::platform::io;
using orv::test::read_file;
using orv::test::write_file;

std::set<std::string> names_in(const fs::path& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
  return out;
}

struct Case {
  fs::path folder;                         // holds the final file and nothing else of the writer
  fs::path final_file;
  std::optional<std::string> previous;     // the good file before the write (nullopt: none)
  std::function<std::string()> write;      // "" on success, else the error text
  std::function<void(const std::string&)> check_written;  // the bytes of a successful write
};

// Walks n over every counted call of `c.write` for each kind of fault. Returns the number of
// counted calls of a clean write, so a caller can see the walk covered something.
long Walk(const char* writer, const Case& c) {
  auto reset = [&] {
    for (const auto& e : fs::directory_iterator(c.folder)) fs::remove_all(e.path());
    if (c.previous) write_file(c.final_file, *c.previous);
  };
  reset();
  io::clear_fault();
  EXPECT_EQ(c.write(), "") << writer << ": the clean write";
  const long calls = io::counted_calls();
  c.check_written(read_file(c.final_file));
  EXPECT_GT(calls, 0) << writer << " writes through the seam";

  for (io::Fault fault : {io::Fault::NoSpace, io::Fault::IoError, io::Fault::Short}) {
    for (long n = 1;; ++n) {
      SCOPED_TRACE(std::string(writer) + ": " + io::fault_name(fault) + " at call " + std::to_string(n));
      reset();
      const std::set<std::string> before = names_in(c.folder);
      io::inject_fault(fault, n);
      const std::string error = c.write();
      const bool fired = io::fault_fired();
      io::clear_fault();
      if (!fired) {
        EXPECT_EQ(error, "");
        EXPECT_GE(n, calls) << "the walk ended before the last call of a clean write";
        break;
      }
      EXPECT_EQ(names_in(c.folder), c.previous || error.empty() ? std::set<std::string>{c.final_file.filename().string()}
                                                                 : before)
          << "a temporary file left, or a file under the final name after a failure";
      if (fault == io::Fault::Short) {
        EXPECT_EQ(error, "") << "a short write is retried";
        if (error.empty()) c.check_written(read_file(c.final_file));
        continue;
      }
      EXPECT_NE(error, "") << "a failed write reported as success";
      if (error.empty()) continue;
      const char* text = std::strerror(fault == io::Fault::NoSpace ? ENOSPC : EIO);
      EXPECT_NE(error.find(text), std::string::npos) << "the error lacks the system's text: " << error;
      if (c.previous) {
        EXPECT_TRUE(read_file(c.final_file) == *c.previous) << "the previous good file changed";
      }
    }
  }
  return calls;
}

std::string Pattern(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7) >> 2);
  return s;
}

class WriteFault : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = env.work() / "out";
    fs::create_directories(folder);
  }
  void TearDown() override { io::clear_fault(); }
  orv::test::TestEnv env;
  fs::path folder;
};

// The local engine's backup file: a new file replaces the old one, and a set appended to a
// file of good sets is cut off again on failure.
TEST_F(WriteFault, BackupSetOfTheLocalEngine) {
  const fs::path data = env.work() / "data.bin";
  write_file(data, Pattern(300000, 1));
  auto write_set = [&](bool init) {
    const int fd = ::open(data.c_str(), O_RDONLY | O_CLOEXEC);
    orv::server::BackupSet h;
    h.server_name = "host";
    h.user_name = "me";
    h.database_name = "Accounting";
    std::vector<orv::server::BackupSource> files(2);
    files[0].entry = orv::server::BackupFile{"Accounting", "/srv/a.sqlite", 'D', 300000, 0, 0};
    files[0].fd = fd;
    files[1].entry = orv::server::BackupFile{"Accounting_log", "/srv/a.sqlite-journal", 'L', 0, 0, 0};
    std::string error;
    try {
      orv::server::append_backup_set(folder / "Accounting.Dat", h, files, init);
    } catch (const std::exception& e) {
      error = e.what();
    }
    ::close(fd);
    return error;
  };
  auto sets_in = [](const std::string& bytes) {
    orv::server::MemorySource src(bytes.data(), bytes.size());
    return orv::server::read_backup_sets(src).size();
  };
  // A good file of one set, as the previous backup.
  ASSERT_EQ(write_set(true), "");
  const std::string one_set = read_file(folder / "Accounting.Dat");

  Case replace{folder, folder / "Accounting.Dat", one_set, [&] { return write_set(true); },
               [&](const std::string& b) { EXPECT_EQ(sets_in(b), 1u); }};
  EXPECT_GT(Walk("backup set, new file", replace), 3);
  Case append{folder, folder / "Accounting.Dat", one_set, [&] { return write_set(false); },
              [&](const std::string& b) {
                EXPECT_EQ(sets_in(b), 2u);
                EXPECT_EQ(b.compare(0, one_set.size(), one_set), 0);
              }};
  EXPECT_GT(Walk("backup set, appended", append), 3);
}

// A disc image: the header stream and one file's data.
TEST_F(WriteFault, DiscImage) {
  const fs::path source = env.work() / "payroll.Dat";
  const std::string payload = Pattern(5000, 2);
  write_file(source, payload);
  const std::vector<uint8_t> header(16 * 2048, 0x5a);
  std::vector<orv::burner::TTrackPiece> pieces(2);
  pieces[0].kind = orv::burner::TTrackPiece::Kind::Header;
  pieces[0].bytes = pieces[0].padded = static_cast<int64_t>(header.size());
  pieces[1].kind = orv::burner::TTrackPiece::Kind::File;
  pieces[1].path = source.string();
  pieces[1].bytes = static_cast<int64_t>(payload.size());
  pieces[1].padded = 3 * 2048;
  const fs::path image = folder / "backup.iso";
  Case c{folder, image, Pattern(7 * 2048, 3), [&] { return orv::burner::WriteImageFile(image.string(), pieces, header); },
         [&](const std::string& b) {
           ASSERT_EQ(b.size(), header.size() + 3 * 2048);
           EXPECT_TRUE(b.substr(header.size(), payload.size()) == payload) << "the file's data differs";
         }};
  EXPECT_GT(Walk("disc image", c), 2);
}

// A zip archive written by the engine over an older one.
TEST_F(WriteFault, ZipArchive) {
  if (!orv::test::have_program("unzip")) GTEST_SKIP() << "unzip not installed";
  const fs::path source = env.work() / "Sales.Dat";
  const std::string payload = Pattern(200000, 4);
  write_file(source, payload);
  const fs::path archive = folder / "Sales.zip";
  auto write_zip = [&] {
    try {
      orv::zip::engine::Session session(nullptr, [](void*, ZE_CallbackRecord*) -> int32_t { return 0; }, true);
      orv::zip::engine::ZipWriter writer(archive.string(), session, 6);
      orv::zip::engine::NewEntry entry;
      entry.source = source.string();
      entry.name = "Sales.Dat";
      entry.size = payload.size();
      entry.mtime = 1700000000;
      entry.mode = 0100644;
      writer.add_file(entry);
      writer.commit("");
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  Case c{folder, archive, Pattern(3000, 5), write_zip, [&](const std::string&) {
           const auto r = orv::test::run_command("unzip -p " + orv::test::shell_quote(archive.string()) + " Sales.Dat");
           EXPECT_EQ(r.exit_code, 0);
           EXPECT_TRUE(r.output == payload) << "the archive's entry differs from its file";
         }};
  EXPECT_GT(Walk("zip archive", c), 2);
}

// ORVAKELL.ini and server.ini: a profile written through a temporary file and a rename.
TEST_F(WriteFault, ProfileFile) {
  const fs::path ini = folder / "ORVAKELL.ini";
  const std::string previous = "[Recorder]\nDevice=1:0:0\n";
  Case c{folder, ini, previous,
         [&] {
           try {
             orv::platform::ProfileFile(ini).write_string("Recorder", "Speed", "8");
           } catch (const std::exception& e) {
             return std::string(e.what());
           }
           return std::string();
         },
         [&](const std::string& b) { EXPECT_EQ(b, "[Recorder]\r\nDevice=1:0:0\r\nSpeed=8\r\n"); }};
  EXPECT_GT(Walk("profile", c), 1);
}

// The shipped settings database is made only where none exists: a failure leaves no file.
TEST_F(WriteFault, ShippedSettingsDatabase) {
  const fs::path db = folder / "Velmora.db";
  const fs::path script = orv::test::source_dir() / "data" / "Velmora.sql";
  Case c{folder, db, std::nullopt,
         [&] {
           const auto r = orv::settings::make_settings_db(script, db);
           return r.outcome == orv::settings::SettingsDbResult::Outcome::Made ? std::string() : r.error;
         },
         [&](const std::string& b) { EXPECT_EQ(b.compare(0, 15, "SQLite format 3"), 0); }};
  EXPECT_GE(Walk("settings database", c), 1);
}

}  // namespace
