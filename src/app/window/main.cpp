// orvakell: the backup tool's window. One main window; the program ends when it closes.
#include <QApplication>
#include <QMessageBox>

#include <iostream>

#include "app/shell/display.h"
#include "app/window/form_main.h"
#include "platform/instance_lock.h"

int main(int argc, char** argv) {
  // Without a display Qt would abort: say so in one line and end with status 2.
  if (const std::string why = orv::shell::missing_display(orv::shell::process_environment()); !why.empty()) {
    std::cerr << why;
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ORVAKELL"));
  // One copy per installation: a second one would run the same scheduled backups again.
  orv::platform::InstanceLock instance(orv::platform::default_instance_lock_file());
  if (instance.state() == orv::platform::InstanceLock::State::HeldElsewhere) {
    QMessageBox::information(nullptr, QStringLiteral("ORVAKELL"),
                             QString::fromUtf8(orv::platform::kAlreadyRunningText));
    return 0;
  }
  if (instance.state() == orv::platform::InstanceLock::State::Unavailable)
    std::cerr << "orvakell: running without the one-copy lock: " << instance.error() << "\n";
  // The window hides to the tray and boxes may close while it is hidden: only closing the main
  // window ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  orv::app::TFormMain window;
  QObject::connect(&window, &orv::app::TFormMain::closed, &app, &QApplication::quit);
  window.show();
  return QApplication::exec();
}
