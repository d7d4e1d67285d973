// TFormMain: the main window. It owns every long-lived object (MainData: the settings and
// server connections with their datasets; the timers; the tray icon; the web panel) and wires
// the operator's controls to the operations.
//
// Structure: each control's name is both its member name and its Qt object name (BitBtn4,
// BandedGrid1, Label10, ...), which the tests find controls by. Handlers are named after them (BitBtn4Click,
// Timer2Timer, ...). The work behind a handler lives in plain-C++ services (src/backup/,
// src/settings/) that receive MainData, the dialogs port and the clock; a handler collects what
// the operator chose in the window, calls its service inside runHandler() (which shows an error
// the handler did not catch in the standard error box) and shows the result.
//
// Testability: boxes, file and folder dialogs, repaints and "now" go through the ports given at
// construction (ui::Dialogs, ui::Clock), so a test constructs the window with a ScriptedDialogs
// and a FixedClock and runs the real handlers.
//
// Life: construction builds the controls and runs FormCreate (the start-up order); every show
// that is not a spontaneous restore by the window system runs FormShow; close runs FormClose and
// then emits closed(), on which the application quits.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/main_data.h"
#include "core/clock.h"
#include "core/dialogs.h"
#include "i18n/language_query.h"
#include "platform/instance_lock.h"

class QSortFilterProxyModel;
class QItemSelectionModel;
class BandedGrid;

namespace orv::app {

class DataSetModel;

struct MainWindowPorts {
  ui::Dialogs* dialogs = nullptr;  // nullptr: boxes and dialogs on screen (QtDialogs)
  ui::Clock* clock = nullptr;      // nullptr: the machine's clock
};

class TFormMain : public QWidget {
  Q_OBJECT
 public:
  explicit TFormMain(MainWindowPorts ports = {}, QWidget* parent = nullptr);
  ~TFormMain() override;

  core::MainData& data() { return data_; }
  ui::Dialogs& dialogs() { return *dialogs_; }
  ui::Clock& clock() { return *clock_; }
  i18n::LanguageTable& language() { return language_; }

  // Runs fn; an error it throws is shown in the standard error box with its own text, and false
  // is returned (the handler ends there; the tool goes on).
  bool runHandler(const std::function<void()>& fn);

  // The rows of Database_List selected in the database list (dataset row numbers, in dataset
  // order); the current row alone when nothing is selected.
  std::vector<int> selectedDatabaseRows() const;
  // Today's date in the platform's short date format (the volume label text).
  QString shortDateToday() const;
  // The web page shown in the web panel.
  static QUrl productPage();

  // Tray behaviour (also what the tray menu's actions run).
  void hideToTray();
  void showFromTray();

  // --- controls, by their names -------------------------------------------------------------
  QScrollArea* ScrollBox = nullptr;
  QWidget* Content = nullptr;
  QFrame* ToolBar1 = nullptr;
  QPushButton *BitBtn4 = nullptr, *BitBtn2 = nullptr, *BitBtn5 = nullptr, *BitBtn3 = nullptr, *BitBtn1 = nullptr;
  QToolButton* TrayMinimizeButton = nullptr;  // "Minimize to System Tray"
  QLabel* Label12 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QCheckBox *DBCheckBox2 = nullptr, *DBCheckBox3 = nullptr;
  QLabel* lDrive = nullptr;
  QComboBox* cbDrives = nullptr;
  QLabel* Label7 = nullptr;
  QComboBox* cbSpeed = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* eVolLabel = nullptr;
  QLabel *Label4 = nullptr, *Label3 = nullptr;
  QSlider* sCacheSize = nullptr;
  QFrame* Panel1 = nullptr;
  QLabel *Label10 = nullptr, *Label11 = nullptr;
  QPushButton* bAbort = nullptr;
  BandedGrid* BandedGrid2 = nullptr;  // database list
  BandedGrid* BandedGrid1 = nullptr;  // week grid
  QFrame* Panel3 = nullptr;
  QTextBrowser* WebBrowser1 = nullptr;
  QFrame* pbottom = nullptr;
  QLabel *Label5 = nullptr, *lSize = nullptr, *Label6 = nullptr;
  QProgressBar *pcd = nullptr, *pBuf = nullptr, *pHBuf = nullptr;
  // "Scheduled backups run in the background service." over the memory bars while the service
  // runs the schedule and no disc write runs here.
  QLabel* lService = nullptr;
  // Disc panel, beyond the first view.
  QCheckBox *cJoliet = nullptr, *cUnderrunProtection = nullptr, *cTestWrite = nullptr, *cImportSession = nullptr,
            *cOPC = nullptr, *cQuickSaveISO = nullptr, *cBootable = nullptr, *cShowFiles = nullptr,
            *cArchiveOnly = nullptr, *cEject = nullptr, *cCloseDisc = nullptr, *CheckBox2 = nullptr,
            *cVerifyWrite = nullptr;
  QLineEdit* eSession = nullptr;
  QLabel *Label2 = nullptr, *Label8 = nullptr, *Label9 = nullptr;
  QListWidget* clBox = nullptr;
  QPushButton* bBurn = nullptr;
  // Menus, tray, timers.
  QMenu* PopupMenuSkin1 = nullptr;
  QAction *PopupBackup = nullptr, *PopupRestore = nullptr, *PopupVerify = nullptr, *PopupRepairIndex = nullptr, *PopupRepairTable = nullptr;
  QMenu* PopupMenuTray = nullptr;
  QAction *TrayShow = nullptr, *TrayHide = nullptr, *TrayClose = nullptr;
  QSystemTrayIcon* FormTrayIcon1 = nullptr;
  QTimer *Timer1 = nullptr, *Timer2 = nullptr, *Timer3 = nullptr;
  // The grids' shared view of Database_List.
  DataSetModel* DSDAtabase = nullptr;
  QSortFilterProxyModel* DatabaseSort = nullptr;
  QItemSelectionModel* DatabaseSelection = nullptr;

