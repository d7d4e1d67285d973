// The restore (BitBtn2Click's work) against the local server engine: file and archive branch,
// confirmation, folder creation, statements, boxes and the final step.
#include "backup/restore/restore_database.h"

#include <gtest/gtest.h>

#include "restore_fixture.h"

namespace orv::backup {
namespace {

namespace fs = std::filesystem;
using testing::RecordingView;
using testing::ServerFixture;

struct RestoreFixture : ServerFixture {
  RestoreFixture() {
    fs::create_directories(folder);
    testing::wire_archiver(zip);
  }

  // Database `name` with table t(v) holding `values`.
  void make_database(const std::string& name, const std::vector<std::string>& values) {
    exec("CREATE DATABASE " + server::quote_identifier(name));
    exec(server::use_statement(name));
    exec("CREATE TABLE t(v TEXT)");
    for (const auto& v : values) exec("INSERT INTO t VALUES(" + server::quote_literal(v) + ")");
    exec("USE master");
  }
  void set_value(const std::string& database, const std::string& from, const std::string& to) {
    exec(server::use_statement(database));
    exec("UPDATE t SET v=" + server::quote_literal(to) + " WHERE v=" + server::quote_literal(from));
    exec("USE master");
  }
  std::string backup(const std::string& database, const fs::path& file) {
    exec(server::backup_statement(database, file.string()));
    return file.string();
  }
  void make_archive(const fs::path& archive, const std::vector<std::string>& files) {
    zip.FSpecArgs.clear();
    zip.SetZipFileName(archive.string());
    for (const auto& f : files) zip.FSpecArgs.push_back(f);
    ASSERT_EQ(zip.Add(), static_cast<int>(files.size())) << zip.Message();
  }

  RestoreResult restore(std::optional<std::string> chosen) {
    dialogs.answer_file(std::move(chosen));
    log.recording = true;
    RestoreContext c{dialogs, view, query, zip, folder.string() + "/", strings};
    RestoreResult r = RestoreDatabase(c);
    log.recording = false;
    return r;
  }

  // After any outcome: status lines empty, timer on, no progress window.
  void expect_final_state() {
    EXPECT_EQ(view.label10, "");
    EXPECT_EQ(view.label11, "");
    EXPECT_TRUE(view.timer2);
    EXPECT_FALSE(view.progress_open);
    ASSERT_FALSE(view.events.empty());
    EXPECT_EQ(view.events.front(), "Timer2 off");
  }
  std::vector<std::string> box_texts() const {
    std::vector<std::string> texts;
    for (const auto& b : dialogs.boxes()) texts.push_back(b.text);
    return texts;
  }

