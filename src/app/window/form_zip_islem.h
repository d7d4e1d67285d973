// TFormZip_Islem: the small progress window every long operation of the main window shows
// (archiving, extraction during a restore, index and table maintenance). No border, always on
// top, caption "Process", client area 557 x 19 centred on the main window, one bar ProgressBar2
// (555 x 17, range 0..100 until changed) and an edit Edit3 outside the visible area. It frees
// itself when it closes and empties the process-wide reference FormZip_Islem. Never translated.
//
// ZipIslemProgress is the backup services' ProgressWindow port (backup/run/archive_step.h) over
// it: Open creates and shows one, Close closes it, the bar calls reach the open one. The bar's
// values are 64-bit; a range wider than an int is scaled down for the Qt bar.
//
// Threading: user-interface thread only.
#pragma once

#include <QLineEdit>
#include <QProgressBar>
#include <QWidget>

#include <cstdint>

#include "backup/run/archive_step.h"

namespace orv::app {

class TFormZip_Islem : public QWidget {
  Q_OBJECT
 public:
  // `owner` is the window to centre on (the main window); the window is top-level.
  explicit TFormZip_Islem(QWidget* owner);
  ~TFormZip_Islem() override;

  QProgressBar* ProgressBar2 = nullptr;
  QLineEdit* Edit3 = nullptr;

  // The bar in 64-bit units.
  void SetMaximum(std::int64_t maximum);
  void SetPosition(std::int64_t position);
  std::int64_t Maximum() const { return maximum_; }
  std::int64_t Position() const { return position_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void UpdateBar();
  QWidget* owner_ = nullptr;
  std::int64_t maximum_ = 100;
  std::int64_t position_ = 0;
};

// The open progress window, or nullptr when none is open.
extern TFormZip_Islem* FormZip_Islem;

class ZipIslemProgress final : public backup::ProgressWindow {
 public:
  explicit ZipIslemProgress(QWidget* owner) : owner_(owner) {}
  void Open() override;
  bool IsOpen() const override { return FormZip_Islem != nullptr; }
  void Close() override;
  void SetMaximum(std::int64_t maximum) override;
  void SetPosition(std::int64_t position) override;
  std::int64_t Maximum() const override;
  std::int64_t Position() const override;

 private:
  QWidget* owner_;
};

}  // namespace orv::app
