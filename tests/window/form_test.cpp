// The main window: its controls, the translation pass over it, the folder choice and the tray.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>

#include "core/clock.h"
#include "core/scripted_dialogs.h"
#include "app/window/banded_grid.h"
#include "app/window/form_database_yolu.h"
#include "app/window/form_main.h"
#include "app/window/form_rest_file.h"
#include "app/window/translate_form.h"
#include "i18n/language_query.h"
#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "settings_fixture.h"
#include "test_env.h"

using orv::app::TFormMain;
using orv::test::LanguageRow;

namespace {

// The captions the window is designed with, which are also the translation keys.
const QStringList kMainCaptionKeys = {
    "ORVAKELL", "Drive :", "Label", "Label8", "0", "Label2", "Backup Path", "Speed", "Cache", "Memory : ", "Status : ",
    "MB", "CD YAZ", "Joliet File System", "Underrun Protection", "Yazma Testi Yap", "Import Session", "Perform OPC",
    "Quick Save .ISO", "Bootable", "Yazarken Dosyaları Göster", "Archive files only && Clear Archive Bit",
    "Explorer style Directory/File view", "Yazdıktan Sonra Diski Çıkart", "Diski Kapat (Yazma İşlemi Bitince)",
    "Database", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday", "CANCEL", "BACKUP1",
    "RESTORE", "SETTING", "CLOSE1", "LANGUAGE", "To zip", "Write to CD or DVD", "Show", "Hide", "Close",
    "REPAIR INDEX", "REPAIR TABLE", "Verify by restoring"};

// A language table on a database of its own, for passes run directly.
struct LanguageDb {
  explicit LanguageDb(const std::filesystem::path& file, const std::vector<LanguageRow>& rows) {
    orv::dal::register_sqlite_driver();
    orv::test::create_language_db(file, rows);
    connection.open(orv::test::sqlite_connection_string(file));
  }
  orv::dal::DataConnection connection;
  orv::dal::Query query{connection};
  orv::i18n::QueryLanguageTable table{query};
};

}  // namespace

class FormTest : public QObject {
  Q_OBJECT
 private slots:
  void controlsCarryTheirDesignNamesAndCaptions();
  void captionKeysAreTheDesignCaptions();
  void emptyTableKeepsCaptionsAndGivesKeysAsMessages();
  void restoreRowChangesExactlyThoseCaptions();
  void doubledAmpersandCaptionIsLookedUpAsWritten();
  void folderDialogReturnsTheSelectedFolder();
  void restoreConfirmationButtonsAreTranslated();
};

void FormTest::controlsCarryTheirDesignNamesAndCaptions() {
  orv::test::TestEnv env;
  orv::ui::ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  const QList<QPair<QString, QString>> expected = {
      {"BitBtn4", "BACKUP1"}, {"BitBtn2", "RESTORE"}, {"BitBtn5", "SETTING"}, {"BitBtn3", "LANGUAGE"},
      {"BitBtn1", "CLOSE1"}, {"Label12", "Backup Path"}, {"DBCheckBox2", "To zip"},
      {"DBCheckBox3", "Write to CD or DVD"}, {"lDrive", "Drive :"}, {"Label7", "Speed"}, {"Label1", "Label"},
      {"Label4", "Cache"}, {"bAbort", "CANCEL"}, {"bBurn", "CD YAZ"}, {"cJoliet", "Joliet File System"},
      {"cArchiveOnly", "Archive files only && Clear Archive Bit"}, {"Label9", "0"}, {"lSize", "MB"}};
  for (const auto& [name, caption] : expected) {
    QObject* o = w.findChild<QObject*>(name);
    QVERIFY2(o, qPrintable(name));
    QCOMPARE(o->property("text").toString(), caption);
  }
  QCOMPARE(w.windowTitle(), QString("ORVAKELL"));
  // The 775 x 521 view lies inside the scroll bars, and the status bar at its bottom shows whole.
  // (the scroll bars are always on, so the view is the area without them).
  const QSize view = w.ScrollBox->maximumViewportSize();
  QCOMPARE(view, QSize(775, 521));
  QVERIFY(QRect(QPoint(0, 0), view).contains(w.pbottom->geometry()));
  QCOMPARE(w.Content->size(), QSize(1265, 595));
  QVERIFY(w.Label10->text().isEmpty());
  QVERIFY(w.Label11->text().isEmpty());
  QVERIFY(w.bAbort->isHidden());
  QVERIFY(w.bBurn->isHidden());
  QVERIFY(w.CheckBox2->isHidden());
  QCOMPARE(w.eVolLabel->maxLength(), 16);
  QCOMPARE(w.Timer1->interval(), 500);
  QCOMPARE(w.Timer2->interval(), 55000);
  QCOMPARE(w.Timer3->interval(), 500);
  QVERIFY(w.Timer1->isActive() && w.Timer2->isActive() && w.Timer3->isActive());
  // The disc panel lies beyond the first view and is reached by scrolling.
  QVERIFY(w.cCloseDisc->geometry().right() > 775 || w.cCloseDisc->geometry().bottom() > 521);
  QVERIFY(w.clBox->geometry().left() >= 775);
  QCOMPARE(w.sCacheSize->minimum(), 2);
  QCOMPARE(w.sCacheSize->maximum(), 64);
  w.sCacheSize->setValue(12);
  QCOMPARE(w.Label3->text(), QString("12 MB"));
  QVERIFY(!w.eSession->isEnabled());
  w.cImportSession->click();
  QVERIFY(w.eSession->isEnabled());
  // The grids share one model, one current row and one pop-up menu.
  QCOMPARE(w.BandedGrid1->view()->model(), w.BandedGrid2->view()->model());
  QCOMPARE(w.BandedGrid1->view()->selectionModel(), w.BandedGrid2->view()->selectionModel());
  QCOMPARE(w.PopupMenuSkin1->title(), QString("SQL"));
  QCOMPARE(w.PopupMenuSkin1->actions().size(), 6);
  QCOMPARE(w.PopupMenuSkin1->actions()[2], w.PopupVerify);
  QVERIFY(w.PopupMenuSkin1->actions()[3]->isSeparator());
}

