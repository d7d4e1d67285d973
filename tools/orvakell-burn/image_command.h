// orvakell-burn --image OUT.iso [--volume ID] [--boot IMAGE] [--no-joliet] FILE|FOLDER...
// Lays the given files out as one ISO 9660/Joliet track (folders with everything below
// them, under their own name in the root) and writes it into an image file, so that the
// layout can be checked with outside readers without a recorder.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace orv::tools {

// args are the words after "--image". Returns the exit code: 0 done, 1 nothing written
// (a file the disc cannot hold, a source that vanished, a write error), 2 bad usage.
int RunImageCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orv::tools
