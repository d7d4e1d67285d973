// One entry of an archive's central directory as the archiver keeps it.
//
// The fields follow the central directory file header in its order. Sizes, offset and disk
// number are widened so that the values of a Zip64 extra field replace the 0xFFFFFFFF/0xFFFF
// marks of the header. Texts are UTF-8 after the code-page rule of the reader.
#pragma once

#include <cstdint>
#include <string>

namespace orv::zip {

struct ZipDirEntry {
  std::uint8_t MadeByVersion = 0;     // low byte of version made by
  std::uint8_t HostSys = 0;           // high byte: 0 FAT, 3 Unix, 6 HPFS, 11 NTFS, ...
  std::uint16_t VersionNeeded = 0;
  std::uint16_t Flag = 0;             // bit 0 encrypted, bit 3 data descriptor, bit 11 UTF-8
  std::uint16_t ComprMethod = 0;
  std::uint32_t DateTime = 0;         // MS-DOS packed: date in the high word
  std::uint32_t CRC32 = 0;
  std::uint64_t ComprSize = 0;
  std::uint64_t UncomprSize = 0;
  std::uint16_t FileNameLength = 0;
  std::uint16_t ExtraFieldLength = 0;
  std::uint16_t FileCommentLen = 0;
  std::uint32_t DiskStart = 0;
  std::uint16_t IntFileAttrib = 0;
  std::uint32_t ExtFileAttrib = 0;
  std::uint64_t RelOffLocalHdr = 0;
  std::string FileName;               // converted, every "/" turned into "\"
  std::string FileComment;            // converted
  bool Encrypted = false;             // copy of flag bit 0
  std::string ExtraData;              // the raw extra field
  std::string StoredName;             // converted, separators as stored ("/")

  bool IsDirOnly() const;             // FileName ends with a path separator
};

// MS-DOS packed date and time -> year, month, day, hour, minute, second.
struct ZipDosTime {
  int year, month, day, hour, minute, second;
};
ZipDosTime DecodeDosDateTime(std::uint32_t packed);

}  // namespace orv::zip
