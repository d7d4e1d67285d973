// TFormSQLConnect: the connection dialog. Its controls edit the System row directly (the login
// choice Author, the account and the password); "Connect" stores a pending change, reconnects the
// server connection with the chosen login and refreshes the database list.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace orv::app {

class TFormMain;
class FieldBinding;

class TFormSQLConnect : public QDialog {
  Q_OBJECT
 public:
  explicit TFormSQLConnect(TFormMain& main);
  ~TFormSQLConnect() override;

  QCheckBox* DBCheckBox1 = nullptr;  // "SQL Server and Windows" (Author)
  QLabel* Label10 = nullptr;         // "Account"
  QLineEdit* DBEdit1 = nullptr;      // User_Name
  QLabel* Label11 = nullptr;         // "Password"
  QLineEdit* DBEdit2 = nullptr;      // Passw
  QPushButton* BitBtn5 = nullptr;    // "Connect"
  QPushButton* BitBtn1 = nullptr;    // "Close"

 public slots:
  void BitBtn5Click();
  void DBCheckBox1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TFormMain& main_;
  std::vector<FieldBinding*> bindings_;
};

}  // namespace orv::app
