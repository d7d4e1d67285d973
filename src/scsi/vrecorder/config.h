// Configuration of the virtual recorder: one drive per line of the file named by the
// environment variable ORVAKELL_VRECORDER.
//
//   <image path> <profile> [key=value ...]      # comment
//
// Profiles: CD-R, CD-RW, DVD-R, DVD+R, DVD-RAM. Values (and the path) may be double-quoted to
// hold spaces, e.g. product="CD-RW  CRX800E". Keys are listed in docs/scsi.md. An image that
// does not exist yet is a blank disc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv::vrec {

enum class Profile : std::uint16_t { CDR = 0x0009, CDRW = 0x000A, DVDR = 0x0011, DVDRAM = 0x0012, DVDPR = 0x001B };

bool IsDVD(Profile p);

struct DriveConfig {
  std::string image;
  Profile profile = Profile::CDR;
  std::uint8_t ha = 0, target = 0, lun = 0;
  bool address_given = false;
  char letter = 0;                      // drive letter for GET DISK INFO, 0 = none
  std::string vendor = "ORVAKELL";
  std::string product;                  // default from the profile
  std::string revision = "1.00";
  std::vector<std::uint32_t> write_speeds;  // kB/s, accepted by SET CD SPEED
  std::uint32_t max_read_speed = 0;     // kB/s
  std::uint32_t buffer_size = 2 * 1024 * 1024;
  bool free_unknown = false;            // READ BUFFER CAPACITY reports 0xFFFFFFFF free bytes
  bool underrun_protection = true;      // page 2Ah BUF bit
  bool test_write = true;               // page 2Ah test write bit
  bool page30 = false;                  // answers mode page 30h
  bool block_descriptor = false;        // MODE SENSE answers carry an 8-byte block descriptor
  bool closed = false;                  // an existing image without state file is finalized
  bool descriptor_sense = false;        // sense data in descriptor format (72h)
  std::uint8_t write_modes = 0x7;       // bit 0 RAW, 1 SAO, 2 TAO
  std::uint32_t capacity = 0;           // sectors; default from the profile
  std::string log;                      // file receiving one line per CDB
  // Fault injection.
  std::uint32_t not_ready = 0;          // the first N media commands: NOT READY 04/01
  std::uint32_t busy = 0;               // the first N media commands: target status BUSY
  std::optional<std::uint32_t> medium_error;  // WRITE/READ covering this LBA: MEDIUM ERROR
  std::optional<std::uint32_t> corrupt_sector;  // this LBA reads back with its first byte flipped
  std::uint32_t max_read = 0;           // a READ of more sectors is refused (0: no limit)
  std::optional<std::uint8_t> hang_opcode;    // this command never completes
  std::uint32_t hang_count = 1;         // how many times it hangs
  std::uint32_t delay_ms = 0;           // completion delay of every command
  bool synchronous = false;             // complete inside SendASPI32Command
};

struct ParseResult {
  std::vector<DriveConfig> drives;
  std::vector<std::string> errors;      // "line N: message"
};

// Parses the configuration text. Lines with errors are reported and skipped.
ParseResult ParseConfig(const std::string& text);

}  // namespace orv::vrec
