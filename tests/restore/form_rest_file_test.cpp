// The confirmation window TFormRest_File on the offscreen platform.
#include "app/window/form_rest_file.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "i18n/messages.h"

namespace orv::app {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "form_rest_file_test";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(argc, argv);
  return app;
}

TEST(FormRestFile, LayoutAndFields) {
  App();
  i18n::messages().Restore_Str = "You are about to restore the database above!";
  QWidget owner;
  owner.setGeometry(100, 100, 1000, 700);
  TFormRest_File form(&owner, {});

  EXPECT_EQ(form.size(), QSize(645, 174));
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(form.windowTitle(), "Restore");
  EXPECT_EQ(form.Label1->text(), "Database");
  EXPECT_EQ(form.Label2->text(), "Backup Date time");
  for (QLineEdit* edit : {form.Edit1, form.Edit2}) {
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xE1));
  }
  // The warning is the message string, set on creation, bold red.
  EXPECT_EQ(form.Label3->text(), "You are about to restore the database above!");
  EXPECT_TRUE(form.Label3->font().bold());
  EXPECT_EQ(form.Label3->palette().color(QPalette::WindowText), QColor(Qt::red));
  // Two 297 x 41 buttons side by side along the bottom edge, inside the client area.
  EXPECT_EQ(form.BitBtn1->size(), QSize(297, 41));
  EXPECT_EQ(form.BitBtn2->size(), QSize(297, 41));
  EXPECT_EQ(form.BitBtn1->y(), form.BitBtn2->y());
  EXPECT_LT(form.BitBtn1->geometry().right(), form.BitBtn2->x());
  EXPECT_LE(form.BitBtn2->geometry().right(), 645);
  EXPECT_LE(form.BitBtn1->geometry().bottom(), 174);
  EXPECT_GE(form.BitBtn1->geometry().bottom(), 174 - 10);
  for (QWidget* w : std::initializer_list<QWidget*>{form.Label1, form.Edit1, form.Label2, form.Edit2, form.Label3})
    EXPECT_TRUE(QRect(0, 0, 645, 174).contains(w->geometry())) << w->objectName().toStdString();
}

TEST(FormRestFile, ShowTranslatesCentresAndButtonsGiveTheirResults) {
  App();
  QWidget owner;
  owner.setGeometry(100, 100, 1000, 700);
  owner.show();
  for (auto [button, expected] : {std::pair{1, TFormRest_File::kResultOk}, std::pair{2, TFormRest_File::kResultCancel}}) {
    int translated = 0;
    TFormRest_File form(&owner, [&](QWidget* w) {
      ++translated;
      EXPECT_EQ(w, &form);
    });
    QPoint centre;
    QTimer::singleShot(0, &form, [&, button = button] {
      centre = form.frameGeometry().center();
      (button == 1 ? form.BitBtn1 : form.BitBtn2)->click();
    });
    EXPECT_EQ(form.exec(), expected);
    EXPECT_EQ(translated, 1);
    EXPECT_LE((centre - owner.frameGeometry().center()).manhattanLength(), 2);
  }
}

}  // namespace
}  // namespace orv::app