  fs::path folder = env.work() / "working folder";
  ui::ScriptedDialogs dialogs;
  RecordingView view;
  i18n::MessageStrings strings = testing::key_strings();
  dal::Query query{sqlc};
  zip::TZipArchiver zip;
};

TEST(RestoreNames, ArchiveTestIsContainmentWithoutCase) {
  EXPECT_TRUE(IsArchiveName("/b/nightly.zip.dat"));
  EXPECT_TRUE(IsArchiveName("X.ZIP"));
  EXPECT_TRUE(IsArchiveName("a.Zip"));
  EXPECT_FALSE(IsArchiveName("/b/nightly.dat"));
  EXPECT_FALSE(IsArchiveName("zip/nightly.dat"));
  EXPECT_EQ(BareFileName("dir\\sub/Sales.Dat"), "Sales.Dat");
  EXPECT_EQ(BareFileName("Sales.Dat"), "Sales.Dat");
  EXPECT_EQ(JoinFolder("/w/", "a"), "/w/a");
  EXPECT_EQ(JoinFolder("/w", "a"), "/w/a");
}

TEST(Restore, DatFileRestoresTheBackedUpRowsWithStatementsInOrder) {
  RestoreFixture f;
  f.make_database("Sales", {"a", "b"});
  std::string bak = f.backup("Sales", f.env.work() / "Sales.Dat");
  f.set_value("Sales", "a", "changed");

  RestoreResult r = f.restore(bak);
  EXPECT_TRUE(r.restored);
  EXPECT_EQ(r.database, "Sales");
  EXPECT_EQ(f.column("Sales", "t", "v"), (std::vector<std::string>{"a", "b"}));

  // The dialog, then one success box only.
  ASSERT_EQ(f.dialogs.events().size(), 2u);
  const auto& request = std::get<ui::FileRequest>(f.dialogs.events()[0]);
  EXPECT_EQ(request.title, "QELMARDOX");
  EXPECT_EQ(request.filter, kRestoreDialogFilter);
  ASSERT_EQ(f.dialogs.boxes().size(), 1u);
  EXPECT_EQ(f.dialogs.boxes()[0], (ui::Box{ui::BoxKind::Information, "Restore_Bsk_Str", "Restore_Comp_Str"}));

  // Statements as sent: header, file list, leave the database, restore; names quoted.
  std::vector<std::string> expected = {server::restore_headeronly_statement(bak),
                                       server::restore_filelistonly_statement(bak), "USE [master]",
                                       server::restore_statement("Sales", bak)};
  EXPECT_EQ(f.log.statements, expected);
  // No archive branch.
  EXPECT_EQ(f.view.progress_opened, 0);
  EXPECT_EQ(f.view.confirmed_database, "Sales");
  f.expect_final_state();
}

TEST(Restore, ArchiveNamesTakeTheArchiveBranch) {
  for (const char* name : {"nightly.zip.dat", "X.ZIP"}) {
    SCOPED_TRACE(name);
    RestoreFixture f;
    f.make_database("Sales", {"old"});
    std::string bak = f.backup("Sales", f.env.work() / "Sales.Dat");
    fs::path archive = f.env.work() / name;
    f.make_archive(archive, {bak});
    fs::remove(bak);
    f.set_value("Sales", "old", "new");

    RestoreResult r = f.restore(archive.string());
    EXPECT_TRUE(r.restored);
    EXPECT_EQ(r.restore_file, (f.folder / "Sales.Dat").string());
    EXPECT_TRUE(fs::exists(f.folder / "Sales.Dat"));  // the extracted file stays
    EXPECT_EQ(f.column("Sales", "t", "v"), (std::vector<std::string>{"old"}));
    EXPECT_EQ(f.view.progress_opened, 1);
    EXPECT_NE(std::find(f.view.events.begin(), f.view.events.end(), "Label10=Extract_Zip_Str"), f.view.events.end());
    EXPECT_EQ(f.box_texts(), (std::vector<std::string>{"Restore_Comp_Str"}));
    f.expect_final_state();
  }
}

TEST(Restore, ArchiveReplacesAStaleFileOfTheSameNameInTheWorkingFolder) {
  RestoreFixture f;
  f.make_database("Sales", {"archived"});
  std::string bak = f.backup("Sales", f.env.work() / "Sales.Dat");
  fs::path archive = f.env.work() / "Sales.zip";
  f.make_archive(archive, {bak});
  // A later backup of changed rows lies in the working folder under the entry's name.
  f.set_value("Sales", "archived", "later");
  f.backup("Sales", f.folder / "Sales.Dat");
  f.set_value("Sales", "later", "latest");
  // An archiver whose overwrite question is answered "keep the existing file" (as an archiver
  // without the overwrite option does) must still restore the archive's content.
  int asked = 0;
  f.zip.OnExtractOverwrite = [&](zip::TZipArchiver*, const std::string&, bool, bool& DoOverwrite, int) {
    ++asked;
    DoOverwrite = false;
  };

  RestoreResult r = f.restore(archive.string());
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(r.restored);
  EXPECT_EQ(f.column("Sales", "t", "v"), (std::vector<std::string>{"archived"}));
  EXPECT_EQ(fs::file_size(f.folder / "Sales.Dat"), fs::file_size(bak));
  f.expect_final_state();
}

TEST(Restore, TwoEntryArchiveEndsWithTheErrorBoxAndRestoresNothing) {
  RestoreFixture f;
  f.make_database("Sales", {"old"});
  std::string bak = f.backup("Sales", f.env.work() / "Sales.Dat");
  orv::test::write_file(f.env.work() / "notes.txt", "second entry");
  fs::path archive = f.env.work() / "two.zip";
  f.make_archive(archive, {bak, (f.env.work() / "notes.txt").string()});
  f.set_value("Sales", "old", "new");

  RestoreResult r = f.restore(archive.string());
  EXPECT_FALSE(r.restored);
  EXPECT_EQ(f.box_texts(), (std::vector<std::string>{"Opera_Error_Str"}));
  EXPECT_EQ(f.dialogs.boxes()[0].kind, ui::BoxKind::Error);
  EXPECT_TRUE(f.log.statements.empty());
  EXPECT_FALSE(fs::exists(f.folder / "Sales.Dat"));
  EXPECT_FALSE(fs::exists(f.folder / "notes.txt"));
  EXPECT_EQ(f.column("Sales", "t", "v"), (std::vector<std::string>{"new"}));
  EXPECT_EQ(f.view.confirmations, 0);
  f.expect_final_state();
}

TEST(Restore, SeveralBackupSetsRestoreTheFirst) {
  RestoreFixture f;
  f.make_database("Sales", {"first"});
  fs::path file = f.env.work() / "Sales.Dat";
  f.backup("Sales", file);
  f.set_value("Sales", "first", "second");
  f.backup("Sales", file);  // appended as set 2
  f.set_value("Sales", "second", "third");

  dal::Query header(f.sqlc);
  header.set_sql({server::restore_headeronly_statement(file.string())});
  header.open();
  ASSERT_EQ(header.record_count(), 2);
  const std::string first_start = dal::format_date_time(header.field("BackupStartDate").as_date_time());
  header.close();

  RestoreResult r = f.restore(file.string());
  EXPECT_TRUE(r.restored);
  EXPECT_EQ(f.column("Sales", "t", "v"), (std::vector<std::string>{"first"}));
  EXPECT_EQ(f.view.confirmed_time, first_start);
  f.expect_final_state();
}

TEST(Restore, DatabaseComesBackUnderTheNameStoredInTheBackup) {
  RestoreFixture f;
  const std::string name = "Kasa 'Eski' [1]";
  f.make_database(name, {"x", "y"});
  std::string bak = f.backup(name, f.env.work() / "kasa.Dat");
  f.exec("DROP DATABASE " + server::quote_identifier(name));

  RestoreResult r = f.restore(bak);
  EXPECT_TRUE(r.restored);
  EXPECT_EQ(f.view.confirmed_database, name);
  EXPECT_TRUE(f.sent(server::restore_statement(name, bak)));
  EXPECT_EQ(f.column(name, "t", "v"), (std::vector<std::string>{"x", "y"}));
  f.expect_final_state();
}

TEST(Restore, FolderErrorNamesTheWholePhysicalFileAndSendsNoRestore) {
  RestoreFixture f;
  f.strings.Directory_Create_Error_Str = "Cannot make <dIrEcToRy>; <DIRECTORY>";
  f.make_database("Sales", {"a"});
  std::string bak = f.backup("Sales", f.env.work() / "Sales.Dat");

  dal::Query list(f.sqlc);
  list.set_sql({server::restore_filelistonly_statement(bak)});
  list.open();
  const std::string physical = list.field("PhysicalName").as_string();
  list.close();
  // The data file's folder becomes a plain file: no folder can be made there.
  fs::path data = fs::path(physical).parent_path();
  fs::path moved = data.string() + ".moved";
  fs::rename(data, moved);
  orv::test::write_file(data, "in the way");

  RestoreResult r = f.restore(bak);
  fs::remove(data);
  fs::rename(moved, data);

  EXPECT_FALSE(r.restored);
  ASSERT_EQ(f.dialogs.boxes().size(), 2u);
  EXPECT_EQ(f.dialogs.boxes()[0],
            (ui::Box{ui::BoxKind::Error, "Directory_Create_Error_Str_Bsk", "Cannot make " + physical + "; " + physical}));
  EXPECT_EQ(f.dialogs.boxes()[1], (ui::Box{ui::BoxKind::Error, "Restore_Bsk_Str", "Opera_Error_Str"}));
  EXPECT_FALSE(f.sent("Restore database"));
  EXPECT_EQ(f.column("Sales", "t", "v"), (std::vector<std::string>{"a"}));
  f.expect_final_state();
}

TEST(Restore, MissingFoldersAreCreated) {
  RestoreFixture f;
  f.make_database("Sales", {"a"});
  std::string bak = f.backup("Sales", f.env.work() / "Sales.Dat");
  dal::Query list(f.sqlc);
  list.set_sql({server::restore_filelistonly_statement(bak)});
  list.open();
  fs::path data = fs::path(list.field("PhysicalName").as_string()).parent_path();
  list.close();
  f.exec("DROP DATABASE [Sales]");
  fs::remove_all(data);

  RestoreResult r = f.restore(bak);
  EXPECT_TRUE(r.restored);
  EXPECT_TRUE(fs::is_directory(data));
  EXPECT_EQ(f.column("Sales", "t", "v"), (std::vector<std::string>{"a"}));
}

TEST(Restore, CancelledDialogShowsNothingAndTurnsTheTimerOn) {
  RestoreFixture f;
  RestoreResult r = f.restore(std::nullopt);
  EXPECT_FALSE(r.file_chosen);
  EXPECT_TRUE(f.dialogs.boxes().empty());
  EXPECT_TRUE(f.log.statements.empty());
  f.expect_final_state();
}

TEST(Restore, CancelledConfirmationClearsTheLinesThenTheErrorBox) {
  RestoreFixture f;
  f.make_database("Sales", {"a"});
  std::string bak = f.backup("Sales", f.env.work() / "Sales.Dat");
  f.set_value("Sales", "a", "b");
  f.view.confirm_answer = false;

  RestoreResult r = f.restore(bak);
  EXPECT_FALSE(r.restored);
  EXPECT_EQ(f.box_texts(), (std::vector<std::string>{"Opera_Error_Str"}));
  EXPECT_EQ(f.log.statements, (std::vector<std::string>{server::restore_headeronly_statement(bak)}));
  EXPECT_EQ(f.column("Sales", "t", "v"), (std::vector<std::string>{"b"}));
  f.expect_final_state();
}

TEST(Restore, ServerErrorComesAfterTheErrorBoxWithTheServersText) {
  RestoreFixture f;
  orv::test::write_file(f.env.work() / "junk.Dat", "not a backup at all");
  try {
    f.restore((f.env.work() / "junk.Dat").string());
    ADD_FAILURE() << "no error";
  } catch (const dal::ProviderError& e) {
    EXPECT_FALSE(std::string(e.what()).empty());
  }
  EXPECT_EQ(f.box_texts(), (std::vector<std::string>{"Opera_Error_Str"}));
  f.expect_final_state();
}

TEST(Restore, RestoreWhileTheConnectionIsInTheDatabase) {
  RestoreFixture f;
  f.make_database("Sales", {"a"});
  std::string bak = f.backup("Sales", f.env.work() / "Sales.Dat");
  f.set_value("Sales", "a", "b");
  f.exec("USE [Sales]");  // as the maintenance leaves the connection
  RestoreResult r = f.restore(bak);
  EXPECT_TRUE(r.restored);
  EXPECT_EQ(f.column("Sales", "t", "v"), (std::vector<std::string>{"a"}));
}

}  // namespace
}  // namespace orv::backup
