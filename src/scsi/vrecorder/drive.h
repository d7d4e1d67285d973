// One emulated MMC recorder on a disc image file.
//
// The image holds sector N of the disc at byte offset N * 2048 (a plain ISO-style image; the
// gaps between sessions are holes). The track and session layout lives beside it in
// "<image>.vrec" so that a later process sees the sessions written before. A missing image
// is a blank disc; an image without a state file is one closed session (appendable, or
// finalized with closed=1).
//
// Writes go straight to the image (no buffering in this process); the layout is persisted when
// it changes in a way a later process must see: RESERVE TRACK, the first write of a new track,
// CLOSE TRACK/SESSION, SYNCHRONIZE CACHE and the drive's destruction. Sectors a killed process
// wrote after the last of these are lost, as on a drive that never flushed: a later process
// reads the next writable address from the persisted layout and the stale tail of the image
// is cut off before the disc is written again.
//
// Changing the disc: while no track streams, every medium command first checks that the image
// is still the file the drive last saw. An image moved away or replaced by another file is a
// disc change: the drive reads the disc again from the files (no image: a blank disc, whatever
// state file is left beside its path). So an operator who takes the image away after a write
// gets a fresh disc at the next write, as with a real recorder, in the same process.
// One writer: RESERVE(6) takes an exclusive flock on "<image>.lock" (the image itself may not
// exist yet, and is replaced when the disc changes); while another process holds it, RESERVE
// answers RESERVATION CONFLICT. RELEASE(6) and the drive's destruction give it up.
// Threading: not thread-safe; the ASPI entry serialises every call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scsi/aspi_types.h"
#include "scsi/vrecorder/config.h"

namespace orv::vrec {

struct Track {
  std::uint32_t session = 1;
  std::uint32_t start = 0;
  std::uint32_t size = 0;      // reserved size, or the written size once closed
  std::uint32_t written = 0;
  bool reserved = false;
  bool closed = false;
};

struct DiscState {
  std::vector<Track> tracks;
  std::uint32_t closed_sessions = 0;
  std::uint32_t next_start = 0;  // where a new track starts when none is open
  bool complete = false;
};

class VirtualDrive {
 public:
  explicit VirtualDrive(DriveConfig config);
  ~VirtualDrive();
  VirtualDrive(const VirtualDrive&) = delete;
  VirtualDrive& operator=(const VirtualDrive&) = delete;

  const DriveConfig& Config() const { return config_; }
  // Executes the request's CDB and sets SRB_Status, SRB_TargStat and the sense area.
  void Execute(orv::scsi::SRB_ExecSCSICmd& request);
  // True when this command is to hang (consumes one hang).
  bool TakeHang(std::uint8_t opcode);
  const std::vector<std::string>& Log() const { return log_; }
  void Record(const orv::scsi::SRB_ExecSCSICmd& request);
  // An error met while loading the state file or writing the image, for diagnostics.
  const std::string& LoadError() const { return load_error_; }

  static std::uint32_t SessionGap(bool dvd, std::uint32_t closed_sessions_before);

 private:
  struct Sense {
    std::uint8_t key = 0, asc = 0, ascq = 0;
  };
  using Request = orv::scsi::SRB_ExecSCSICmd;

  void Fail(Request& r, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
  void Complete(Request& r, const std::uint8_t* answer, std::uint32_t length);
  bool MediumCommand(std::uint8_t opcode) const;

  void Inquiry(Request& r);
  void RequestSense(Request& r);
  void ModeSense(Request& r);
  void ModeSelect(Request& r);
  void GetConfiguration(Request& r);
  void ReadDiscInformation(Request& r);
  void ReadTrackInformation(Request& r);
  void ReadTOC(Request& r);
  void ReserveTrack(Request& r);
  void Write(Request& r);
  void Read(Request& r);
  void CloseTrackSession(Request& r);
  void SynchronizeCache(Request& r);
  void SetCDSpeed(Request& r);
  void ReadBufferCapacity(Request& r);
  void StartStop(Request& r);
  void ReserveUnit(Request& r);
  void ReleaseUnit(Request& r);

  std::vector<std::uint8_t> CapabilitiesPage(bool defaults) const;
  std::vector<std::uint8_t> DefaultWriteParameters() const;
  DiscState& Active() { return simulating_ ? simulated_ : disc_; }
  bool Blank(const DiscState& d) const { return d.tracks.empty(); }
  Track* OpenTrack(DiscState& d);
  std::uint32_t InvisibleStart(DiscState& d);
  void LoadState();
  // The image's device and inode; nullopt when there is none.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> ImageIdentity() const;
  // Reads the disc again when the image is no longer the file last seen (see above).
  void ReloadIfDiscChanged();
  // After loading a layout: notes image bytes beyond every track's written sectors.
  void NoteStaleTail();
  [[nodiscard]] bool SaveState();
  // Saves the layout if it changed since the last save and closes the image.
  [[nodiscard]] bool Persist();
  // The image opened for writing (kept open while a track streams), -1 on failure.
  int WritableImage();
  void CloseImage();
  // The image opened for reading, kept open across READ commands while it is the file last
  // seen (writes through the writable descriptor reach it through the page cache); -1 when
  // there is no image.
  int ReadableImage();
  void CloseReadableImage();
  // Cuts off sectors that a killed process wrote after the last persisted layout.
  [[nodiscard]] bool DropStaleTail(int fd);
  std::uint16_t Profile() const;
  bool TestWriteMode() const { return (write_params_[2] & 0x10) != 0; }

  DriveConfig config_;
  DiscState disc_;
  DiscState simulated_;
  bool simulating_ = false;
  bool tray_open_ = false;
  Sense pending_;
  std::vector<std::uint8_t> write_params_;
  std::uint32_t current_write_speed_ = 0;
  std::uint32_t current_read_speed_ = 0;
  std::uint32_t not_ready_left_ = 0;
  std::uint32_t busy_left_ = 0;
  std::uint32_t hangs_left_ = 0;
  std::vector<std::string> log_;
  std::string load_error_;
  int image_fd_ = -1;
  int read_fd_ = -1;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> read_id_;  // the file read_fd_ has open
  int lock_fd_ = -1;  // "<image>.lock" under flock while this process holds the reservation
  std::optional<std::pair<std::uint64_t, std::uint64_t>> image_id_;  // the image last seen
  bool dirty_ = false;               // the layout changed since it was last saved
  std::optional<std::uint64_t> stale_from_;  // image bytes from here on are unrecorded
};

}  // namespace orv::vrec
