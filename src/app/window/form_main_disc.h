// The disc side of the main window: the burner `DiscBurner1`, the process-wide recorder options,
// the disc step (backup/disc/disc_step.h) and its view over the window's status bar. Created on
// first use and owned by the window (a child object), so it lives exactly as long as the window;
// going away while a write runs stops that write and waits for it.
//
// The panel's handlers (cbDrivesChange, cbSpeedDropDown, sCacheSizeChange, cImportSessionClick,
// cBootableClick), the disc panel start and the options save, Timer1Timer, bBurnClick and
// bAbortClick are TFormMain's slots, defined in form_main_disc.cpp.
//
// Threading: user-interface thread only; the burner's end-of-write report is posted to it.
#pragma once

#include <memory>

#include "backup/disc/disc_options.h"
#include "backup/disc/disc_step.h"
#include "burner/disc_burner.h"

namespace orv::app {

class TFormMain;

struct DiscHost {
  burner::TDiscBurner DiscBurner1;
  backup::DiscOptionValues options;
  std::unique_ptr<backup::DiscView> view;
  std::unique_ptr<backup::DiscStep> step;
};

// The window's disc host, created with its first use.
DiscHost& discHost(TFormMain& window);

// The plain box shown when the disc layer cannot be started (not translated).
inline constexpr const char* kAspiErrorText = "An error occured Installing ASPI";

}  // namespace orv::app
