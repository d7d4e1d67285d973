// The start-up and shutdown orders of the main window that do not touch widgets, so they run
// the same under a test. The window clears its status lines before calling CreateSteps and sets
// its volume label when CreateSteps says the connection succeeded.
//
// Boxes go through the dialogs port; an error that a step does not catch is shown in the
// standard error box with its own text and ends the order at that point, as for any handler.
#pragma once

#include <filesystem>
#include <string>

#include "core/main_data.h"
#include "core/dialogs.h"

namespace orv::app {

using core::MainData;

// Caption of the box shown when no database server is registered.
inline constexpr const char* kNoServerCaption = "MSSQL,MSDE,SQL EXPRESS";
// The program the first-start links start, in the installation folder.
inline constexpr const char* kProgramName = "orvakell";

// Registers the data-access providers the tool uses ("SQLite", "SQLOLEDB.1"). Idempotent.
void RegisterProviders();

// The installation folder without a final separator.
std::string InstallationFolder();

// How far the creation order got.
enum class CreateReached {
  ServerCheckFailed,   // the server check raised an error (registered server without LoginMode)
  NoServer,            // no server registered: the MS_Not_Found box was shown
  SettingsFailed,      // the settings database could not be opened
  ConnectFailed,       // the server connection or the list refresh failed
  Connected,           // everything ran; the caller sets the volume label
};

struct CreateOutcome {
  CreateReached reached = CreateReached::ServerCheckFailed;
  std::string mode;         // the server check's login mode text
  bool links_made = false;  // the first-start links were written
};

// Creation steps 2-6: installation folder and UnattendedRun, server check, settings database,
// first-start links, connect and list refresh.
CreateOutcome CreateSteps(MainData& data, ui::Dialogs& dialogs);

// The text of the no-server box. The message strings are still empty at that point (they are
// loaded when the window is first shown) and the settings connection is not open, so the text
// is looked up in the shipped settings database of the installation folder on a connection of
// its own; when that cannot be read, the key itself is the text, as for any missing row.
std::string NoServerText(const std::filesystem::path& installation_folder);

// Closing, after the disc options: posts a pending System edit and a schedule edit the operator
// left in a grid. Errors go to the standard error box.
void CloseSteps(MainData& data, ui::Dialogs& dialogs);

}  // namespace orv::app