void FormTest::captionKeysAreTheDesignCaptions() {
  orv::test::TestEnv env;
  orv::ui::ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  const QStringList keys = orv::app::captionKeys(&w);
  for (const QString& k : kMainCaptionKeys) QVERIFY2(keys.contains(k), qPrintable(k));
  QCOMPARE(keys.front(), QString("ORVAKELL"));
  QCOMPARE(keys.count("RESTORE"), 2);  // the button and the pop-up item
  QCOMPARE(keys.count("BACKUP1"), 2);
  QCOMPARE(keys.count("CANCEL"), 1);
}

void FormTest::emptyTableKeepsCaptionsAndGivesKeysAsMessages() {
  orv::test::TestEnv env;
  orv::ui::ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  LanguageDb db(env.work() / "lang.db", {});
  const QStringList before = orv::app::captionKeys(&w);
  orv::i18n::MessageStrings strings;
  orv::app::TranslateForm(&w, db.table, strings);
  QCOMPARE(orv::app::captionKeys(&w), before);
  QCOMPARE(QString::fromStdString(strings.Restore_Comp_Str), QString("Restore_Comp_Str"));
  QCOMPARE(QString::fromStdString(strings.MS_Not_Found), QString("MS_Not_Found"));
}

void FormTest::restoreRowChangesExactlyThoseCaptions() {
  orv::test::TestEnv env;
  orv::ui::ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  LanguageDb db(env.work() / "lang.db", {{"RESTORE", "RESTORE", "GERI YUKLE"}});
  const QStringList before = orv::app::captionKeys(&w);
  orv::i18n::MessageStrings strings;
  orv::app::TranslateForm(&w, db.table, strings);
  const QStringList after = orv::app::captionKeys(&w);
  QCOMPARE(after.size(), before.size());
  for (int i = 0; i < before.size(); ++i) {
    if (before[i] == "RESTORE") QCOMPARE(after[i], QString("GERI YUKLE"));
    else QCOMPARE(after[i], before[i]);
  }
  QCOMPARE(w.BitBtn2->text(), QString("GERI YUKLE"));
  QCOMPARE(w.PopupRestore->text(), QString("GERI YUKLE"));
  QCOMPARE(w.bAbort->text(), QString("CANCEL"));
  // A second pass looks the captions up by their translated text: with no such row they stay.
  orv::app::TranslateForm(&w, db.table, strings);
  QCOMPARE(w.BitBtn2->text(), QString("GERI YUKLE"));
}

void FormTest::doubledAmpersandCaptionIsLookedUpAsWritten() {
  orv::test::TestEnv env;
  orv::ui::ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  LanguageDb db(env.work() / "lang.db", {{"Archive files only && Clear Archive Bit", "Archive", "Nur Archiv && Bit"},
                                         {"Monday", "Monday", "Pazartesi"},
                                         {"Database", "Database", "Veritabani"}});
  orv::i18n::MessageStrings strings;
  orv::app::TranslateForm(&w, db.table, strings);
  QCOMPARE(w.cArchiveOnly->text(), QString("Nur Archiv && Bit"));
  QCOMPARE(w.BandedGrid1->bandCaption(0), QString("Pazartesi"));
  QCOMPARE(w.BandedGrid1->bandCaption(1), QString("Tuesday"));
  QCOMPARE(w.BandedGrid2->bandCaption(0), QString("Veritabani"));
}

void FormTest::folderDialogReturnsTheSelectedFolder() {
  orv::test::TestEnv env;
  int translated = 0;
  TFormDatabaseYolu dialog(nullptr, [&](QWidget* w) {
    ++translated;
    QCOMPARE(w->windowTitle(), QString("PATH"));
  });
  QCOMPARE(dialog.BitBtn1->text(), QString("OK"));
  QCOMPARE(dialog.BitBtn2->text(), QString("CANCEL"));
  const QString folder = QString::fromStdString(env.work().string());
  dialog.selectPath(folder);
  QCOMPARE(dialog.selectedPath(), folder);
  dialog.selectPath("/");
  QCOMPARE(dialog.selectedPath(), QString("/"));
  QTimer::singleShot(0, &dialog, [&] { dialog.BitBtn1->click(); });
  QCOMPARE(dialog.exec(), TFormDatabaseYolu::kResultOk);
  QCOMPARE(translated, 1);
  QTimer::singleShot(0, &dialog, [&] { dialog.BitBtn2->click(); });
  QCOMPARE(dialog.exec(), TFormDatabaseYolu::kResultCancel);
}

QTEST_MAIN(FormTest)
// The restore's confirmation window translates its buttons when shown, from the operator's
// table, as every other window does.
void FormTest::restoreConfirmationButtonsAreTranslated() {
  orv::test::TestEnv env;
  LanguageDb db(env.work() / "lang.db", {{"OK", "OK", "TAMAM"}, {"CANCEL", "CANCEL", "VAZGEC"}});
  orv::i18n::MessageStrings strings;
  orv::app::TFormRest_File form(nullptr, [&](QWidget* window) { orv::app::TranslateForm(window, db.table, strings); });
  QCOMPARE(form.BitBtn2->text(), QString("CANCEL"));
  form.show();
  QCOMPARE(form.BitBtn1->text(), QString("TAMAM"));
  QCOMPARE(form.BitBtn2->text(), QString("VAZGEC"));
  form.hide();
}

#include "form_test.moc"
