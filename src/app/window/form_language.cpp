#include "app/window/form_language.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include "app/window/dataset_model.h"
#include "app/window/form_main.h"
#include "app/window/translate_form.h"

namespace orv::app {

TFormLanguage::TFormLanguage(TFormMain& main)
    : QDialog(&main), main_(main), query_(main.data().ADOConnection1) {
  setObjectName(QStringLiteral("FormLanguage"));
  setWindowTitle(QStringLiteral("Language"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(771, 610);

  model_ = new DataSetModel(query_, nullptr);
  model_->setReadOnly(QStringLiteral("English"));
  model_->setReadOnly(QStringLiteral("Degisken"));
  model_->setHighlight(QStringLiteral("English"), QColor(255, 255, 204), QColor(Qt::black), false);
  BandedGrid1 = new QTableView(this);
  BandedGrid1->setObjectName(QStringLiteral("BandedGrid1"));
  BandedGrid1->setGeometry(9, 9, 753, 529);
  BandedGrid1->setModel(model_);
  BandedGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  BandedGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  BandedGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
  BitBtn1 = new QPushButton(QStringLiteral("ENGLISH"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(9, 552, 281, 41);
  BitBtn2 = new QPushButton(QStringLiteral("CLOSE1"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(481, 552, 281, 41);
  connect(BitBtn1, &QPushButton::clicked, this, &TFormLanguage::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::accept);
  connect(model_, &QAbstractItemModel::modelReset, this, &TFormLanguage::configureColumns);
  // Leaving a row posts its edit.
  connect(BandedGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) main_.runHandler([&] { model_->moveTo(current.row()); });
          });

  query_.set_sql({"Select * From Language_Tbl Order By English"});
  query_.open();
  TranslateForm(this, main_.language());
}

TFormLanguage::~TFormLanguage() { delete model_; }

void TFormLanguage::configureColumns() {
  const int key = model_->columnOf(QStringLiteral("Degisken"));
  const int english = model_->columnOf(QStringLiteral("English"));
  const int language = model_->columnOf(QStringLiteral("Language"));
  if (key >= 0) BandedGrid1->setColumnHidden(key, true);
  if (english >= 0) {
    if (!model_->hasCaption(english)) model_->setHeaderData(english, Qt::Horizontal, QStringLiteral("English"));
    BandedGrid1->setColumnWidth(english, 311);
  }
  if (language >= 0) {
    if (!model_->hasCaption(language)) model_->setHeaderData(language, Qt::Horizontal, QStringLiteral("Your Language"));
    BandedGrid1->setColumnWidth(language, 412);
  }
}

void TFormLanguage::BitBtn1Click() {
  main_.runHandler([this] {
    query_.first();
    while (!query_.eof()) {
      query_.edit();
      query_.field("Language").set_string(query_.field("English").as_string());
      query_.post();
      query_.next();
    }
  });
}

void TFormLanguage::done(int result) {
  main_.runHandler([this] {
    if (query_.state() == dal::DataSetState::Edit || query_.state() == dal::DataSetState::Insert) query_.post();
  });
  QDialog::done(result);
}

}  // namespace orv::app
