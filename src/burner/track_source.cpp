#include "burner/track_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orv::burner {

std::string TrackMessage(const char* format, const std::string& path, const std::string& reason) {
  std::string out = format;
  size_t at = out.find("%s");
  if (at != std::string::npos) {
    out.replace(at, 2, path);
    at = out.find("%s", at + path.size());
    if (at != std::string::npos) out.replace(at, 2, reason);
  }
  return out;
}

std::vector<TTrackPiece> TrackPieces(const TFileTree& tree, const TImageLayout& layout, int64_t header_bytes,
                                     const std::string& boot_image) {
  std::vector<TTrackPiece> pieces;
  pieces.push_back({TTrackPiece::Kind::Header, {}, header_bytes, header_bytes, nullptr});
  if (layout.Bootable) {
    pieces.push_back({TTrackPiece::Kind::BootImage, boot_image, layout.BootImageBytes, layout.BootImageBytes, nullptr});
    if (layout.BootPadBytes > 0)
      pieces.push_back({TTrackPiece::Kind::Zeros, {}, layout.BootPadBytes, layout.BootPadBytes, nullptr});
  }
  for (const auto& e : tree.FileTable) {
    if (e->Dir || e->SourcePath.empty() || e->ISOLength == 0) continue;
    pieces.push_back({TTrackPiece::Kind::File, e->SourcePath, e->ISOLength, RoundUpToSector(e->ISOLength), e.get()});
  }
  return pieces;
}

int64_t TrackBytes(const std::vector<TTrackPiece>& pieces) {
  int64_t total = 0;
  for (const auto& p : pieces) total += p.padded;
  return total;
}

TTrackReader::TTrackReader(std::vector<TTrackPiece> pieces, const std::vector<uint8_t>& header)
    : pieces_(std::move(pieces)), header_(header) {}

TTrackReader::~TTrackReader() {
  if (fd_ >= 0) close(fd_);
}

bool TTrackReader::OpenPiece() {
  const TTrackPiece& p = pieces_[index_];
  if (p.kind != TTrackPiece::Kind::File && p.kind != TTrackPiece::Kind::BootImage) return true;
  if (p.kind == TTrackPiece::Kind::File) {
    current_file_ = p.path;
    digester_.Start(p.entry, p.path);
  }
  fd_ = open(p.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error_ = TrackMessage(kMsgCantOpenFile, p.path);
    return false;
  }
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  struct stat st {};
  if (p.kind == TTrackPiece::Kind::File && (fstat(fd_, &st) != 0 || st.st_size != p.bytes)) {
    error_ = TrackMessage(kMsgFileChanged, p.path);
    return false;
  }
  return true;
}

int64_t TTrackReader::Read(uint8_t* buffer, int64_t capacity) {
  if (!error_.empty()) return -1;
  int64_t filled = 0;
  while (filled < capacity && index_ < pieces_.size()) {
    const TTrackPiece& p = pieces_[index_];
    if (offset_ == 0 && fd_ < 0 && !OpenPiece()) return -1;
    const int64_t want = std::min(capacity - filled, p.padded - offset_);
    uint8_t* dest = buffer + filled;
    switch (p.kind) {
      case TTrackPiece::Kind::Header:
        std::memcpy(dest, header_.data() + offset_, static_cast<size_t>(want));
        break;
      case TTrackPiece::Kind::Zeros:
        std::memset(dest, 0, static_cast<size_t>(want));
        break;
      case TTrackPiece::Kind::BootImage:
      case TTrackPiece::Kind::File: {
        // Source bytes up to p.bytes, zeros after them.
        const int64_t data = std::max<int64_t>(0, std::min(want, p.bytes - offset_));
        int64_t got = 0;
        while (got < data) {
          const ssize_t n = read(fd_, dest + got, static_cast<size_t>(data - got));
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) {
            error_ = TrackMessage(kMsgReadError, p.path, std::strerror(errno));
            return -1;
          }
          if (n == 0) {
            // A boot image is rounded up in the layout; only files must keep their size.
            if (p.kind == TTrackPiece::Kind::BootImage) break;
            error_ = TrackMessage(kMsgFileChanged, p.path);
            return -1;
          }
          got += n;
        }
        if (p.kind == TTrackPiece::Kind::File) digester_.Update(dest, static_cast<size_t>(got));
        std::memset(dest + got, 0, static_cast<size_t>(want - got));
        break;
      }
    }
    filled += want;
    offset_ += want;
    if (offset_ == p.padded) {
      if (p.kind == TTrackPiece::Kind::File) digests_.push_back(digester_.Finish());
      if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
      }
      ++index_;
      offset_ = 0;
    }
  }
  if (index_ >= pieces_.size()) current_file_.clear();
  position_ += filled;
  return filled;
}

}  // namespace orv::burner
