// orvakell: the backup tool's window. One main window; the program ends when it closes.
#include <QApplication>

#include "app/window/form_main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ORVAKELL"));
  // The window hides to the tray and boxes may close while it is hidden: only closing the main
  // window ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  orv::app::TFormMain window;
  QObject::connect(&window, &orv::app::TFormMain::closed, &app, &QApplication::quit);
  window.show();
  return QApplication::exec();
}
