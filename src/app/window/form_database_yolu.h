// The folder dialog: a folder tree of the whole file system rooted at "/", with the buttons
// "OK" (result 1) and "CANCEL" (result 2). Folders can be renamed in place and moved by drag and
// drop; the context menu offers a new folder and rename. Translated when shown.
#pragma once

#include <QDialog>

#include <functional>

class QFileSystemModel;
class QPushButton;
class QTreeView;

class TFormDatabaseYolu : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kResultOk = 1;
  static constexpr int kResultCancel = 2;

  TFormDatabaseYolu(QWidget* parent, std::function<void(QWidget*)> translate);

  // The full path of the folder selected in the tree ("" when none).
  QString selectedPath() const;
  // Selects a folder (the tree expands to it).
  void selectPath(const QString& path);

  QTreeView* ShellTreeView1 = nullptr;
  QPushButton* BitBtn1 = nullptr;  // "OK"
  QPushButton* BitBtn2 = nullptr;  // "CANCEL"

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void contextMenu(const QPoint& at);

  QFileSystemModel* model_ = nullptr;
  std::function<void(QWidget*)> translate_;
};
