// Fuzz target: the reader of backup files. Any bytes are either read as backup sets whose
// files are then copied with their checksums checked, or refused with BackupFormatError.
#include <cstddef>
#include <cstdint>

#include "server/backup_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orv::server::MemorySource source(data, size);
  try {
    for (const auto& set : orv::server::read_backup_sets(source))
      for (const auto& file : set.files) orv::server::copy_backup_file(source, file, [](const void*, std::size_t) {});
  } catch (const orv::server::BackupFormatError&) {
  }
  return 0;
}
