// The bytes of the header area of a track laid out by LayoutTree: the system area, the
// primary volume descriptor, the El Torito boot record, the Joliet supplementary volume
// descriptor, the terminator, the four path tables, the ISO and Joliet directories and the
// boot catalog, followed (without a boot image) by the zero sectors up to the first file.
// Pure computation; the caller owns the output buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "burner/datetime.h"
#include "burner/file_tree.h"
#include "burner/image_layout.h"

namespace orv::burner {

// The identifier texts and dates the volume descriptors carry.
struct TVolumeIds {
  std::string IdSystem, IdVolume, IdVolumeSet, IdPublisher, IdPreparer, IdApplication;
  std::string FileCopyright, FileAbstract, FileBibliographic;
  TDateTime DateCreation = 0;
  TDateTime DateModification = 0;
};

// Validation ID string of the boot catalog.
inline constexpr const char* kBootCatalogId = "ORVAKELL DISC WRITER";

// El Torito media type of a boot image of this size (rounded to whole sectors): 1, 2 and 3
// for the 1.2, 1.44 and 2.88 MB diskettes, 4 (hard disk) otherwise.
uint8_t BootMediaType(int64_t rounded_bytes);

// Appends the header area, (layout.HeaderEndSector - layout.SessionStart) sectors, to out.
// Directory records of "." and ".." carry `now` as their recording date.
void BuildImageHeaders(const TFileTree& tree, const TImageLayout& layout, const TVolumeIds& ids,
                       std::vector<uint8_t>& out, TDateTime now);

}  // namespace orv::burner
