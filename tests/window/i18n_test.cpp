// The message strings and the lookup in Language_Tbl, over a real settings connection.
#include <gtest/gtest.h>

#include <set>

#include "i18n/language_query.h"
#include "i18n/messages.h"
#include "dal/connection.h"
#include "dal/dataset.h"
#include "dal/sqlite_driver.h"
#include "settings_fixture.h"
#include "test_env.h"

namespace {

using orv::test::LanguageRow;

class LanguageLookup : public ::testing::Test {
 protected:
  void open(const std::vector<LanguageRow>& rows) {
    orv::dal::register_sqlite_driver();
    file_ = env_.work() / "lang.db";
    orv::test::create_language_db(file_, rows);
    connection_.open(orv::test::sqlite_connection_string(file_));
  }
  orv::test::TestEnv env_;
  std::filesystem::path file_;
  orv::dal::DataConnection connection_;
  orv::dal::Query query_{connection_};
  orv::i18n::QueryLanguageTable table_{query_};
};

TEST_F(LanguageLookup, KeyWithoutRowComesBackUnchangedAndRowsGiveTheirLanguageText) {
  open({{"RESTORE", "RESTORE", "GERI YUKLE"}, {"Empty", "Empty", ""}, {"Nulled", "Nulled", "", true}});
  EXPECT_EQ(orv::i18n::TranslateText(table_, "RESTORE"), "GERI YUKLE");
  EXPECT_EQ(orv::i18n::TranslateText(table_, "restore"), "restore") << "keys match exactly";
  EXPECT_EQ(orv::i18n::TranslateText(table_, "Restore_Comp_Str"), "Restore_Comp_Str");
  EXPECT_EQ(orv::i18n::TranslateText(table_, "Empty"), "") << "an empty Language value is a blank text, not the key";
  EXPECT_EQ(orv::i18n::TranslateText(table_, "Nulled"), "");
  // The lookup leaves the shared query with its own statement.
  ASSERT_EQ(query_.sql().size(), 2u);
  EXPECT_EQ(query_.sql()[0], "Select * From Language_Tbl");
  EXPECT_EQ(query_.sql()[1], "Where Degisken=:Degisken");
}

TEST_F(LanguageLookup, DoubledAmpersandAndQuotesAreLookedUpAsWritten) {
  open({{"Archive files only && Clear Archive Bit", "x", "Nur Archiv && Bit"}, {"It's", "x", "Es ist"}});
  EXPECT_EQ(orv::i18n::TranslateText(table_, "Archive files only && Clear Archive Bit"), "Nur Archiv && Bit");
  EXPECT_EQ(orv::i18n::TranslateText(table_, "Archive files only & Clear Archive Bit"),
            "Archive files only & Clear Archive Bit");
  EXPECT_EQ(orv::i18n::TranslateText(table_, "It's"), "Es ist");
}

TEST_F(LanguageLookup, EmptyTableGivesEveryMessageStringItsKey) {
  open({});
  orv::i18n::MessageStrings strings;
  orv::i18n::load_message_strings(table_, strings);
  for (const auto& k : orv::i18n::kMessageKeys) EXPECT_EQ(strings.*k.field, k.key);
}

TEST_F(LanguageLookup, EveryMessageStringIsFilledFromItsOwnRow) {
  std::vector<LanguageRow> rows;
  for (const auto& k : orv::i18n::kMessageKeys) rows.push_back({std::string(k.key), "en", "tx:" + std::string(k.key)});
  open(rows);
  orv::i18n::MessageStrings strings;
  orv::i18n::load_message_strings(table_, strings);
  for (const auto& k : orv::i18n::kMessageKeys) EXPECT_EQ(strings.*k.field, "tx:" + std::string(k.key));
}

TEST_F(LanguageLookup, ErrorOfTheSettingsDatabaseStopsThePassAndLeavesLaterStrings) {
  open({{"Suc_Conc_Str", "en", "ok"}});
  orv::i18n::MessageStrings strings;
  strings.Connect = "before";
  orv::test::sql_exec(file_, "DROP TABLE Language_Tbl;");
  EXPECT_ANY_THROW(orv::i18n::load_message_strings(table_, strings));
  EXPECT_EQ(strings.Connect, "before");
}

TEST_F(LanguageLookup, ClosedSettingsConnectionIsAnError) {
  open({});
  connection_.close();
  EXPECT_ANY_THROW(orv::i18n::TranslateText(table_, "RESTORE"));
}

TEST(MessageKeys, FortyThreeDistinctKeysInLoadOrder) {
  std::set<std::string_view> keys;
  orv::i18n::MessageStrings marked;
  for (const auto& k : orv::i18n::kMessageKeys) {
    keys.insert(k.key);
    marked.*k.field = std::string(k.key);
  }
  EXPECT_EQ(keys.size(), 43u);
  // Each key writes its own string: no two keys share a field.
  for (const auto& k : orv::i18n::kMessageKeys) EXPECT_EQ(marked.*k.field, k.key);
  EXPECT_EQ(orv::i18n::kMessageKeys.front().key, "Suc_Conc_Str");
  EXPECT_EQ(orv::i18n::kMessageKeys[5].key, "MS_Not_Found");
  EXPECT_EQ(orv::i18n::kMessageKeys.back().key, "Backup_To_Direct_Str");
  orv::i18n::MessageStrings s;
  s.*orv::i18n::kMessageKeys[5].field = "x";
  EXPECT_EQ(s.MS_Not_Found, "x");
}

TEST(Placeholders, ReplacedWithoutRegardToCaseEveryTime) {
  using orv::i18n::replace_placeholder;
  EXPECT_EQ(replace_placeholder("Cannot create <DIRECTORY> (<directory>)", "<Directory>", "/srv/b/"),
            "Cannot create /srv/b/ (/srv/b/)");
  EXPECT_EQ(replace_placeholder("Backing up <Database>", "<Database>", "<Database>x"), "Backing up <Database>x")
      << "a replacement is not scanned again";
  EXPECT_EQ(replace_placeholder("no marker", "<Database>", "db"), "no marker");
  EXPECT_EQ(replace_placeholder("<Datab", "<Database>", "db"), "<Datab");
}

}  // namespace
