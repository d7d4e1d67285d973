// Read-back of a written session: every file written is looked up through the session's
// Joliet and ISO 9660 directories (both must name the same data), its sectors read through the
// recorder and compared with the digest the burn took while reading the file (a CRC-32 per
// sector, then the SHA-256 of the whole). The first file that does not read back equal ends
// the check, named with the first sector that differs.
// The disc is outside data: directory records are bounds-checked as the import does.
// Threading: the caller's; the recorder must be idle (no burn running).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "burner/file_digest.h"
#include "burner/file_tree.h"
#include "burner/session_import.h"

namespace orv::burner {

inline constexpr const char* kMsgVerified = "SESSION VERIFIED: %d FILES";
inline constexpr const char* kMsgVerifyNoVolume = "READ-BACK: NO %s VOLUME DESCRIPTOR IN THE SESSION AT SECTOR %u";
inline constexpr const char* kMsgVerifyMissing = "READ-BACK: \"%s\" NOT FOUND IN THE %s DIRECTORY";
inline constexpr const char* kMsgVerifyTreesDiffer = "READ-BACK: \"%s\" LIES ELSEWHERE IN THE ISO 9660 DIRECTORY";
inline constexpr const char* kMsgVerifySize = "READ-BACK: \"%s\" HAS %lld BYTES ON THE DISC, %lld WRITTEN";
inline constexpr const char* kMsgVerifyDiffers = "READ-BACK: \"%s\" DIFFERS AT SECTOR %u";
inline constexpr const char* kMsgVerifyUnreadable = "READ-BACK: \"%s\" CANNOT BE READ AT SECTOR %u";

struct TWrittenFile {
  std::vector<std::string> JolietPath;  // folder and file names from the root (UTF-8)
  // ISO 9660 names from the root (without ";1"); empty: the file is the record of the ISO
  // root folder that points at the same data as the Joliet one.
  std::vector<std::string> ISOPath;
  TFileDigest Digest;
};

struct TVerifyResult {
  bool Verified = false;
  int Files = 0;      // files that read back equal
  std::string Text;   // kMsgVerified, or what differs
  std::string File;   // the first file that does not read back equal (its source path)
  uint32_t Sector = 0;  // its first sector that differs (0 when not a sector's fault)
};

// The files of `tree` (not imported ones) with the digests the burn took, in digest order.
std::vector<TWrittenFile> WrittenFiles(const TFileTree& tree, const std::vector<TFileDigest>& digests);

// Checks the session that starts at sector Start. Without Joliet (written with Joliet off),
// only the ISO 9660 tree is used.
TVerifyResult VerifySession(TSectorSource& Disc, uint32_t Start, const std::vector<TWrittenFile>& Files);

}  // namespace orv::burner
