#include "app/window/form_main.h"

#include <QCloseEvent>
#include <QDate>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QScrollBar>
#include <QShowEvent>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QUrl>

#include <algorithm>

#include "app/window/banded_grid.h"
#include "app/window/choice_delegate.h"
#include "app/window/dataset_model.h"
#include "app/window/field_binding.h"
#include "app/window/form_database_yolu.h"
#include "app/window/qt_dialogs.h"
#include "app/window/time_delegate.h"
#include "app/window/translate_form.h"
#include "platform/paths.h"
#include "settings/store/settings_store.h"
#include "dal/datetime.h"

// The window's resources live in a static library: register them explicitly.
static void initWindowResources() { Q_INIT_RESOURCE(window); }

namespace orv::app {

namespace {

// The week grid's bands, Monday to Sunday: day flag, day time, disc flag, zip flag.
struct DayColumns {
  const char* band;
  const char* flag;
  const char* time;
  const char* disc;
  const char* zip;
};
constexpr DayColumns kWeek[] = {
    {"Monday", "P_Tesi", "P_Tesi_T", "Pts_CD", "Pts_Zip"},
    {"Tuesday", "Sali", "Sali_T", "Sl_CD", "Sl_Zip"},
    {"Wednesday", "Carsamba", "Carsamba_T", "C_CD", "C_Zip"},
    {"Thursday", "PErsembe", "PErsembe_T", "Prs_CD", "Prs_Zip"},
    {"Friday", "Cuma", "Cuma_T", "Cm_CD", "Cm_Zip"},
    {"Saturday", "C_Tesi", "C_Tesi_T", "Cts_CD", "Cts_Zip"},
    {"Sunday", "Pazar", "Pazar_T", "Pzr_CD", "Pzr_Zip"},
};

template <typename W>
W* make(QWidget* parent, const char* name, int x, int y, int w, int h) {
  auto* widget = new W(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

template <typename W>
W* makeText(QWidget* parent, const char* name, const QString& text, int x, int y, int w, int h) {
  W* widget = make<W>(parent, name, x, y, w, h);
  widget->setText(text);
  return widget;
}

QLabel* statusLabel(QWidget* parent, const char* name, int y) {
  auto* label = make<QLabel>(parent, name, 8, y, 757, 18);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, Qt::red);
  label->setPalette(p);
  return label;
}

}  // namespace

TFormMain::TFormMain(MainWindowPorts ports, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("FormMain"));
  initWindowResources();
  if (ports.dialogs) {
    dialogs_ = ports.dialogs;
  } else {
    ownDialogs_ = std::make_unique<QtDialogs>(this, [this](QWidget* w) {
      runHandler([&] { TranslateForm(w, language_); });
    });
    dialogs_ = ownDialogs_.get();
  }
  if (ports.clock) {
    clock_ = ports.clock;
  } else {
    ownClock_ = std::make_unique<ui::SystemClock>();
    clock_ = ownClock_.get();
  }
  buildControls();
  buildGrids();
  buildMenusAndTray();
  bindSettings();
  FormCreate();
}

TFormMain::~TFormMain() {
  // Bound models and controls observe datasets of data_, which dies before the child widgets.
  for (QObject* o : observers_) delete o;
  observers_.clear();
}

void TFormMain::buildControls() {
  setWindowTitle(QStringLiteral("ORVAKELL"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  // The view of the content is 775 x 521; the window adds the scroll bars around it, so the
  // whole status bar at its bottom is visible at the start.
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  setFixedSize(775 + bar, 521 + bar);

  ScrollBox = new QScrollArea(this);
  ScrollBox->setObjectName(QStringLiteral("ScrollBox"));
  ScrollBox->setGeometry(0, 0, 775 + bar, 521 + bar);
  ScrollBox->setFrameShape(QFrame::NoFrame);
  ScrollBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ScrollBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Content = new QWidget;
  Content->setObjectName(QStringLiteral("Content"));
  Content->setFixedSize(1265, 595);
  ScrollBox->setWidget(Content);
  QWidget* c = Content;

  // Toolbar.
  ToolBar1 = make<QFrame>(c, "ToolBar1", 0, 0, 775, 44);
  ToolBar1->setFrameShape(QFrame::StyledPanel);
  BitBtn4 = makeText<QPushButton>(ToolBar1, "BitBtn4", QStringLiteral("BACKUP1"), 4, 4, 110, 36);
  BitBtn2 = makeText<QPushButton>(ToolBar1, "BitBtn2", QStringLiteral("RESTORE"), 118, 4, 110, 36);
  BitBtn5 = makeText<QPushButton>(ToolBar1, "BitBtn5", QStringLiteral("SETTING"), 232, 4, 110, 36);
  BitBtn3 = makeText<QPushButton>(ToolBar1, "BitBtn3", QStringLiteral("LANGUAGE"), 346, 4, 110, 36);
  BitBtn1 = makeText<QPushButton>(ToolBar1, "BitBtn1", QStringLiteral("CLOSE1"), 460, 4, 110, 36);
  BitBtn4->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  BitBtn2->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  BitBtn5->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
  BitBtn3->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  TrayMinimizeButton = make<QToolButton>(ToolBar1, "TrayMinimizeButton", 733, 8, 28, 28);
  TrayMinimizeButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarMinButton));
  TrayMinimizeButton->setToolTip(QStringLiteral("Minimize to System Tray"));
  TrayMinimizeButton->setAutoRaise(true);

  // Working folder and the defaults for runs by hand.
  Label12 = makeText<QLabel>(c, "Label12", QStringLiteral("Backup Path"), 8, 52, 84, 22);
  Edit1 = make<QLineEdit>(c, "Edit1", 94, 52, 300, 22);
  Edit1->setReadOnly(true);
  SpeedButton1 = make<QToolButton>(c, "SpeedButton1", 396, 52, 26, 22);
  SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  DBCheckBox2 = makeText<QCheckBox>(c, "DBCheckBox2", QStringLiteral("To zip"), 436, 52, 110, 22);
  DBCheckBox3 = makeText<QCheckBox>(c, "DBCheckBox3", QStringLiteral("Write to CD or DVD"), 550, 52, 210, 22);

  // Recorder, speed, volume label and cache (the disc panel's visible part).
  lDrive = makeText<QLabel>(c, "lDrive", QStringLiteral("Drive :"), 8, 80, 84, 22);
  cbDrives = make<QComboBox>(c, "cbDrives", 94, 80, 200, 22);
  Label7 = makeText<QLabel>(c, "Label7", QStringLiteral("Speed"), 302, 80, 44, 22);
  cbSpeed = make<QComboBox>(c, "cbSpeed", 346, 80, 70, 22);
  Label1 = makeText<QLabel>(c, "Label1", QStringLiteral("Label"), 424, 80, 40, 22);
  eVolLabel = makeText<QLineEdit>(c, "eVolLabel", QStringLiteral("MARLENTIS"), 464, 80, 110, 22);
  eVolLabel->setMaxLength(16);
  Label4 = makeText<QLabel>(c, "Label4", QStringLiteral("Cache"), 582, 80, 42, 22);
  sCacheSize = make<QSlider>(c, "sCacheSize", 624, 80, 90, 22);
  sCacheSize->setOrientation(Qt::Horizontal);
  sCacheSize->setRange(2, 64);
  sCacheSize->setTickInterval(4);
  sCacheSize->setTickPosition(QSlider::TicksBelow);
  sCacheSize->setValue(4);
  Label3 = makeText<QLabel>(c, "Label3", QStringLiteral("4 MB"), 718, 80, 50, 22);

  // Status lines.
  Panel1 = make<QFrame>(c, "Panel1", 0, 108, 775, 42);
  Panel1->setFrameShape(QFrame::StyledPanel);
  Label10 = statusLabel(Panel1, "Label10", 3);
  Label11 = statusLabel(Panel1, "Label11", 21);
  bAbort = makeText<QPushButton>(Panel1, "bAbort", QStringLiteral("CANCEL"), 680, 6, 88, 30);
  bAbort->hide();

  // Web panel and status bar.
  Panel3 = make<QFrame>(c, "Panel3", 0, 392, 775, 104);
  Panel3->setFrameShape(QFrame::StyledPanel);
  WebBrowser1 = make<QTextBrowser>(Panel3, "WebBrowser1", 2, 2, 771, 100);
  WebBrowser1->setOpenLinks(false);
  pbottom = make<QFrame>(c, "pbottom", 0, 498, 775, 23);
  pbottom->setFrameShape(QFrame::StyledPanel);
  Label5 = makeText<QLabel>(pbottom, "Label5", QStringLiteral("Status : "), 6, 2, 60, 19);
  pcd = make<QProgressBar>(pbottom, "pcd", 66, 3, 250, 17);
  lSize = makeText<QLabel>(pbottom, "lSize", QStringLiteral("MB"), 322, 2, 90, 19);
  Label6 = makeText<QLabel>(pbottom, "Label6", QStringLiteral("Memory : "), 420, 2, 66, 19);
  pBuf = make<QProgressBar>(pbottom, "pBuf", 486, 3, 135, 17);
  pBuf->setToolTip(QStringLiteral("Software buffer status"));
  pHBuf = make<QProgressBar>(pbottom, "pHBuf", 628, 3, 135, 17);
  lService = makeText<QLabel>(pbottom, "lService", QStringLiteral("Scheduled backups run in the background service."),
                              420, 2, 343, 19);
  lService->hide();
  pHBuf->setToolTip(QStringLiteral("Device buffer status"));
  for (QProgressBar* bar : {pcd, pBuf, pHBuf}) bar->setValue(0);

  // Disc panel options, to the right of and below the first view.
  const int x = 784;
  cJoliet = makeText<QCheckBox>(c, "cJoliet", QStringLiteral("Joliet File System"), x, 52, 220, 22);
  cJoliet->setChecked(true);
  cUnderrunProtection = makeText<QCheckBox>(c, "cUnderrunProtection", QStringLiteral("Underrun Protection"), x, 76, 220, 22);
  cUnderrunProtection->setChecked(true);
  cTestWrite = makeText<QCheckBox>(c, "cTestWrite", QStringLiteral("Yazma Testi Yap"), x, 100, 220, 22);
  cImportSession = makeText<QCheckBox>(c, "cImportSession", QStringLiteral("Import Session"), x, 124, 150, 22);
  eSession = makeText<QLineEdit>(c, "eSession", QStringLiteral("0"), x + 156, 124, 50, 22);
  eSession->setEnabled(false);
  cOPC = makeText<QCheckBox>(c, "cOPC", QStringLiteral("Perform OPC"), x, 148, 220, 22);
  cOPC->setChecked(true);
  cQuickSaveISO = makeText<QCheckBox>(c, "cQuickSaveISO", QStringLiteral("Quick Save .ISO"), x, 172, 220, 22);
  cBootable = makeText<QCheckBox>(c, "cBootable", QStringLiteral("Bootable"), x, 196, 100, 22);
  Label2 = makeText<QLabel>(c, "Label2", QStringLiteral("Label2"), x + 106, 196, 360, 22);
  cShowFiles = makeText<QCheckBox>(c, "cShowFiles", QStringLiteral("Yazarken Dosyaları Göster"), x, 220, 300, 22);
  cArchiveOnly = makeText<QCheckBox>(c, "cArchiveOnly", QStringLiteral("Archive files only && Clear Archive Bit"), x,
                                     244, 400, 22);
  cEject = makeText<QCheckBox>(c, "cEject", QStringLiteral("Yazdıktan Sonra Diski Çıkart"), x, 268, 300, 22);
  cCloseDisc = makeText<QCheckBox>(c, "cCloseDisc", QStringLiteral("Diski Kapat (Yazma İşlemi Bitince)"), x, 292, 400, 22);
  cVerifyWrite = makeText<QCheckBox>(c, "cVerifyWrite", QStringLiteral("Verify after writing"), x, 316, 300, 22);
  cVerifyWrite->setChecked(true);
  CheckBox2 = makeText<QCheckBox>(c, "CheckBox2", QStringLiteral("Explorer style Directory/File view"), x, 316, 300, 22);
  CheckBox2->hide();
  bBurn = makeText<QPushButton>(c, "bBurn", QStringLiteral("CD YAZ"), x + 310, 316, 100, 26);
  bBurn->hide();
  clBox = make<QListWidget>(c, "clBox", x, 344, 470, 200);
  Label8 = makeText<QLabel>(c, "Label8", QStringLiteral("Label8"), x, 550, 300, 20);
  Label9 = makeText<QLabel>(c, "Label9", QStringLiteral("0"), x, 572, 300, 20);

  // Timers, all enabled at creation.
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(500);
  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(55000);
  Timer3 = new QTimer(this);
  Timer3->setObjectName(QStringLiteral("Timer3"));
  Timer3->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, &TFormMain::Timer1Timer);
  connect(Timer2, &QTimer::timeout, this, &TFormMain::Timer2Timer);
  connect(Timer3, &QTimer::timeout, this, &TFormMain::Timer3Timer);
  Timer1->start();
  Timer2->start();
  Timer3->start();

