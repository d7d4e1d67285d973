#include "app/window/banded_grid.h"

#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

// The strip of band captions; each band spans the current width of its columns and follows the
// view's horizontal scrolling and column resizing.
class BandBar : public QWidget {
 public:
  explicit BandBar(BandedGrid* grid) : QWidget(grid), grid_(grid) { setFixedHeight(fontMetrics().height() + 6); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QTableView* v = grid_->view_;
    const int offset = v->verticalHeader()->isVisible() ? v->verticalHeader()->width() : 0;
    p.fillRect(rect(), palette().button());
    for (const auto& band : grid_->bands_) {
      int left = INT_MAX, right = INT_MIN;
      for (int c : band.columns) {
        if (v->isColumnHidden(c)) continue;
        const int x = v->columnViewportPosition(c);
        left = std::min(left, x);
        right = std::max(right, x + v->columnWidth(c));
      }
      if (left > right) continue;
      QRect r(left + offset + v->frameWidth(), 0, right - left, height());
      p.setPen(palette().mid().color());
      p.drawRect(r.adjusted(0, 0, -1, -1));
      p.setPen(palette().buttonText().color());
      p.drawText(r, Qt::AlignCenter, band.caption);
    }
  }

 private:
  BandedGrid* grid_;
};

BandedGrid::BandedGrid(QWidget* parent) : QWidget(parent), view_(new QTableView(this)) {
  bar_ = new BandBar(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(bar_);
  layout->addWidget(view_);
  view_->setObjectName(QString());
  view_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  auto refresh = [this] { bar_->update(); };
  connect(view_->horizontalScrollBar(), &QScrollBar::valueChanged, this, refresh);
  connect(view_->horizontalHeader(), &QHeaderView::sectionResized, this, refresh);
  connect(view_->horizontalHeader(), &QHeaderView::sectionMoved, this, refresh);
}

void BandedGrid::setBands(const QVector<Band>& bands) {
  bands_ = bands;
  applyBands();
}

void BandedGrid::setBandCaption(int band, const QString& caption) {
  if (band < 0 || band >= bands_.size()) return;
  bands_[band].caption = caption;
  bar_->update();
}

QVector<int> BandedGrid::shownColumns() const {
  QVector<int> out;
  for (const auto& b : bands_) out += b.columns;
  return out;
}

void BandedGrid::applyBands() {
  QAbstractItemModel* m = view_->model();
  if (!m) return;
  const QVector<int> shown = shownColumns();
  for (int c = 0; c < m->columnCount(); ++c) view_->setColumnHidden(c, !shown.contains(c));
  QHeaderView* h = view_->horizontalHeader();
  for (int i = 0; i < shown.size(); ++i) {
    const int from = h->visualIndex(shown[i]);
    if (from >= 0 && from != i) h->moveSection(from, i);
  }
  bar_->update();
}
