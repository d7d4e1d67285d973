#include "app/window/form_rest_file.h"

#include <QFont>
#include <QPalette>

#include "i18n/messages.h"

namespace orv::app {

namespace {

QLineEdit* ReadOnlyField(QWidget* parent, const char* name, int top) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setReadOnly(true);
  edit->setFocusPolicy(Qt::NoFocus);  // not a tab stop
  QPalette p = edit->palette();
  p.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xE1));  // pale yellow
  edit->setPalette(p);
  edit->setGeometry(150, top, 487, 24);
  return edit;
}

QLabel* Caption(QWidget* parent, const char* name, const char* text, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(8, top, 138, 24);
  return label;
}

}  // namespace

TFormRest_File::TFormRest_File(QWidget* parent, std::function<void(QWidget*)> translate)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), translate_(std::move(translate)) {
  setObjectName(QStringLiteral("FormRest_File"));
  setWindowTitle(QStringLiteral("Restore"));
  setModal(true);
  setFixedSize(kClientWidth, kClientHeight);

  Label1 = Caption(this, "Label1", "Database", 10);
  Edit1 = ReadOnlyField(this, "Edit1", 10);
  Label2 = Caption(this, "Label2", "Backup Date time", 40);
  Edit2 = ReadOnlyField(this, "Edit2", 40);

  Label3 = new QLabel(QString::fromUtf8("YUKARIDA BELİRTİLEN VERİTABANININ GERİ YÜKLEMESİNİ YAPMAK ÜZERESİNİZ.....!"),
                      this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setGeometry(8, 70, 629, 52);
  Label3->setWordWrap(true);
  Label3->setAlignment(Qt::AlignCenter);
  QFont bold = Label3->font();
  bold.setBold(true);
  Label3->setFont(bold);
  QPalette red = Label3->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  Label3->setPalette(red);

  BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(kClientWidth / 2 - 297 - 8, kClientHeight - 41 - 6, 297, 41);
  BitBtn2 = new QPushButton(QStringLiteral("CANCEL"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(kClientWidth / 2 + 8, kClientHeight - 41 - 6, 297, 41);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { done(kResultOk); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { done(kResultCancel); });

  FormCreate();
}

void TFormRest_File::FormCreate() { Label3->setText(QString::fromStdString(i18n::messages().Restore_Str)); }

void TFormRest_File::FormShow() {
  if (translate_) translate_(this);
  if (QWidget* owner = parentWidget()) {
    const QRect area = owner->window()->frameGeometry();
    move(area.center() - rect().center());
  }
}

void TFormRest_File::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

}  // namespace orv::app