  connect(BitBtn4, &QPushButton::clicked, this, &TFormMain::BitBtn4Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TFormMain::BitBtn2Click);
  connect(BitBtn5, &QPushButton::clicked, this, &TFormMain::BitBtn5Click);
  connect(BitBtn3, &QPushButton::clicked, this, &TFormMain::BitBtn3Click);
  connect(BitBtn1, &QPushButton::clicked, this, &TFormMain::BitBtn1Click);
  connect(TrayMinimizeButton, &QToolButton::clicked, this, &TFormMain::hideToTray);
  connect(SpeedButton1, &QToolButton::clicked, this, &TFormMain::SpeedButton1Click);
  connect(bAbort, &QPushButton::clicked, this, &TFormMain::bAbortClick);
  connect(bBurn, &QPushButton::clicked, this, &TFormMain::bBurnClick);
  connect(cbDrives, &QComboBox::currentTextChanged, this, &TFormMain::cbDrivesChange);
  connect(sCacheSize, &QSlider::valueChanged, this, &TFormMain::sCacheSizeChange);
  connect(cImportSession, &QCheckBox::clicked, this, &TFormMain::cImportSessionClick);
  connect(cBootable, &QCheckBox::clicked, this, &TFormMain::cBootableClick);
}

void TFormMain::buildGrids() {
  DSDAtabase = new DataSetModel(data_.ADOTableDatabase, nullptr);
  observers_.push_back(DSDAtabase);
  DSDAtabase->setReadOnly(QStringLiteral("Veri_Tabani_Adi"));
  DSDAtabase->setReadOnly(QStringLiteral("Son_Yedek_Tarih"));
  DSDAtabase->setColumnKind(QStringLiteral("Son_Yedek_Tarih"), DataSetModel::Kind::DateTime);
  DSDAtabase->setHighlight(QStringLiteral("Veri_Tabani_Adi"), QColor(Qt::red), QColor(Qt::white), true);
  // The last test restore's outcome is written by the test restore only; the choice of when it
  // runs is the operator's.
  DSDAtabase->setReadOnly(QStringLiteral("Verified"));
  DSDAtabase->setChoices(QStringLiteral("Test_Restore"),
                         {QString::fromLatin1(settings::kTestRestoreNever), QString::fromLatin1(settings::kTestRestoreAlways),
                          QString::fromLatin1(settings::kTestRestoreWeekly)});
  for (const DayColumns& d : kWeek) {
    DSDAtabase->setColumnKind(QString::fromLatin1(d.flag), DataSetModel::Kind::Check);
    DSDAtabase->setColumnKind(QString::fromLatin1(d.time), DataSetModel::Kind::Time);
    DSDAtabase->setColumnKind(QString::fromLatin1(d.disc), DataSetModel::Kind::Check);
    DSDAtabase->setColumnKind(QString::fromLatin1(d.zip), DataSetModel::Kind::Check);
  }
  DatabaseSort = new QSortFilterProxyModel(this);
  DatabaseSort->setSourceModel(DSDAtabase);
  DatabaseSelection = new QItemSelectionModel(DatabaseSort, this);

  BandedGrid2 = make<BandedGrid>(Content, "BandedGrid2", 0, 152, 300, 238);
  BandedGrid1 = make<BandedGrid>(Content, "BandedGrid1", 300, 152, 475, 238);
  QVector<BandedGrid::Band> listBands{{QStringLiteral("Database"), {}}};
  BandedGrid2->setBands(listBands);
  QVector<BandedGrid::Band> weekBands;
  for (const DayColumns& d : kWeek) weekBands.push_back({QString::fromLatin1(d.band), {}});
  BandedGrid1->setBands(weekBands);

  for (BandedGrid* g : {BandedGrid2, BandedGrid1}) {
    QTableView* v = g->view();
    v->setModel(DatabaseSort);
    v->setSelectionModel(DatabaseSelection);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setContextMenuPolicy(Qt::CustomContextMenu);
    v->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    v->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                       QAbstractItemView::AnyKeyPressed);
  }
  BandedGrid2->view()->setSelectionMode(QAbstractItemView::ExtendedSelection);
  BandedGrid2->view()->setSortingEnabled(true);
  BandedGrid2->view()->sortByColumn(-1, Qt::AscendingOrder);  // dataset order until a click
  BandedGrid1->view()->setSelectionMode(QAbstractItemView::SingleSelection);
  BandedGrid1->view()->verticalHeader()->hide();
  BandedGrid1->view()->setItemDelegate(new TimeDelegate(BandedGrid1->view()));
  BandedGrid2->view()->setItemDelegate(new ChoiceDelegate(BandedGrid2->view()));
  // The two grids scroll their rows together.
  connect(BandedGrid2->view()->verticalScrollBar(), &QScrollBar::valueChanged,
          BandedGrid1->view()->verticalScrollBar(), &QScrollBar::setValue);
  connect(BandedGrid1->view()->verticalScrollBar(), &QScrollBar::valueChanged,
          BandedGrid2->view()->verticalScrollBar(), &QScrollBar::setValue);

  // The grids' current row is the dataset's current row.
  connect(DatabaseSelection, &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current, const QModelIndex& previous) {
            if (syncing_ || !current.isValid()) return;
            const int row = DatabaseSort->mapToSource(current).row();
            const bool moved = runHandler([&] { DSDAtabase->moveTo(row); });
            if (!moved && previous.isValid()) {
              syncing_ = true;  // the pending change was refused: stay on its row
              DatabaseSelection->setCurrentIndex(previous, QItemSelectionModel::NoUpdate);
              syncing_ = false;
            }
          });
  connect(DSDAtabase, &DataSetModel::currentRowChanged, this, &TFormMain::syncCurrentFromDataset);

  // Column set, kinds and design captions once the dataset's columns are known.
  auto configure = [this] {
    if (DSDAtabase->columnCount() == 0) return;
    auto col = [this](const char* f) { return DSDAtabase->columnOf(QString::fromLatin1(f)); };
    QVector<BandedGrid::Band> list{{BandedGrid2->bandCaption(0), {}}};
    const char* listFields[] = {"Veri_Tabani_Adi", "Son_Yedek_Tarih", "Son_Yedek_Dosya_Adi", "Verified", "Test_Restore"};
    const char* listCaptions[] = {"Database", "Last Backup DateTime", "Last Backup File", "Verified", "Test restore"};
    for (int i = 0; i < 5; ++i) {
      const int column = col(listFields[i]);
      if (column < 0) continue;
      list[0].columns << column;
      if (!DSDAtabase->hasCaption(column)) DSDAtabase->setHeaderData(column, Qt::Horizontal, QString::fromLatin1(listCaptions[i]));
    }
    BandedGrid2->setBands(list);
    QVector<BandedGrid::Band> week;
    int b = 0;
    for (const DayColumns& d : kWeek) {
      BandedGrid::Band band{BandedGrid1->bandCaption(b++), {}};
      const char* fields[] = {d.flag, d.time, d.disc, d.zip};
      const char* captions[] = {"Backup", "Time", "CD-DVD", "Zip"};
      for (int i = 0; i < 4; ++i) {
        const int column = col(fields[i]);
        if (column < 0) continue;
        band.columns << column;
        if (!DSDAtabase->hasCaption(column)) DSDAtabase->setHeaderData(column, Qt::Horizontal, QString::fromLatin1(captions[i]));
      }
      week.push_back(band);
    }
    BandedGrid1->setBands(week);
    QTableView* lv = BandedGrid2->view();
    lv->setColumnWidth(col("Veri_Tabani_Adi"), 110);
    lv->setColumnWidth(col("Son_Yedek_Tarih"), 130);
    lv->setColumnWidth(col("Son_Yedek_Dosya_Adi"), 120);
    lv->setColumnWidth(col("Verified"), 130);
    lv->setColumnWidth(col("Test_Restore"), 80);
    QTableView* wv = BandedGrid1->view();
    for (const DayColumns& d : kWeek) {
      wv->setColumnWidth(col(d.flag), 52);
      wv->setColumnWidth(col(d.time), 52);
      wv->setColumnWidth(col(d.disc), 56);
      wv->setColumnWidth(col(d.zip), 40);
    }
    syncCurrentFromDataset(data_.ADOTableDatabase.current_index());
  };
  connect(DSDAtabase, &QAbstractItemModel::modelReset, this, configure);
}

