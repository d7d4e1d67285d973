#include "app/window/form_zip_islem.h"

#include <QApplication>
#include <QShowEvent>

namespace orv::app {

TFormZip_Islem* FormZip_Islem = nullptr;

TFormZip_Islem::TFormZip_Islem(QWidget* owner)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), owner_(owner) {
  setObjectName(QStringLiteral("FormZip_Islem"));
  setWindowTitle(QStringLiteral("Process"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(557, 19);
  ProgressBar2 = new QProgressBar(this);
  ProgressBar2->setObjectName(QStringLiteral("ProgressBar2"));
  ProgressBar2->setGeometry(1, 1, 555, 17);
  ProgressBar2->setTextVisible(false);
  ProgressBar2->setRange(0, 100);
  ProgressBar2->setValue(0);
  Edit3 = new QLineEdit(this);
  Edit3->setObjectName(QStringLiteral("Edit3"));
  Edit3->setGeometry(600, 40, 121, 21);  // outside the visible area
  FormZip_Islem = this;
}

TFormZip_Islem::~TFormZip_Islem() {
  if (FormZip_Islem == this) FormZip_Islem = nullptr;
}

void TFormZip_Islem::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (owner_ != nullptr) {
    const QRect frame = owner_->frameGeometry();
    move(frame.center() - rect().center());
  }
}

void TFormZip_Islem::SetMaximum(std::int64_t maximum) {
  maximum_ = maximum;
  UpdateBar();
}

void TFormZip_Islem::SetPosition(std::int64_t position) {
  position_ = position;
  UpdateBar();
}

void TFormZip_Islem::UpdateBar() {
  // QProgressBar holds ints: a wider range is shown scaled, the same fraction of the bar.
  constexpr std::int64_t kLimit = 1 << 30;
  std::int64_t max = maximum_, pos = position_;
  if (max > kLimit) {
    const std::int64_t divisor = max / kLimit + 1;
    max /= divisor;
    pos /= divisor;
  }
  ProgressBar2->setRange(0, static_cast<int>(max < 0 ? 0 : max));
  ProgressBar2->setValue(static_cast<int>(pos < 0 ? 0 : pos > max ? max : pos));
  ProgressBar2->repaint();
}

void ZipIslemProgress::Open() {
  auto* window = new TFormZip_Islem(owner_);
  window->show();
  window->raise();
  window->repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ZipIslemProgress::Close() {
  if (FormZip_Islem != nullptr) {
    TFormZip_Islem* window = FormZip_Islem;
    FormZip_Islem = nullptr;
    window->close();  // deletes itself (WA_DeleteOnClose)
  }
}

void ZipIslemProgress::SetMaximum(std::int64_t maximum) {
  if (FormZip_Islem != nullptr) FormZip_Islem->SetMaximum(maximum);
}

void ZipIslemProgress::SetPosition(std::int64_t position) {
  if (FormZip_Islem != nullptr) FormZip_Islem->SetPosition(position);
}

std::int64_t ZipIslemProgress::Maximum() const { return FormZip_Islem != nullptr ? FormZip_Islem->Maximum() : 0; }

std::int64_t ZipIslemProgress::Position() const { return FormZip_Islem != nullptr ? FormZip_Islem->Position() : 0; }

}  // namespace orv::app
