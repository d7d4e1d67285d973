// The plain message list (messages.txt): one "NUMBER<tab>TEXT" a line, '#' comments, "\n" for a
// line break and "\\" for a backslash. Used by the build tool and by tests.
#pragma once

#include <string>
#include <string_view>

#include "message_codec.h"

namespace orv::zip {

struct [[nodiscard]] MessageListResult {
  bool ok = false;
  std::string error;     // "line N: why"
  MessageMap messages;
};

MessageListResult ParseMessageList(std::string_view text);

}  // namespace orv::zip