 signals:
  // The window has closed; the application ends.
  void closed();

 public slots:
  // Toolbar and menus.
  void BitBtn4Click();  // "BACKUP1": backup run by hand — filled by the backup run
  void BitBtn2Click();  // "RESTORE" — filled by the restore
  void BitBtn5Click();  // "SETTING": connection dialog
  void BitBtn3Click();  // "LANGUAGE": translation editor
  void BitBtn1Click();  // "CLOSE1"
  void SpeedButton1Click();  // working folder choice
  void RepairIndexClick();   // "REPAIR INDEX" — filled by the maintenance
  void RepairTableClick();   // "REPAIR TABLE" — filled by the maintenance
  void VerifyByRestoringClick();  // "Verify by restoring": test restore of the selected databases
  // Timers.
  void Timer1Timer();  // disc progress display — filled by the disc step
  void Timer2Timer();  // weekly scheduler — filled by the scheduler
  // Missed runs of the last day, once after the start (posted by FormCreate).
  void CatchUpMissedRuns();
  void Timer3Timer();  // immediate repaint
  // Disc panel — filled by the disc panel work, except the two plain display rules.
  void bAbortClick();
  void bBurnClick();
  void cbDrivesChange();
  void cbSpeedDropDown();
  void sCacheSizeChange();
  void cImportSessionClick();
  void cBootableClick();

 public:
  // The window events.
  void FormCreate();
  void FormShow();
  void FormClose();
  // Disc panel start (shown step 3); false when the disc layer could not be started, which ends
  // the show. Filled by the disc panel work; until then there is no disc layer to start.
  bool StartDiscPanel();
  // Disc options save (first step of closing). Filled by the disc panel work.
  void SaveDiscOptions();
  void ShowWebPanel(QTextBrowser* browser);

  // One scheduler per installation (platform/instance_lock.h): true when the background service
  // held the scheduler lock at creation. Timer2 then never runs in this window.
  bool scheduleInService() const { return scheduleInService_; }
  // Timer2 on or off; on does nothing while the service runs the schedule.
  void setTimer2(bool on);
  // Shows the service's text or the memory bars (they belong to a disc write).
  void showServiceText(bool discWriting);
  // While the service runs the schedule: a tray notification for each failure of a background
  // run (or disc write) the run log gained since the last look; the lines it showed. Run every
  // minute by TimerNotice.
  std::vector<std::string> NoticeBackgroundFailures();
  QTimer* TimerNotice = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void buildGrids();
  void buildMenusAndTray();
  void bindSettings();
  void syncCurrentFromDataset(int row);
  void trayActivated(QSystemTrayIcon::ActivationReason reason);

  core::MainData data_;
  std::unique_ptr<ui::Dialogs> ownDialogs_;
  std::unique_ptr<ui::Clock> ownClock_;
  ui::Dialogs* dialogs_ = nullptr;
  ui::Clock* clock_ = nullptr;
  i18n::QueryLanguageTable language_{data_.ADOQueryLanguage};
  std::vector<QObject*> observers_;  // bound models and controls, destroyed before data_
  bool syncing_ = false;
  std::unique_ptr<platform::InstanceLock> schedulerLock_;
  bool scheduleInService_ = false;
  std::uintmax_t runLogSeen_ = 0;  // bytes of the run log already looked at
};

}  // namespace orv::app
