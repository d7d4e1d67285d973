// The bytes of one track in image order, as a list of pieces and as a sequential reader:
// the header stream, the boot image (rounded up to whole sectors), the zero sectors after
// it, then the data of every file of the file table that has a source and a length, each
// rounded up to whole sectors with zeros. Imported entries and folders contribute nothing.
//
// The image-file writer and the burn's cache thread both read a track through this.
// TTrackReader is used by one thread at a time; it keeps the header by reference, so the
// header stream must outlive it and stay unchanged while it reads.
// Errors: Read returns -1 and leaves the message in Error() (the disc library's texts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "burner/file_digest.h"
#include "burner/file_tree.h"
#include "burner/image_layout.h"

namespace orv::burner {

struct TTrackPiece {
  enum class Kind { Header, BootImage, Zeros, File };
  Kind kind = Kind::Zeros;
  std::string path;        // BootImage and File
  int64_t bytes = 0;       // bytes taken from the source (Header: the stream size)
  int64_t padded = 0;      // bytes in the track: bytes rounded up to whole sectors
  const TFEntry* entry = nullptr;  // File
};

inline constexpr const char* kMsgCantOpenFile = "CAN'T OPEN FILE \"%s\" OR FILE IS IN USES BY OTHER SOFTWARE";
inline constexpr const char* kMsgFileChanged = "FILE \"%s\" CHANGED SIZE SINCE IT WAS ADDED";
inline constexpr const char* kMsgReadError = "CAN'T READ FILE \"%s\" [%s]";

// The pieces of the track laid out by `layout`. `header_bytes` is the size of the header
// stream; `boot_image` the boot image path when the layout is bootable.
std::vector<TTrackPiece> TrackPieces(const TFileTree& tree, const TImageLayout& layout, int64_t header_bytes,
                                     const std::string& boot_image);

// Total bytes of the pieces.
int64_t TrackBytes(const std::vector<TTrackPiece>& pieces);

class TTrackReader {
 public:
  TTrackReader(std::vector<TTrackPiece> pieces, const std::vector<uint8_t>& header);
  ~TTrackReader();
  TTrackReader(const TTrackReader&) = delete;
  TTrackReader& operator=(const TTrackReader&) = delete;

  // Fills up to `capacity` bytes (a multiple of 2048) with the next bytes of the track.
  // Returns the count (a multiple of 2048), 0 at the end, -1 on an error.
  int64_t Read(uint8_t* buffer, int64_t capacity);

  // Source path being read (empty before the first file and after the end).
  const std::string& CurrentFile() const { return current_file_; }
  const std::string& Error() const { return error_; }
  int64_t Position() const { return position_; }
  // The digest of each file piece read to its end, in track order.
  const std::vector<TFileDigest>& Digests() const { return digests_; }

 private:
  bool OpenPiece();

  std::vector<TTrackPiece> pieces_;
  const std::vector<uint8_t>& header_;
  size_t index_ = 0;
  int64_t offset_ = 0;  // within the current piece
  int fd_ = -1;
  int64_t position_ = 0;
  std::string current_file_;
  std::string error_;
  TFileDigester digester_;
  std::vector<TFileDigest> digests_;
};

// Formats one of the messages above with a path (and a reason for kMsgReadError).
std::string TrackMessage(const char* format, const std::string& path, const std::string& reason = {});

}  // namespace orv::burner
