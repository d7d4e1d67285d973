#include "app/window/form_sql_connect.h"

#include <QShowEvent>

#include "app/window/field_binding.h"
#include "app/window/form_main.h"
#include "app/window/translate_form.h"

namespace orv::app {

namespace {

void redEdit(QLineEdit* edit) {
  QPalette p = edit->palette();
  p.setColor(QPalette::Base, Qt::red);
  p.setColor(QPalette::Text, Qt::white);
  p.setColor(QPalette::Disabled, QPalette::Base, QColor(200, 60, 60));
  p.setColor(QPalette::Disabled, QPalette::Text, Qt::white);
  edit->setPalette(p);
  QFont f = edit->font();
  f.setBold(true);
  edit->setFont(f);
}

}  // namespace

TFormSQLConnect::TFormSQLConnect(TFormMain& main) : QDialog(&main), main_(main) {
  setObjectName(QStringLiteral("FormSQLConnect"));
  setWindowTitle(QStringLiteral("Connection Setting"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(360, 170);

  DBCheckBox1 = new QCheckBox(QStringLiteral("SQL Server and Windows"), this);
  DBCheckBox1->setObjectName(QStringLiteral("DBCheckBox1"));
  DBCheckBox1->setGeometry(16, 12, 320, 22);
  Label10 = new QLabel(QStringLiteral("Account"), this);
  Label10->setObjectName(QStringLiteral("Label10"));
  Label10->setGeometry(16, 44, 90, 22);
  DBEdit1 = new QLineEdit(this);
  DBEdit1->setObjectName(QStringLiteral("DBEdit1"));
  DBEdit1->setGeometry(110, 44, 230, 22);
  Label11 = new QLabel(QStringLiteral("Password"), this);
  Label11->setObjectName(QStringLiteral("Label11"));
  Label11->setGeometry(16, 74, 90, 22);
  DBEdit2 = new QLineEdit(this);
  DBEdit2->setObjectName(QStringLiteral("DBEdit2"));
  DBEdit2->setGeometry(110, 74, 230, 22);
  DBEdit2->setEchoMode(QLineEdit::Password);
  for (QLineEdit* e : {DBEdit1, DBEdit2}) {
    redEdit(e);
    e->setEnabled(false);
  }
  BitBtn5 = new QPushButton(QStringLiteral("Connect"), this);
  BitBtn5->setObjectName(QStringLiteral("BitBtn5"));
  BitBtn5->setGeometry(16, 116, 150, 36);
  BitBtn1 = new QPushButton(QStringLiteral("Close"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(190, 116, 150, 36);

  dal::Table& system = main_.data().ADOTableSystem;
  auto report = [this](const std::string& text) { main_.dialogs().standard_error(text); };
  bindings_.push_back(new FieldBinding(system, "Author", DBCheckBox1, report));
  bindings_.push_back(new FieldBinding(system, "User_Name", DBEdit1, report));
  bindings_.push_back(new FieldBinding(system, "Passw", DBEdit2, report));

  connect(DBCheckBox1, &QCheckBox::clicked, this, &TFormSQLConnect::DBCheckBox1Click);
  connect(BitBtn5, &QPushButton::clicked, this, &TFormSQLConnect::BitBtn5Click);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::close);
}

TFormSQLConnect::~TFormSQLConnect() {
  for (FieldBinding* b : bindings_) delete b;
}

void TFormSQLConnect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) main_.runHandler([this] { TranslateForm(this, main_.language()); });
}

void TFormSQLConnect::DBCheckBox1Click() {
  const bool on = DBCheckBox1->isChecked();
  DBEdit1->setEnabled(on);
  DBEdit2->setEnabled(on);
}

void TFormSQLConnect::BitBtn5Click() {
  main_.runHandler([this] {
    const std::optional<std::string> failure = main_.data().server.ConnectClick(main_.data().store);
    const i18n::MessageStrings& m = i18n::messages();
    if (!failure) main_.dialogs().message(m.Suc_Conc_Str, m.Connect, ui::BoxKind::Information);
    else main_.dialogs().message(m.Err_Cont_Str, m.Err_Conc_Str, ui::BoxKind::Error);
  });
}

}  // namespace orv::app
