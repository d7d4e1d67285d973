// TFormLanguage: the translation editor. A grid lists every row of Language_Tbl ordered by its
// English text, with the English text read-only and "Your Language" editable; an edit is posted
// when the grid leaves the row (and when the editor closes). "ENGLISH" copies every English text
// into Language, without a question.
//
// The editor reads the table through a query of its own on the settings connection, so the
// lookups of a translation pass (which reuse the window's language query) never disturb it.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QTableView>

#include "dal/dataset.h"

namespace orv::app {

class TFormMain;
class DataSetModel;

class TFormLanguage : public QDialog {
  Q_OBJECT
 public:
  // Translates the editor and opens its query; errors propagate (the caller shows them).
  explicit TFormLanguage(TFormMain& main);
  ~TFormLanguage() override;

  QTableView* BandedGrid1 = nullptr;
  QPushButton* BitBtn1 = nullptr;  // "ENGLISH"
  QPushButton* BitBtn2 = nullptr;  // "CLOSE1"
  dal::Query& query() { return query_; }

 public slots:
  void BitBtn1Click();

 protected:
  void done(int result) override;

 private:
  void configureColumns();
  TFormMain& main_;
  dal::Query query_;
  DataSetModel* model_ = nullptr;
};

}  // namespace orv::app
