#include "burner/image_layout.h"

#include <algorithm>

#include "burner/names.h"

namespace orv::burner {
namespace {

uint32_t SectorsFor(int64_t bytes) { return static_cast<uint32_t>((bytes + kSectorSize - 1) / kSectorSize); }

bool IsDotName(const std::string& name) { return name == "." || name == ".."; }

template <typename RecordLength>
int64_t DirectorySize(const TDEntry& d, const std::string& first_name, RecordLength length) {
  int64_t sectors = 1;
  uint32_t used = (d.FirstEntry && first_name == ".") ? 0 : 68;
  for (const TFEntry* e = d.FirstEntry; e; e = e->Next) {
    const uint32_t n = length(*e);
    if (used + n > kSectorSize) {
      ++sectors;
      used = 0;
    }
    used += n;
  }
  return sectors * kSectorSize;
}

}  // namespace

void NumberFolders(TFileTree& tree) {
  std::vector<TDEntry*> order;
  order.reserve(tree.DirTable.size());
  order.push_back(tree.Root());
  std::vector<TDEntry*> children;
  for (size_t i = 0; i < order.size(); ++i) {
    TDEntry* parent = order[i];
    parent->Number = static_cast<int32_t>(i + 1);
    children.clear();
    for (TFEntry* e = parent->FirstEntry; e; e = e->Next)
      if (e->Dir && e->Dir != parent) children.push_back(e->Dir);
    std::stable_sort(children.begin(), children.end(),
                     [](const TDEntry* a, const TDEntry* b) { return a->ShortName < b->ShortName; });
    order.insert(order.end(), children.begin(), children.end());
  }
  tree.ISODirOrder = order;
  tree.JolietDirOrder = order;
}

uint32_t ISORecordLength(const TFEntry& e) {
  const uint32_t id = IsDotName(e.ShortName) ? 1 : static_cast<uint32_t>(e.ShortName.size() + (e.Dir ? 0 : 2));
  return 33 + id + (id % 2 == 0 ? 1 : 0);
}

uint32_t JolietRecordLength(const TFEntry& e) {
  if (IsDotName(e.LongName)) return 34;
  return 34 + 2 * static_cast<uint32_t>(Ucs2Length(e.LongName) + (e.Dir ? 0 : 2));
}

int64_t ISODirectorySize(const TDEntry& d) {
  return DirectorySize(d, d.FirstEntry ? d.FirstEntry->ShortName : std::string(), ISORecordLength);
}

int64_t JolietDirectorySize(const TDEntry& d) {
  return DirectorySize(d, d.FirstEntry ? d.FirstEntry->LongName : std::string(), JolietRecordLength);
}

TImageLayout LayoutTree(TFileTree& tree, const TLayoutOptions& options) {
  NumberFolders(tree);
  TImageLayout L;
  L.SessionStart = options.SessionStart;
  L.Joliet = options.Joliet;
  L.Bootable = options.Bootable;
  uint32_t s = options.SessionStart + 16;
  L.PVDSector = s++;
  if (L.Bootable) L.BootRecordSector = s++;
  if (L.Joliet) L.SVDSector = s++;
  L.TerminatorSector = s++;

  uint32_t iso_table = 10;
  uint32_t joliet_table = 10;
  for (size_t i = 1; i < tree.DirTable.size(); ++i) {
    const TDEntry& d = *tree.DirTable[i];
    const auto n = static_cast<uint32_t>(d.ShortName.size());
    iso_table += n + (n % 2) + 8;
    joliet_table += 2 * static_cast<uint32_t>(Ucs2Length(d.LongName)) + 8;
  }
  L.ISOPathTableSize = iso_table;
  L.ISOPathTableL = s;
  s += SectorsFor(iso_table);
  L.ISOPathTableM = s;
  s += SectorsFor(iso_table);
  if (L.Joliet) {
    L.JolietPathTableSize = joliet_table;
    L.JolietPathTableL = s;
    s += SectorsFor(joliet_table);
    L.JolietPathTableM = s;
    s += SectorsFor(joliet_table);
  }

  L.ISODirArea = s;
  uint32_t area = 0;
  for (const auto& d : tree.DirTable) {
    d->ISOSize = ISODirectorySize(*d);
    d->ISOSector = area;
    area += SectorsFor(d->ISOSize);
  }
  L.ISODirSectors = area;
  s += area;
  if (L.Joliet) {
    L.JolietDirArea = s;
    area = 0;
    for (const auto& d : tree.DirTable) {
      d->JolietSize = JolietDirectorySize(*d);
      d->JolietSector = area;
      area += SectorsFor(d->JolietSize);
    }
    L.JolietDirSectors = area;
    s += area;
  }

  if (L.Bootable) {
    L.BootCatalogSector = s++;
    L.BootImageSector = s;
    L.BootImageBytes = static_cast<int64_t>(SectorsFor(options.BootImageSize)) * kSectorSize;
    L.HeaderEndSector = s;
    s += SectorsFor(options.BootImageSize);
  } else {
    L.HeaderEndSector = s;
  }
  L.FirstFileSector = std::max(s, kMinFirstFileSector);
  if (L.Bootable) L.BootPadBytes = static_cast<int64_t>(L.FirstFileSector - s) * kSectorSize;
  else L.HeaderEndSector = L.FirstFileSector;

  uint64_t count = 0;
  for (const auto& e : tree.FileTable) {
    if (e->Dir) {
      e->ISOExtent = e->Dir->ISOSector;
      e->JolietExtent = e->Dir->JolietSector;
      e->ISOLength = e->Dir->ISOSize;
      e->JolietLength = e->Dir->JolietSize;
    } else if (e->Imported) {
      continue;
    } else if (e->ISOLength == 0) {
      e->ISOExtent = e->JolietExtent = 0;
      e->ISOLength = e->JolietLength = 0;
    } else {
      e->ISOExtent = e->JolietExtent = static_cast<uint32_t>(count);
      count += SectorsFor(e->ISOLength);
    }
  }
  L.FileSectors = count;
  L.ImageEndSector = L.FirstFileSector + count;
  return L;
}

}  // namespace orv::burner
