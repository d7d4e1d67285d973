// Writes a laid-out track into an image file: the header stream, the boot image and its
// padding, and the file data, each file on its own sectors. A new image is written to a file
// without a name in the target's folder (O_TMPFILE), flushed, and renamed over its name only
// when complete and closed, so a failed or killed write leaves nothing behind and an older
// image of that name stays whole until the new one replaces it. A track appended to an existing image
// (Offset > 0) is written in place. Zero padding of a new image is left as holes of the file
// (they read as zeros); into an existing file the zeros are written. File data is copied by
// the kernel (copy_file_range) where it can. Blocking; one call per image.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "burner/track_source.h"

namespace orv::burner {

struct TImageWriteOptions {
  // Byte offset in the output file at which the track starts (SessionStart x 2048 for a
  // multi-session image). With 0 the file is created anew; otherwise it must exist and the
  // track is written into it at that offset.
  int64_t Offset = 0;
  // When set, the bytes of the track written so far (holes counted), for a progress display
  // on another thread.
  std::atomic<int64_t>* BytesDone = nullptr;
};

// Returns an empty text on success, else the reason (the disc library's message texts, with
// the system's error text where one applies).
[[nodiscard]] std::string WriteImageFile(const std::string& out_path, const std::vector<TTrackPiece>& pieces,
                                         const std::vector<uint8_t>& header, const TImageWriteOptions& options = {});

}  // namespace orv::burner
