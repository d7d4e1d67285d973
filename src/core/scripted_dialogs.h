// A dialogs port for tests: records every request in the order the operator would have seen it
// and answers from a script. Unscripted boxes answer with their first button (Ok or Yes);
// unscripted file and folder dialogs are cancelled.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/dialogs.h"

namespace orv::ui {

class ScriptedDialogs final : public Dialogs {
 public:
  // One recorded request.
  struct FolderRequest {
    friend bool operator==(const FolderRequest&, const FolderRequest&) = default;
  };
  using Event = std::variant<Box, FileRequest, FolderRequest>;

  // Script the next answers, consumed in order.
  void answer_box(Answer a) { box_answers_.push_back(a); }
  void answer_file(std::optional<std::string> file) { file_answers_.push_back(std::move(file)); }
  void answer_folder(std::optional<std::string> folder) { folder_answers_.push_back(std::move(folder)); }

  Answer show_box(const Box& box) override;
  std::optional<std::string> open_file(const FileRequest& request) override;
  std::optional<std::string> choose_folder() override;
  void beep() override { ++beeps_; }
  void repaint() override { ++repaints_; }
  void process_events() override { ++event_pumps_; }

  const std::vector<Event>& events() const { return events_; }
  // The boxes alone, in order.
  std::vector<Box> boxes() const;
  int beeps() const { return beeps_; }
  int repaints() const { return repaints_; }
  int event_pumps() const { return event_pumps_; }
  void clear() { events_.clear(); }
  // True when every scripted answer was used.
  bool script_used_up() const { return box_answers_.empty() && file_answers_.empty() && folder_answers_.empty(); }

 private:
  std::vector<Event> events_;
  std::deque<Answer> box_answers_;
  std::deque<std::optional<std::string>> file_answers_;
  std::deque<std::optional<std::string>> folder_answers_;
  int beeps_ = 0;
  int repaints_ = 0;
  int event_pumps_ = 0;
};

}  // namespace orv::ui
