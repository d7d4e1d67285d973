// TFormRest_File: the restore's confirmation window. Modal, without border or title bar
// (caption "Restore" for the translation pass), client area 645 x 174 centred on its parent.
// It shows the database name (Edit1) and the backup start time (Edit2) in read-only pale yellow
// fields that take no focus, the warning Label3 in bold red (the message string Restore_Str,
// set on creation), and the buttons "OK" (result 1) and "CANCEL" (result 2), 297 x 41 each,
// side by side along the bottom edge. Every show runs the translation pass over the window.
//
// Threading: user-interface thread only.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <functional>

namespace orv::app {

class TFormRest_File : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kResultOk = 1;
  static constexpr int kResultCancel = 2;
  static constexpr int kClientWidth = 645;
  static constexpr int kClientHeight = 174;

  // `translate` is the translation pass run on every show (may be empty).
  TFormRest_File(QWidget* parent, std::function<void(QWidget*)> translate);

  QLabel* Label1 = nullptr;  // "Database"
  QLineEdit* Edit1 = nullptr;
  QLabel* Label2 = nullptr;  // "Backup Date time"
  QLineEdit* Edit2 = nullptr;
  QLabel* Label3 = nullptr;  // the warning
  QPushButton* BitBtn1 = nullptr;  // "OK"
  QPushButton* BitBtn2 = nullptr;  // "CANCEL"

  void FormCreate();
  void FormShow();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::function<void(QWidget*)> translate_;
};

}  // namespace orv::app
