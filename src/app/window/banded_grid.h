// A data grid with bands: a row of band captions over the column captions of a QTableView.
// Columns are the model's columns; each visible column belongs to one band (a run of adjacent
// visible columns). Column captions are the model's horizontal header data, so the translation
// pass sets them with setHeaderData; band captions live here.
//
// Several grids may share one model and one selection model (the database list and the week grid
// show different columns of Database_List and always the same current row).
#pragma once

#include <QStringList>
#include <QTableView>
#include <QVector>
#include <QWidget>

class BandBar;

class BandedGrid : public QWidget {
  Q_OBJECT
 public:
  explicit BandedGrid(QWidget* parent = nullptr);

  QTableView* view() const { return view_; }

  struct Band {
    QString caption;
    QVector<int> columns;  // model columns, in display order
  };
  // Shows exactly the columns of the bands, in band order, and hides every other model column.
  void setBands(const QVector<Band>& bands);
  int bandCount() const { return bands_.size(); }
  QString bandCaption(int band) const { return bands_.value(band).caption; }
  void setBandCaption(int band, const QString& caption);
  // The model columns shown, in display order.
  QVector<int> shownColumns() const;
  // Re-applies the column set after the model was reset or replaced.
  void applyBands();

 private:
  friend class BandBar;
  QTableView* view_;
  BandBar* bar_;
  QVector<Band> bands_;
};
