// The main window's start-up, show and close orders, its grids over Database_List, the folder
// choice, the connection dialog and the translation editor, on a private installation.
#include <QDate>
#include <QLocale>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QComboBox>
#include <QStyleOptionViewItem>
#include <QTest>

#include "app/core/startup.h"
#include "core/clock.h"
#include "core/scripted_dialogs.h"
#include "app/window/banded_grid.h"
#include "app/window/dataset_model.h"
#include "app/window/form_language.h"
#include "app/window/form_main.h"
#include "app/window/form_sql_connect.h"
#include "app/window/translate_form.h"
#include "dal/datetime.h"
#include "started_env.h"

using orv::app::TFormMain;
using orv::ui::Box;
using orv::ui::BoxKind;
using orv::ui::ScriptedDialogs;

namespace {

// A function, not a constant: the date-time helpers must not run during static initialisation.
orv::dal::DateTime now() { return orv::dal::encode_date_time({2026, 12, 9, 10, 0, 0, 0}); }

QString shortDate(int y, int m, int d) { return QLocale::system().toString(QDate(y, m, d), QLocale::ShortFormat); }

QString boxesText(const ScriptedDialogs& d) {
  QStringList out;
  for (const Box& b : d.boxes()) out << QString::fromStdString(b.caption + " | " + b.text);
  return out.join("\n");
}

// The proxy index of (database row name, field) in the grids' shared model.
QModelIndex cell(TFormMain& w, const QString& database, const char* field) {
  const int nameColumn = w.DSDAtabase->columnOf("Veri_Tabani_Adi");
  const int column = w.DSDAtabase->columnOf(field);
  for (int r = 0; r < w.DSDAtabase->rowCount(); ++r) {
    if (w.DSDAtabase->index(r, nameColumn).data().toString() == database)
      return w.DatabaseSort->mapFromSource(w.DSDAtabase->index(r, column));
  }
  return {};
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT
 private slots:
  void noServerRegisteredShowsTheBoxAndOpensNothing();
  void missingSettingsDatabaseStopsBeforeLinksAndConnect();
  void firstStartMakesLinksAndTheNextStartDoesNot();
  void failedConnectionLeavesTheListEmptyAndLinksComeAgain();
  void gridEditsArePostedWhenTheRowChanges();
  void folderChoiceStoresTheWorkingFolder();
  void trayHideAndShowRepeatTheShownSteps();
  void closePostsPendingEdits();
  void connectDialogReportsTheRefresh();
  void englishResetsEveryTranslation();
  void saveScreenshot();
};

void StartupTest::noServerRegisteredShowsTheBoxAndOpensNothing() {
  orv::test::Installation inst;
  orv::test::sql_exec(inst.settings, "UPDATE Language_Tbl SET Language='Kein Server' WHERE Degisken='MS_Not_Found'");
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  const auto boxes = dialogs.boxes();
  QCOMPARE(boxes.size(), size_t(1));
  QCOMPARE(boxes[0], (Box{BoxKind::Error, "MSSQL,MSDE,SQL EXPRESS", "Kein Server", orv::ui::Buttons::Ok}));
  QVERIFY(!w.data().ADOConnection1.connected());
  QVERIFY(!w.data().ADOConnectionSQLC.connected());
  QVERIFY(!std::filesystem::exists(inst.desktop_link()));
  QCOMPARE(w.eVolLabel->text(), QString("MARLENTIS"));
  QCOMPARE(w.data().UnattendedRun, std::string("HAYIR"));
  QCOMPARE(w.DSDAtabase->rowCount(), 0);
  // Showing the window needs the settings database: the pass reports the data-access error.
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QCOMPARE(dialogs.boxes().size(), size_t(2));
  QCOMPARE(dialogs.boxes()[1].kind, BoxKind::Error);
  QCOMPARE(dialogs.boxes()[1].caption, std::string("ORVAKELL"));
  QCOMPARE(w.BitBtn2->text(), QString("RESTORE"));
}

void StartupTest::missingSettingsDatabaseStopsBeforeLinksAndConnect() {
  orv::test::Installation inst(false);
  inst.local_server({"Sales"});
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  const auto boxes = dialogs.boxes();
  QVERIFY2(boxes.size() == 1, qPrintable(boxesText(dialogs)));
  QCOMPARE(boxes[0].kind, BoxKind::Error);
  QVERIFY(!boxes[0].text.empty());
  QVERIFY2(!std::filesystem::exists(inst.env.home() / "Velmora.db"), "the tool never creates the file");
  QVERIFY(!std::filesystem::exists(inst.desktop_link()));
  QVERIFY(!w.data().ADOConnectionSQLC.connected());
  QCOMPARE(w.eVolLabel->text(), QString("MARLENTIS"));
}

void StartupTest::firstStartMakesLinksAndTheNextStartDoesNot() {
  orv::test::Installation inst;
  inst.local_server({"Sales", "Stock"});
  orv::ui::FixedClock clock(now());
  {
    ScriptedDialogs dialogs;
    TFormMain w({&dialogs, &clock});
    QVERIFY2(dialogs.boxes().empty(), qPrintable(boxesText(dialogs)));
    QVERIFY(std::filesystem::exists(inst.desktop_link()));
    QVERIFY(std::filesystem::exists(inst.autostart_link()));
    const std::string target = (inst.env.home() / "orvakell").string();
    QVERIFY(orv::test::read_file(inst.autostart_link()).find("Exec=\"" + target + "\"") != std::string::npos);
    QCOMPARE(w.eVolLabel->text(), shortDate(2026, 12, 9));
    QVERIFY(w.data().ADOConnectionSQLC.connected());
    const auto names = inst.database_names();
    QVERIFY(std::find(names.begin(), names.end(), "Sales") != names.end());
    QVERIFY(std::find(names.begin(), names.end(), "Stock") != names.end());
    // The grids show the rows; a new row is scheduled for no day.
    QCOMPARE(w.DSDAtabase->rowCount(), int(names.size()));
    QCOMPARE(cell(w, "Sales", "P_Tesi").data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(cell(w, "Sales", "P_Tesi_T").data().toString(), QString("00:00"));
  }
  std::filesystem::remove(inst.desktop_link());
  std::filesystem::remove(inst.autostart_link());
  ScriptedDialogs dialogs;
  TFormMain again({&dialogs, &clock});
  QVERIFY(dialogs.boxes().empty());
  QVERIFY(!std::filesystem::exists(inst.desktop_link()));
  QVERIFY(!std::filesystem::exists(inst.autostart_link()));
}

void StartupTest::failedConnectionLeavesTheListEmptyAndLinksComeAgain() {
  orv::test::Installation inst;
  inst.unreachable_server();
  for (int start = 0; start < 2; ++start) {
    ScriptedDialogs dialogs;
    TFormMain w({&dialogs, nullptr});
    const auto boxes = dialogs.boxes();
    QVERIFY2(boxes.size() == 1, qPrintable(boxesText(dialogs)));
    QCOMPARE(boxes[0].kind, BoxKind::Error);
    QCOMPARE(boxes[0].caption, std::string("ORVAKELL"));
    QVERIFY(!w.data().ADOConnectionSQLC.connected());
    QVERIFY(inst.database_names().empty());
    QCOMPARE(w.eVolLabel->text(), QString("MARLENTIS"));
    QVERIFY(std::filesystem::exists(inst.desktop_link()));
    std::filesystem::remove(inst.desktop_link());
  }
}

void StartupTest::gridEditsArePostedWhenTheRowChanges() {
  orv::test::Installation inst;
  inst.local_server({"Alpha", "Beta"});
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  QVERIFY(dialogs.boxes().empty());
  QTableView* week = w.BandedGrid1->view();
  const QModelIndex alphaTime = cell(w, "Alpha", "Sali_T");
  QVERIFY(alphaTime.isValid());
  QVERIFY(!week->isColumnHidden(alphaTime.column()));
  QVERIFY(w.BandedGrid2->view()->isColumnHidden(alphaTime.column()));
  // The operator picks a Tuesday time and ticks Monday's disc flag on Alpha.
  week->setCurrentIndex(alphaTime);
  QVERIFY(w.DatabaseSort->setData(alphaTime, QTime(21, 45), Qt::EditRole));
  QVERIFY(w.DatabaseSort->setData(cell(w, "Alpha", "Pts_CD"), Qt::Checked, Qt::CheckStateRole));
  QCOMPARE(cell(w, "Alpha", "Sali").data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
  const auto stored = [&](const char* column) {
    return orv::test::sql_column(inst.settings, std::string("SELECT ") + column +
                                                    " FROM Database_List WHERE Veri_Tabani_Adi='Alpha'")
        .front();
  };
  QCOMPARE(stored("Sali"), std::string("False"));  // still being edited: not yet stored
  // Leaving the row posts it.
  week->setCurrentIndex(cell(w, "Beta", "Sali_T"));
  QCOMPARE(stored("Sali"), std::string("True"));
  QCOMPARE(stored("Pts_CD"), std::string("True"));
  QCOMPARE(orv::dal::format_hh_mm(orv::dal::DateTime{std::stod(stored("Sali_T"))}), std::string("21:45"));
  // Clearing the day keeps its time; the list grid follows the same current row.
  QVERIFY(w.DatabaseSort->setData(cell(w, "Alpha", "Sali"), Qt::Unchecked, Qt::CheckStateRole));
  QCOMPARE(w.BandedGrid2->view()->currentIndex().row(), cell(w, "Alpha", "Sali").row());
  w.BandedGrid2->view()->setCurrentIndex(cell(w, "Beta", "Veri_Tabani_Adi"));
  QCOMPARE(stored("Sali"), std::string("False"));
  QCOMPARE(orv::dal::format_hh_mm(orv::dal::DateTime{std::stod(stored("Sali_T"))}), std::string("21:45"));
  // The database name and the last backup time cannot be edited in the grid.
  QVERIFY(!(w.DatabaseSort->flags(cell(w, "Alpha", "Veri_Tabani_Adi")) & Qt::ItemIsEditable));
  QVERIFY(!(w.DatabaseSort->flags(cell(w, "Alpha", "Son_Yedek_Tarih")) & Qt::ItemIsEditable));
  // The last test restore's outcome is shown, not edited; when it runs is a choice of three.
  const QVector<int> listed = w.BandedGrid2->shownColumns();
  QVERIFY(listed.contains(w.DSDAtabase->columnOf("Verified")));
  QVERIFY(listed.contains(w.DSDAtabase->columnOf("Test_Restore")));
  QCOMPARE(w.DSDAtabase->headerData(w.DSDAtabase->columnOf("Verified"), Qt::Horizontal, Qt::DisplayRole).toString(),
           QString("Verified"));
  QVERIFY(!(w.DatabaseSort->flags(cell(w, "Alpha", "Verified")) & Qt::ItemIsEditable));
  QCOMPARE(cell(w, "Alpha", "Test_Restore").data().toString(), QString("Never"));
  QVERIFY(!w.DatabaseSort->setData(cell(w, "Alpha", "Test_Restore"), QString("Sometimes"), Qt::EditRole));
  QVERIFY(w.DatabaseSort->setData(cell(w, "Alpha", "Test_Restore"), QString("Weekly"), Qt::EditRole));
  w.BandedGrid2->view()->setCurrentIndex(cell(w, "Beta", "Veri_Tabani_Adi"));
  QCOMPARE(stored("Test_Restore"), std::string("Weekly"));
  {
    QTableView* list = w.BandedGrid2->view();
    QStyleOptionViewItem option;
    std::unique_ptr<QWidget> editor(
        list->itemDelegate()->createEditor(list->viewport(), option, cell(w, "Alpha", "Test_Restore")));
    auto* box = qobject_cast<QComboBox*>(editor.get());
    QVERIFY(box != nullptr);
    QCOMPARE(box->count(), 3);
    list->itemDelegate()->setEditorData(box, cell(w, "Alpha", "Test_Restore"));
    QCOMPARE(box->currentText(), QString("Weekly"));
  }
  // Sorting by a column click keeps both grids on the same rows.
  w.BandedGrid2->view()->sortByColumn(w.DSDAtabase->columnOf("Veri_Tabani_Adi"), Qt::DescendingOrder);
  QCOMPARE(w.DatabaseSort->index(0, w.DSDAtabase->columnOf("Veri_Tabani_Adi")).data().toString(), QString("Beta"));
  QCOMPARE(w.BandedGrid1->view()->model(), w.BandedGrid2->view()->model());
}

void StartupTest::folderChoiceStoresTheWorkingFolder() {
  orv::test::Installation inst;
  inst.local_server({"Alpha"});
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  const std::string before = inst.system_value("Temp_Dizini");
  dialogs.answer_folder(std::nullopt);
  w.SpeedButton1Click();
  QCOMPARE(inst.system_value("Temp_Dizini"), before);
  dialogs.answer_folder(std::string("/"));
  w.SpeedButton1Click();
  QCOMPARE(inst.system_value("Temp_Dizini"), std::string("/"));
  QCOMPARE(w.Edit1->text(), QString("/"));
  const std::string folder = inst.env.work().string();
  dialogs.answer_folder(folder);
  w.SpeedButton1Click();
  QCOMPARE(inst.system_value("Temp_Dizini"), folder + "/");
  QCOMPARE(w.Edit1->text(), QString::fromStdString(folder + "/"));
  dialogs.answer_folder(std::nullopt);
  w.SpeedButton1Click();
  QCOMPARE(inst.system_value("Temp_Dizini"), folder + "/");
  QVERIFY2(dialogs.boxes().empty(), qPrintable(boxesText(dialogs)));
  QCOMPARE(dialogs.events().size(), size_t(4));
}

void StartupTest::trayHideAndShowRepeatTheShownSteps() {
  orv::test::Installation inst;
  inst.local_server({"Alpha"});
  orv::test::sql_exec(inst.settings, "UPDATE Language_Tbl SET Language='Geri' WHERE Degisken='RESTORE'");
  ScriptedDialogs dialogs;
  orv::ui::FixedClock clock(now());
  TFormMain w({&dialogs, &clock});
  QVERIFY(w.PopupMenuTray->defaultAction() == nullptr);
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QVERIFY2(dialogs.boxes().empty(), qPrintable(boxesText(dialogs)));
  QCOMPARE(w.BitBtn2->text(), QString("Geri"));
  QCOMPARE(w.eVolLabel->text(), shortDate(2026, 12, 9));
  QCOMPARE(w.WebBrowser1->source(), TFormMain::productPage());
  QVERIFY(w.WebBrowser1->toPlainText().contains("ORVAKELL"));
  QVERIFY(!orv::i18n::messages().MS_Not_Found.empty());

  w.eVolLabel->setText("TYPED");
  w.TrayHide->trigger();
  QVERIFY(w.isHidden());
  QCOMPARE(w.PopupMenuTray->defaultAction(), w.TrayShow);
  QVERIFY(w.TrayShow->isEnabled());
  QVERIFY(!w.TrayHide->isEnabled());

  // The next show translates again, keyed by each caption's current text ("CLOSE1" shows "CLOSE"
  // after the first pass), so a row for "CLOSE" reaches the button; the date is read again.
  QCOMPARE(w.BitBtn1->text(), QString("CLOSE"));
  orv::test::sql_exec(inst.settings,
                      "INSERT OR REPLACE INTO Language_Tbl (Degisken, English, Language) VALUES ('CLOSE', 'CLOSE', 'Kapat')");
  clock.set(orv::dal::encode_date_time({2026, 12, 10, 8, 0, 0, 0}));
  w.TrayShow->trigger();
  QVERIFY(w.isVisible());
  QCOMPARE(w.eVolLabel->text(), shortDate(2026, 12, 10));
  QCOMPARE(w.BitBtn1->text(), QString("Kapat"));
  QCOMPARE(w.PopupMenuTray->defaultAction(), w.TrayHide);
  QVERIFY(w.TrayHide->isEnabled());

  // The caption-bar button hides as "Hide" does; a double click runs the default item.
  w.TrayMinimizeButton->click();
  QVERIFY(w.isHidden());
  w.eVolLabel->setText("AGAIN");
  emit w.FormTrayIcon1->activated(QSystemTrayIcon::DoubleClick);
  QVERIFY(w.isVisible());
  QCOMPARE(w.eVolLabel->text(), shortDate(2026, 12, 10));
  QVERIFY(dialogs.boxes().empty());
}

void StartupTest::closePostsPendingEdits() {
  orv::test::Installation inst;
  inst.local_server({"Alpha"});
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  const std::string before = inst.system_value("Ziple");
  w.DBCheckBox2->setChecked(before != "True");
  QCOMPARE(inst.system_value("Ziple"), before);  // pending until a post point
  QVERIFY(w.DatabaseSort->setData(cell(w, "Alpha", "Cm_Zip"), Qt::Checked, Qt::CheckStateRole));
  QSignalSpy closed(&w, &TFormMain::closed);
  w.close();
  QCOMPARE(closed.count(), 1);
  QCOMPARE(inst.system_value("Ziple"), std::string(before != "True" ? "True" : "False"));
  QCOMPARE(orv::test::sql_column(inst.settings, "SELECT Cm_Zip FROM Database_List WHERE Veri_Tabani_Adi='Alpha'")
               .front(),
           std::string("True"));
}

void StartupTest::connectDialogReportsTheRefresh() {
  orv::test::Installation inst;
  inst.local_server({"Alpha"});
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  inst.local_server({"Gamma"});
  orv::app::TFormSQLConnect dialog(w);
  dialog.show();
  QCOMPARE(dialog.windowTitle(), QString::fromStdString(
                                     orv::test::sql_column(inst.settings, "SELECT Language FROM Language_Tbl WHERE "
                                                                          "Degisken='Connection Setting'")
                                         .front()));
  QVERIFY(!dialog.DBEdit1->isEnabled());
  dialog.DBCheckBox1->click();
  QVERIFY(dialog.DBEdit1->isEnabled() && dialog.DBEdit2->isEnabled());
  dialog.DBCheckBox1->click();  // back to Windows authentication
  QVERIFY(!dialog.DBEdit1->isEnabled());
  dialog.BitBtn5->click();
  const auto boxes = dialogs.boxes();
  QVERIFY2(boxes.size() == 1, qPrintable(boxesText(dialogs)));
  QCOMPARE(boxes[0].kind, BoxKind::Information);
  QCOMPARE(boxes[0].text, orv::i18n::messages().Suc_Conc_Str);
  QCOMPARE(boxes[0].caption, orv::i18n::messages().Connect);
  QCOMPARE(inst.system_value("Author"), std::string("False"));
  const auto names = inst.database_names();
  QVERIFY(std::find(names.begin(), names.end(), "Gamma") != names.end());
  QCOMPARE(w.DSDAtabase->rowCount(), int(names.size()));
}

void StartupTest::englishResetsEveryTranslation() {
  orv::test::Installation inst;
  inst.local_server({"Alpha"});
  orv::test::sql_exec(inst.settings,
                      "UPDATE Language_Tbl SET Language='Geri' WHERE Degisken='RESTORE';"
                      "UPDATE Language_Tbl SET Language='' WHERE Degisken='Backup_Str'");
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QCOMPARE(w.BitBtn2->text(), QString("Geri"));
  {
    orv::app::TFormLanguage editor(w);
    // Every row is listed, ordered by its English text.
    const auto expected = orv::test::sql_column(inst.settings, "SELECT English FROM Language_Tbl ORDER BY English");
    const int english = editor.query().field("English").index();
    QCOMPARE(editor.query().record_count(), int(expected.size()));
    for (int r = 0; r < editor.query().record_count(); ++r) QCOMPARE(editor.query().text_at(r, english), expected[r]);
    QVERIFY(editor.BandedGrid1->isColumnHidden(editor.query().field("Degisken").index()));
    editor.BitBtn1->click();
  }
  QCOMPARE(orv::test::sql_column(inst.settings, "SELECT COUNT(*) FROM Language_Tbl WHERE Language IS NOT English")
               .front(),
           std::string("0"));
  QVERIFY(dialogs.boxes().empty());
  // The next pass loads the English message texts. This window's caption was translated to "Geri",
  // which is no key, so it stays; the next start shows the English caption.
  w.hideToTray();
  w.showFromTray();
  QCOMPARE(w.BitBtn2->text(), QString("Geri"));
  ScriptedDialogs nextDialogs;
  TFormMain next({&nextDialogs, nullptr});
  next.show();
  QVERIFY(QTest::qWaitForWindowExposed(&next));
  QCOMPARE(next.BitBtn2->text(), QString("RESTORE"));
  QCOMPARE(QString::fromStdString(orv::i18n::messages().Backup_Str),
           QString::fromStdString(orv::test::sql_column(inst.settings,
                                                        "SELECT English FROM Language_Tbl WHERE Degisken='Backup_Str'")
                                      .front()));
}

void StartupTest::saveScreenshot() {
  const QByteArray target = qgetenv("ORV_SCREENSHOT");
  if (target.isEmpty()) QSKIP("set ORV_SCREENSHOT to a file name to save a picture of the main window");
  orv::test::Installation inst;
  inst.local_server({"Accounting", "Inventory", "Payroll", "Sales"});
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.DatabaseSort->setData(cell(w, "Payroll", "Cuma_T"), QTime(18, 30), Qt::EditRole);
  w.DatabaseSort->setData(cell(w, "Payroll", "Cm_Zip"), Qt::Checked, Qt::CheckStateRole);
  w.DatabaseSort->setData(cell(w, "Sales", "P_Tesi_T"), QTime(22, 0), Qt::EditRole);
  w.DatabaseSort->setData(cell(w, "Sales", "Pts_CD"), Qt::Checked, Qt::CheckStateRole);
  w.BandedGrid2->view()->setCurrentIndex(cell(w, "Accounting", "Veri_Tabani_Adi"));
  QTest::qWait(50);
  QVERIFY(w.grab().save(QString::fromLocal8Bit(target)));
}

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
