// First-start links: a desktop entry (.desktop file) pointing at the tool, placed in one of the
// user's shell folders. Kinds are numbered as the window's callers pass them:
//   0 desktop, 1 quick launch, 2 send-to, 3 start menu, 4 documents, 5 autostart, 6 programs,
//   7 favourites.
// Kinds without a Linux counterpart (1, 2, 7) have no folder, and no link is made for them.
//
// Plain C++, no Qt. Threading: any thread. Errors: returned as a value carrying the system's
// text; nothing is thrown.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orv::shell {

// The folder of a link kind ("" when the kind has no counterpart or is unknown).
std::filesystem::path shortcut_folder(int kind);

// The link's file name: the target's file name with its extension changed to ".desktop".
std::string shortcut_file_name(const std::filesystem::path& target);

// The .desktop text: Type=Application, Exec= the quoted target, Name= the target's stem.
std::string desktop_entry_text(const std::filesystem::path& target);

struct ShortcutResult {
  std::filesystem::path link;   // the file written; empty when no link was made
  std::string error;            // the system's text when writing failed
  bool ok() const { return error.empty(); }
};

// Writes (or overwrites) the link to target in the folder of kind; creates the folder when it
// does not exist yet. A kind without a folder makes no link and is not an error.
[[nodiscard]] ShortcutResult CreateShellShortcut(const std::filesystem::path& target, int kind);

}  // namespace orv::shell