void TFormMain::syncCurrentFromDataset(int row) {
  if (syncing_ || row < 0) return;
  const QModelIndex source = DSDAtabase->index(row, 0);
  const QModelIndex proxy = DatabaseSort->mapFromSource(source);
  if (!proxy.isValid() || DatabaseSelection->currentIndex().row() == proxy.row()) return;
  syncing_ = true;
  const int column = DatabaseSelection->currentIndex().isValid() ? DatabaseSelection->currentIndex().column()
                                                                 : BandedGrid2->shownColumns().value(0, 0);
  DatabaseSelection->setCurrentIndex(DatabaseSort->index(proxy.row(), column),
                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  syncing_ = false;
}

std::vector<int> TFormMain::selectedDatabaseRows() const {
  std::vector<int> rows;
  for (const QModelIndex& i : DatabaseSelection->selectedRows()) rows.push_back(DatabaseSort->mapToSource(i).row());
  if (rows.empty() && data_.ADOTableDatabase.active() && !data_.ADOTableDatabase.empty())
    rows.push_back(data_.ADOTableDatabase.current_index());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TFormMain::buildMenusAndTray() {
  PopupMenuSkin1 = new QMenu(QStringLiteral("SQL"), this);
  PopupMenuSkin1->setObjectName(QStringLiteral("PopupMenuSkin1"));
  auto action = [](QMenu* menu, const char* name, const char* text) {
    QAction* a = menu->addAction(QString::fromLatin1(text));
    a->setObjectName(QString::fromLatin1(name));
    return a;
  };
  PopupBackup = action(PopupMenuSkin1, "PopupBackup", "BACKUP1");
  PopupRestore = action(PopupMenuSkin1, "PopupRestore", "RESTORE");
  PopupVerify = action(PopupMenuSkin1, "PopupVerify", "Verify by restoring");
  PopupMenuSkin1->addSeparator();
  PopupRepairIndex = action(PopupMenuSkin1, "PopupRepairIndex", "REPAIR INDEX");
  PopupRepairTable = action(PopupMenuSkin1, "PopupRepairTable", "REPAIR TABLE");
  connect(PopupBackup, &QAction::triggered, this, &TFormMain::BitBtn4Click);
  connect(PopupRestore, &QAction::triggered, this, &TFormMain::BitBtn2Click);
  connect(PopupVerify, &QAction::triggered, this, &TFormMain::VerifyByRestoringClick);
  connect(PopupRepairIndex, &QAction::triggered, this, &TFormMain::RepairIndexClick);
  connect(PopupRepairTable, &QAction::triggered, this, &TFormMain::RepairTableClick);
  for (BandedGrid* g : {BandedGrid2, BandedGrid1}) {
    QTableView* v = g->view();
    connect(v, &QWidget::customContextMenuRequested, this,
            [this, v](const QPoint& at) { PopupMenuSkin1->popup(v->viewport()->mapToGlobal(at)); });
  }

  PopupMenuTray = new QMenu(this);
  PopupMenuTray->setObjectName(QStringLiteral("PopupMenuTray"));
  TrayShow = action(PopupMenuTray, "TrayShow", "Show");
  TrayHide = action(PopupMenuTray, "TrayHide", "Hide");
  PopupMenuTray->addSeparator();
  TrayClose = action(PopupMenuTray, "TrayClose", "Close");
  connect(TrayShow, &QAction::triggered, this, &TFormMain::showFromTray);
  connect(TrayHide, &QAction::triggered, this, &TFormMain::hideToTray);
  connect(TrayClose, &QAction::triggered, this, &QWidget::close);

  FormTrayIcon1 = new QSystemTrayIcon(this);
  FormTrayIcon1->setObjectName(QStringLiteral("FormTrayIcon1"));
  FormTrayIcon1->setIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));
  FormTrayIcon1->setToolTip(QStringLiteral("ORVAKELL"));
  FormTrayIcon1->setContextMenu(PopupMenuTray);
  connect(FormTrayIcon1, &QSystemTrayIcon::activated, this, &TFormMain::trayActivated);
  FormTrayIcon1->show();
}

