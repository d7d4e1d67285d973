// The dialogs port on screen: QMessageBox, QFileDialog, the folder dialog TFormDatabaseYolu,
// QApplication::beep and immediate repaints.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

#include "core/dialogs.h"

namespace orv::app {

class QtDialogs final : public ui::Dialogs {
 public:
  // parent: the window the boxes are modal to. translate: the translation pass that dialogs
  // created here (the folder dialog) run when they are shown.
  QtDialogs(QWidget* parent, std::function<void(QWidget*)> translate)
      : parent_(parent), translate_(std::move(translate)) {}

  ui::Answer show_box(const ui::Box& box) override;
  std::optional<std::string> open_file(const ui::FileRequest& request) override;
  std::optional<std::string> choose_folder() override;
  void beep() override;
  void repaint() override;
  void process_events() override;

 private:
  QPointer<QWidget> parent_;
  std::function<void(QWidget*)> translate_;
};

// "Description|*.A;*.B|All Files|*.*" as a QFileDialog name filter list.
QString qtNameFilters(const std::string& filter);

}  // namespace orv::app
