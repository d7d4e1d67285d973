// Parser of the plain message list (see message_list.h).
#include "message_list.h"

#include <charconv>

namespace orv::zip {

MessageListResult ParseMessageList(std::string_view text) {
  MessageListResult result;
  std::size_t line_no = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const auto fail = [&](const std::string& why) {
      result.error = "line " + std::to_string(line_no) + ": " + why;
      return result;
    };
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return fail("no tab after the number");
    int number = 0;
    const auto [ptr, ec] = std::from_chars(line.data(), line.data() + tab, number);
    if (ec != std::errc() || ptr != line.data() + tab || number < 0 || number > 0xFFFF)
      return fail("bad message number");
    std::string value;
    for (std::size_t i = tab + 1; i < line.size(); ++i) {
      if (line[i] != '\\') {
        value.push_back(line[i]);
        continue;
      }
      if (i + 1 >= line.size()) return fail("backslash at the end of the line");
      const char e = line[++i];
      if (e == 'n') value.push_back('\n');
      else if (e == '\\') value.push_back('\\');
      else return fail(std::string("unknown escape \\") + e);
    }
    if (value.empty()) return fail("empty text");
    if (!result.messages.emplace(number, Utf8ToUtf16(value)).second)
      return fail("message " + std::to_string(number) + " given twice");
  }
  result.ok = true;
  return result;
}

}  // namespace orv::zip