void TFormMain::bindSettings() {
  auto report = [this](const std::string& text) { dialogs_->standard_error(text); };
  observers_.push_back(new FieldBinding(data_.ADOTableSystem, "Temp_Dizini", Edit1, report));
  observers_.push_back(new FieldBinding(data_.ADOTableSystem, "Ziple", DBCheckBox2, report));
  observers_.push_back(new FieldBinding(data_.ADOTableSystem, "CD_Yaz", DBCheckBox3, report));
}

bool TFormMain::runHandler(const std::function<void()>& fn) {
  try {
    fn();
    return true;
  } catch (const std::exception& e) {
    dialogs_->standard_error(e.what());
    return false;
  }
}

QString TFormMain::shortDateToday() const {
  const dal::DateTimeParts p = dal::decode_date_time(clock_->now());
  return QLocale::system().toString(QDate(p.year, p.month, p.day), QLocale::ShortFormat);
}

QUrl TFormMain::productPage() { return QUrl(QStringLiteral("qrc:/orvakell/product.html")); }

void TFormMain::ShowWebPanel(QTextBrowser* browser) { browser->setSource(productPage()); }

// ---- tray -------------------------------------------------------------------------------------

void TFormMain::hideToTray() {
  hide();  // a hidden top-level window has no taskbar entry
  PopupMenuTray->setDefaultAction(TrayShow);
  TrayShow->setEnabled(true);
  TrayHide->setEnabled(false);
}

