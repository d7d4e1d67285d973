#include "zip/records/zip_records.h"

namespace orv::zip::records {

bool ParseCentralHeader(const std::uint8_t* h, CentralHeader& out) {
  namespace ch = central_header;
  if (get<ch::Signature>(h) != ch::kSignature) return false;
  out.made_by = get<ch::MadeBy>(h);
  out.version_needed = get<ch::VersionNeeded>(h);
  out.flags = get<ch::Flags>(h);
  out.method = get<ch::Method>(h);
  out.dos_time = get<ch::DosTime>(h);
  out.crc = get<ch::Crc>(h);
  out.compressed_size = get<ch::CompressedSize>(h);
  out.uncompressed_size = get<ch::UncompressedSize>(h);
  out.name_length = get<ch::NameLength>(h);
  out.extra_length = get<ch::ExtraLength>(h);
  out.comment_length = get<ch::CommentLength>(h);
  out.disk_start = get<ch::DiskStart>(h);
  out.internal_attr = get<ch::InternalAttr>(h);
  out.external_attr = get<ch::ExternalAttr>(h);
  out.local_offset = get<ch::LocalOffset>(h);
  return true;
}

}  // namespace orv::zip::records
