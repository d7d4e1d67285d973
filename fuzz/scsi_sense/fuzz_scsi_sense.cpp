// Sense data and request fields from a drive, decoded into texts and the failure line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "scsi/sense.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv::scsi;
  if (size < 8) return 0;
  SRB_ExecSCSICmd r;
  std::memset(&r, 0, sizeof r);
  r.SRB_Status = data[0];
  r.SRB_HaStat = data[1];
  r.SRB_TargStat = data[2];
  r.SRB_Flags = data[3];
  r.SRB_CDBLen = data[4];
  r.SRB_HaId = data[5];
  r.SRB_Target = data[6];
  r.SRB_Lun = data[7];
  data += 8;
  size -= 8;
  const std::size_t sense = std::min<std::size_t>(size, SENSE_AREA_LEN);
  std::memcpy(r.SenseArea, data, sense);
  data += sense;
  size -= sense;
  const std::size_t cdb = std::min<std::size_t>(size, 16);
  std::memcpy(r.CDBByte, data, cdb);
  data += cdb;
  size -= cdb;
  std::vector<std::uint8_t> buffer(data, data + size);
  r.SRB_BufLen = static_cast<std::uint32_t>(buffer.size());
  r.SRB_BufPointer = buffer.empty() ? nullptr : buffer.data();
  NormalizeSense(r.SenseArea, SENSE_AREA_LEN);
  bool busy = false;
  const std::string status = GetStatusText(r.SRB_Status, r.SRB_HaStat, r.SRB_TargStat, busy);
  const std::string text = SenseKeyText(status, r.SenseArea);
  const std::string line = FailureLine(r, text);
  if (line.size() > 4096 || line.compare(0, 4, "<<< ") != 0) std::abort();
  (void)AdditionalSenseText(r.SenseArea[12], r.SenseArea[13]);
  (void)IsFailureLineExempt(r);
  return 0;
}