void TFormMain::showFromTray() {
  const bool wasHidden = isHidden();
  show();  // a window that was hidden gets a show event: the shown steps run again
  raise();
  activateWindow();
  if (wasHidden) {
    PopupMenuTray->setDefaultAction(TrayHide);
    TrayHide->setEnabled(true);
  }
}

void TFormMain::trayActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason != QSystemTrayIcon::DoubleClick) return;
  if (QAction* a = PopupMenuTray->defaultAction()) {
    if (a->isEnabled()) a->trigger();
    return;
  }
  raise();
  activateWindow();
}

// ---- window events ----------------------------------------------------------------------------

void TFormMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TFormMain::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
  emit closed();
}

void TFormMain::FormShow() {
  if (!runHandler([this] { TranslateForm(this, language_); })) return;
  ShowWebPanel(WebBrowser1);
  if (!StartDiscPanel()) return;
  eVolLabel->setText(shortDateToday());
}

// ---- handlers ---------------------------------------------------------------------------------

void TFormMain::BitBtn1Click() { close(); }

void TFormMain::setTimer2(bool on) {
  if (on && !scheduleInService_)
    Timer2->start();  // restarts the interval
  else
    Timer2->stop();
}

void TFormMain::showServiceText(bool discWriting) {
  const bool text = scheduleInService_ && !discWriting;
  lService->setVisible(text);
  Label6->setVisible(!text);
  pBuf->setVisible(!text);
  pHBuf->setVisible(!text);
}

void TFormMain::Timer3Timer() { dialogs_->repaint(); }

void TFormMain::sCacheSizeChange() { Label3->setText(QString::number(sCacheSize->value()) + QStringLiteral(" MB")); }

void TFormMain::cImportSessionClick() { eSession->setEnabled(cImportSession->isChecked()); }


}  // namespace orv::app
