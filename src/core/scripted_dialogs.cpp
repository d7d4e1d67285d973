#include "core/scripted_dialogs.h"

namespace orv::ui {

Answer ScriptedDialogs::show_box(const Box& box) {
  events_.emplace_back(box);
  if (!box_answers_.empty()) {
    Answer a = box_answers_.front();
    box_answers_.pop_front();
    return a;
  }
  return box.buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

std::optional<std::string> ScriptedDialogs::open_file(const FileRequest& request) {
  events_.emplace_back(request);
  if (file_answers_.empty()) return std::nullopt;
  auto a = std::move(file_answers_.front());
  file_answers_.pop_front();
  return a;
}

std::optional<std::string> ScriptedDialogs::choose_folder() {
  events_.emplace_back(FolderRequest{});
  if (folder_answers_.empty()) return std::nullopt;
  auto a = std::move(folder_answers_.front());
  folder_answers_.pop_front();
  return a;
}

std::vector<Box> ScriptedDialogs::boxes() const {
  std::vector<Box> out;
  for (const auto& e : events_)
    if (const Box* b = std::get_if<Box>(&e)) out.push_back(*b);
  return out;
}

}  // namespace orv::ui
