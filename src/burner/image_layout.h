// The layout of one data track as an ISO 9660 image with an optional Joliet tree and an
// optional El Torito boot image: folder numbering for the path tables, the sector of every
// volume descriptor, path table, directory, boot structure and file, and the image end.
//
// The track is: 16 system sectors, the volume descriptors, the ISO then Joliet path tables
// (L then M), the ISO then Joliet directories in folder-table order, the boot catalog, the
// boot image, zero sectors up to sector 150 when the header area ends before it, then the
// file data in file-table order, each file starting on a sector.
//
// LayoutTree writes the numbers, directory sizes and extents into the tree's records and
// returns the sectors of the structures. Pure computation on the tree; not thread-safe with
// respect to changes of the tree.
#pragma once

#include <cstdint>

#include "burner/file_tree.h"

namespace orv::burner {

inline constexpr uint32_t kSectorSize = 2048;
// The header area is padded so that file data starts at this sector at the earliest.
inline constexpr uint32_t kMinFirstFileSector = 150;

struct TLayoutOptions {
  uint32_t SessionStart = 0;  // absolute sector of the track start
  bool Joliet = true;
  bool Bootable = false;
  int64_t BootImageSize = 0;  // bytes of the boot image file when Bootable
};

// Every address is an absolute sector of the disc.
struct TImageLayout {
  uint32_t SessionStart = 0;
  bool Joliet = true;
  bool Bootable = false;
  uint32_t PVDSector = 0;
  uint32_t BootRecordSector = 0;     // when Bootable
  uint32_t SVDSector = 0;            // when Joliet
  uint32_t TerminatorSector = 0;
  uint32_t ISOPathTableSize = 0;     // exact bytes
  uint32_t ISOPathTableL = 0;
  uint32_t ISOPathTableM = 0;
  uint32_t JolietPathTableSize = 0;  // exact bytes, when Joliet
  uint32_t JolietPathTableL = 0;
  uint32_t JolietPathTableM = 0;
  uint32_t ISODirArea = 0;           // first sector of the ISO directories
  uint32_t ISODirSectors = 0;
  uint32_t JolietDirArea = 0;
  uint32_t JolietDirSectors = 0;
  uint32_t BootCatalogSector = 0;    // when Bootable
  uint32_t BootImageSector = 0;
  int64_t BootImageBytes = 0;        // rounded up to whole sectors
  uint32_t HeaderEndSector = 0;      // first sector after the header stream
  int64_t BootPadBytes = 0;          // zero bytes between the boot image and the first file
  uint32_t FirstFileSector = 0;
  uint64_t FileSectors = 0;
  uint64_t ImageEndSector = 0;       // first sector after the image

  // Sectors of the track (ImageEndSector - SessionStart).
  uint64_t TrackLength() const { return ImageEndSector - SessionStart; }
};

// Numbers the folders breadth first, siblings in byte order of their short names, and puts
// that order into ISODirOrder and JolietDirOrder.
void NumberFolders(TFileTree& tree);

// Bytes of the record that lists the entry in its folder's ISO / Joliet directory.
uint32_t ISORecordLength(const TFEntry& e);
uint32_t JolietRecordLength(const TFEntry& e);
// Directory sizes by the rule that records never cross a sector: a multiple of 2048.
int64_t ISODirectorySize(const TDEntry& d);
int64_t JolietDirectorySize(const TDEntry& d);

// Numbers the folders and assigns every address.
TImageLayout LayoutTree(TFileTree& tree, const TLayoutOptions& options);

}  // namespace orv::burner
