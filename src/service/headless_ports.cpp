#include "service/headless_ports.h"

#include <algorithm>

namespace orv::service {

namespace {

const char* KindText(ui::BoxKind kind) {
  switch (kind) {
    case ui::BoxKind::Error: return "error";
    case ui::BoxKind::Warning: return "warning";
    case ui::BoxKind::Question: return "question";
    case ui::BoxKind::Information: return "information";
    case ui::BoxKind::Plain: break;
  }
  return "message";
}

}  // namespace

Ticker SteadyTicker() {
  return [] { return std::chrono::steady_clock::now(); };
}

bool ThrottledReporter::Report(const std::string& text) {
  const auto now = ticker_();
  if (written_ && now - last_ < interval_) return false;
  written_ = true;
  last_ = now;
  out_ << "orvakell-service: " << text << std::endl;
  return true;
}

// ---- boxes -------------------------------------------------------------------------------------

void LoggingDialogs::Note(const std::string& outcome, const std::string& text) {
  err_ << "orvakell-service: " << outcome << ": " << text << std::endl;
  if (auto failed = log_.AppendFields(clock_.now(), {"service", "", "", outcome, text}))
    err_ << "orvakell-service: the run log refused a line: " << *failed << std::endl;
}

ui::Answer LoggingDialogs::show_box(const ui::Box& box) {
  const ui::Answer answer = box.buttons == ui::Buttons::YesNo ? ui::Answer::Yes : ui::Answer::Ok;
  const bool standard_error = box.kind == ui::BoxKind::Error && box.caption == kApplicationTitle;
  if (standard_error) {
    if (box.text == last_standard_error_) return answer;
    last_standard_error_ = box.text;
  }
  ++boxes_;
  const std::string caption = box.caption.empty() ? kApplicationTitle : box.caption;
  Note(std::string("box ") + KindText(box.kind), caption + ": " + box.text + " [answered " +
                                                    (answer == ui::Answer::Yes ? "Yes" : "OK") + "]");
  return answer;
}

std::optional<std::string> LoggingDialogs::open_file(const ui::FileRequest& request) {
  Note("box", "file dialog \"" + request.title + "\" cancelled: no operator");
  return std::nullopt;
}

std::optional<std::string> LoggingDialogs::choose_folder() {
  Note("box", "folder dialog cancelled: no operator");
  return std::nullopt;
}

bool LoggingDialogs::ErrorOnce(const std::string& key, const std::string& text) {
  auto it = std::find_if(errors_.begin(), errors_.end(), [&](const auto& e) { return e.first == key; });
  if (it != errors_.end() && it->second == text) return false;
  if (it == errors_.end())
    errors_.emplace_back(key, text);
  else
    it->second = text;
  Note("error", key + ": " + text + " (tried again at every tick; logged again when the error changes)");
  return true;
}

void LoggingDialogs::Cleared(const std::string& key) {
  auto it = std::find_if(errors_.begin(), errors_.end(), [&](const auto& e) { return e.first == key; });
  if (it == errors_.end()) return;
  errors_.erase(it);
  Note("recovered", key + " is reachable again");
}

// ---- progress ----------------------------------------------------------------------------------

void StderrProgressWindow::Open() {
  open_ = true;
  maximum_ = 100;
  position_ = 0;
  reporter_.Reset();
}

void StderrProgressWindow::SetPosition(std::int64_t position) {
  position_ = position;
  if (!open_ || maximum_ <= 1) return;
  const std::int64_t percent = std::clamp<std::int64_t>((position - 1) * 100 / (maximum_ - 1), 0, 100);
  reporter_.Report("archive " + std::to_string(percent) + "%");
}

void ServiceRunView::SetLabel10(const std::string& text) {
  if (text.empty()) return;
  reporter_.Reset();
  reporter_.Report(text);
}

void ServiceRunView::StartDiscWrite() {
  if (start_disc) start_disc();
}

void ServiceRunView::ShowLastOutcome(const std::string& text) { err_ << "orvakell-service: " << text << std::endl; }

}  // namespace orv::service
