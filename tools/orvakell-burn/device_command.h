// orvakell-burn --device ENTRY [options] FILE|FOLDER...
// Writes the given files as a new session to the recorder whose device list entry is ENTRY
// (or begins with it, e.g. "0:0:0"), the way the tool's disc step does: the tree is filled,
// laid out at the recorder's next writable address (importing an earlier session with
// --import N, 255 for the last one), the burn is started and its outcome awaited.
//
// Options: --import N, --allow-partial-import (write even when parts of the imported session
// are refused; without it such a write is not started), --abort-after-blocks N (ask the burn to stop once N blocks of 31
// sectors were handed to the recorder), --test-write, --finalize-disc, --no-close (leave the
// session open), --no-post-gap, --no-joliet, --volume ID, --speed X, --cache BYTES, --no-spti,
// --verbose (the disc library's lines on standard error), --no-verify (the new session is
// otherwise read back through the recorder and compared with what was read while writing; a
// session that does not read back equal fails the command).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace orv::tools {

// Returns 0 when the session was written, 1 when the burn failed (the library's text is
// printed), 2 for bad usage, 3 when the import would leave parts of the earlier session off
// (each is printed) and --allow-partial-import was not given.
int RunDeviceCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// orvakell-burn --verify ENTRY [--no-spti] FILE...
// Checks the last session of the disc in ENTRY against the given files, each looked up by its
// name in the session's root folder (Joliet, and the ISO 9660 record at the same data): 0 when
// every file reads back equal, 1 naming the first that does not, 2 for bad usage or a file or
// recorder that cannot be used.
int RunVerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orv::tools
