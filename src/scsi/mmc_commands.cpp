// One operation per MMC command: CDB bytes, flags, lengths and time-outs.
#include <cstdio>
#include <cstring>

#include "platform/byte_order.h"
#include "scsi/scsi_device.h"

namespace orv::scsi {
namespace {

constexpr std::uint8_t kNoData = SRB_EVENT_NOTIFY;
constexpr std::uint8_t kDataIn = SRB_EVENT_NOTIFY | SRB_DIR_IN;
constexpr std::uint8_t kDataOut = SRB_EVENT_NOTIFY | SRB_DIR_OUT;

}  // namespace

bool TSCSIDevice::TestUnitReady(int Timeout) {
  auto r = NewRequest(kNoData, 6, 0, nullptr);
  r.CDBByte[0] = 0x00;
  return Run(r, Timeout);
}

bool TSCSIDevice::RewindUnit() {
  auto r = NewRequest(kNoData, 6, 0, nullptr);
  r.CDBByte[0] = 0x01;
  return Run(r, 10000);
}

bool TSCSIDevice::RequestSense(std::uint8_t* Buffer, std::uint8_t Length) {
  auto r = NewRequest(kDataIn, 6, Length, Buffer);
  r.CDBByte[0] = 0x03;
  r.CDBByte[4] = Length;
  return Run(r, 10000);
}

bool TSCSIDevice::Inquiry() {
  auto r = NewRequest(kDataIn, 6, 128, FInquiryData.data());
  r.CDBByte[0] = 0x12;
  r.CDBByte[4] = 128;
  return Run(r, 10000);
}

bool TSCSIDevice::StartStopUnit(bool Eject) {
  auto r = NewRequest(kNoData, 6, 0, nullptr);
  r.CDBByte[0] = 0x1B;
  r.CDBByte[4] = Eject ? 2 : 3;
  return Run(r, 20000);
}

bool TSCSIDevice::PreventAllowRemoval(bool Allow) {
  auto r = NewRequest(kNoData, 6, 0, nullptr);
  r.CDBByte[0] = 0x1E;
  r.CDBByte[4] = Allow ? 0 : 1;
  return Run(r, 10000);
}

TSCSIDevice::TReserveResult TSCSIDevice::ReserveUnit() {
  auto r = NewRequest(kNoData, 6, 0, nullptr);
  r.CDBByte[0] = 0x16;
  if (Run(r, 10000)) return kReserved;
  return r.SRB_Status == SS_ERR && r.SRB_TargStat == STATUS_RESCONF ? kReservedElsewhere : kNotReserved;
}

bool TSCSIDevice::ReleaseUnit() {
  auto r = NewRequest(kNoData, 6, 0, nullptr);
  r.CDBByte[0] = 0x17;
  return Run(r, 10000);
}

bool TSCSIDevice::Read10(std::uint32_t LBA, std::uint16_t Blocks, std::uint32_t BufLen, std::uint8_t* Buffer) {
  auto r = NewRequest(kDataIn, 10, BufLen, Buffer);
  r.CDBByte[0] = 0x28;
  bytes::store_be32(r.CDBByte + 2, LBA);
  bytes::store_be16(r.CDBByte + 7, Blocks);
  return Run(r, 10000);
}

bool TSCSIDevice::Write10(std::uint32_t LBA, std::uint16_t Blocks, std::uint8_t Flags, std::uint32_t BufLen,
                          std::uint8_t* Buffer) {
  auto r = NewRequest(Flags, 10, BufLen, Buffer);
  r.CDBByte[0] = 0x2A;
  bytes::store_be32(r.CDBByte + 2, LBA);
  bytes::store_be16(r.CDBByte + 7, Blocks);
  return Run(r, 120000);
}

bool TSCSIDevice::SynchronizeCache(int Timeout, bool Immediate) {
  auto r = NewRequest(kNoData, 10, 0, nullptr);
  r.CDBByte[0] = 0x35;
  r.CDBByte[1] = Immediate ? 2 : 0;
  return Run(r, Timeout);
}

bool TSCSIDevice::ReadTOC(std::uint8_t Format, std::uint8_t* Buffer, bool MSF, std::uint8_t Track,
                          std::uint8_t Length, std::uint8_t Control) {
  auto r = NewRequest(kDataIn, 10, Length, Buffer);
  r.CDBByte[0] = 0x43;
  r.CDBByte[1] = MSF ? 2 : 0;
  r.CDBByte[2] = Format;
  r.CDBByte[6] = Track;
  r.CDBByte[8] = Length;
  r.CDBByte[9] = Control;
  return Run(r, 10000);
}

bool TSCSIDevice::GetConfiguration(std::uint8_t RT, std::uint8_t Feature, std::uint8_t Length,
                                   std::uint8_t* Buffer) {
  auto r = NewRequest(kDataIn, 10, Length, Buffer);
  r.CDBByte[0] = 0x46;
  r.CDBByte[1] = RT;
  r.CDBByte[3] = Feature;
  r.CDBByte[8] = Length;
  return Run(r, 30000);
}

bool TSCSIDevice::ReadDiscInformation(std::uint8_t* Buffer, std::uint8_t Length) {
  FDiscInformation.fill(0);
  auto r = NewRequest(kDataIn, 10, Length, Buffer);
  r.CDBByte[0] = 0x51;
  r.CDBByte[8] = Length;
  return Run(r, 10000);
}

bool TSCSIDevice::ReadTrackInformation(std::uint8_t Track) {
  FTrackInformation.fill(0);
  auto r = NewRequest(kDataIn, 10, 38, FTrackInformation.data());
  r.CDBByte[0] = 0x52;
  r.CDBByte[1] = 1;
  bytes::store_be32(r.CDBByte + 2, Track);
  r.CDBByte[8] = 38;
  if (!Run(r, 60000)) return false;
  std::uint8_t* t = FTrackInformation.data();
  const std::uint16_t length = bytes::load_be16(t);
  std::memcpy(t, &length, 2);
  for (int offset : {8, 12, 16, 20, 24, 28}) {
    const std::uint32_t v = bytes::load_be32(t + offset);
    std::memcpy(t + offset, &v, 4);
  }
  return true;
}

bool TSCSIDevice::ReserveTrack(std::uint32_t Size) {
  FParameterBuffer.fill(0);
  auto r = NewRequest(kDataIn, 10, 8, FParameterBuffer.data());
  r.CDBByte[0] = 0x53;
  bytes::store_be32(r.CDBByte + 5, Size);
  return Run(r, 10000);
}

bool TSCSIDevice::SendOPCInformation() {
  auto r = NewRequest(kNoData, 10, 0, nullptr);
  r.CDBByte[0] = 0x54;
  r.CDBByte[1] = 1;
  return Run(r, 150000);
}

bool TSCSIDevice::ModeSelect10(const std::uint8_t* Buffer, std::uint8_t Length) {
  std::memcpy(FModePageBuffer.data(), Buffer, Length);
  auto r = NewRequest(kDataOut, 10, Length, FModePageBuffer.data());
  r.CDBByte[0] = 0x55;
  r.CDBByte[1] = 0x10;
  r.CDBByte[8] = Length;
  return Run(r, 10000);
}

bool TSCSIDevice::ModeSense10(std::uint8_t Page, std::uint8_t* Buffer, bool DefaultValues, std::uint16_t Length,
                              int MaxIndex) {
  std::memset(Buffer, 0, static_cast<std::size_t>(MaxIndex) + 1);
  const std::uint16_t n = std::min<std::uint16_t>(Length, static_cast<std::uint16_t>(FModePageBuffer.size()));
  FModePageBuffer.fill(0);
  auto r = NewRequest(kDataIn, 10, n, FModePageBuffer.data());
  r.CDBByte[0] = 0x5A;
  r.CDBByte[2] = static_cast<std::uint8_t>(Page | (DefaultValues ? 0x80 : 0));
  bytes::store_be16(r.CDBByte + 7, Length);
  if (!Run(r, 20000)) return false;
  std::memcpy(Buffer, FModePageBuffer.data(), std::min<std::size_t>(n, static_cast<std::size_t>(MaxIndex) + 1));
  return true;
}

bool TSCSIDevice::CloseTrackSession(bool CloseTrack, bool Immediate) {
  auto r = NewRequest(kNoData, 10, 0, nullptr);
  r.CDBByte[0] = 0x5B;
  r.CDBByte[1] = Immediate ? 1 : 0;
  r.CDBByte[2] = CloseTrack ? 1 : 2;
  return Run(r, 180000);
}

bool TSCSIDevice::ReadBufferCapacity(std::uint32_t& Size, std::uint32_t& Free) {
  FParameterBuffer.fill(0);
  auto r = NewRequest(kDataIn, 10, 32, FParameterBuffer.data());
  r.CDBByte[0] = 0x5C;
  r.CDBByte[8] = 32;
  if (!Run(r, 10000)) {
    SetDeviceFreeBufferSize(0);
    return false;
  }
  Size = bytes::load_be32(FParameterBuffer.data() + 4);
  Free = bytes::load_be32(FParameterBuffer.data() + 8);
  SetDeviceBufferSize(Size);
  SetDeviceFreeBufferSize(Free == 0xFFFFFFFFu ? Size : Free);
  return true;
}

bool TSCSIDevice::SendCueSheet(const std::uint8_t* Buffer, std::uint16_t Length) {
  auto r = NewRequest(kDataOut, 10, Length, const_cast<std::uint8_t*>(Buffer));
  r.CDBByte[0] = 0x5D;
  bytes::store_be16(r.CDBByte + 7, Length);
  return Run(r, 30000);
}

bool TSCSIDevice::SetStreaming(const std::uint8_t* Buffer, std::uint16_t Length) {
  auto r = NewRequest(kDataOut, 12, Length, const_cast<std::uint8_t*>(Buffer));
  r.CDBByte[0] = 0xB6;
  bytes::store_be16(r.CDBByte + 9, Length);
  return Run(r, 10000);
}

bool TSCSIDevice::SetCDSpeed(std::uint16_t ReadSpeed, std::uint16_t WriteSpeed) {
  auto r = NewRequest(kNoData, 12, 0, nullptr);
  r.CDBByte[0] = 0xBB;
  bytes::store_be16(r.CDBByte + 2, XToKBps(ReadSpeed));
  bytes::store_be16(r.CDBByte + 4, XToKBps(WriteSpeed));
  return Run(r, 10000);
}

bool TSCSIDevice::SendDVDStructure(std::uint8_t Format, const std::uint8_t* Buffer, std::uint16_t Length) {
  auto r = NewRequest(kDataOut, 12, Length, const_cast<std::uint8_t*>(Buffer));
  r.CDBByte[0] = 0xBF;
  r.CDBByte[7] = Format;
  bytes::store_be16(r.CDBByte + 8, Length);
  return Run(r, 10000);
}

bool TSCSIDevice::SendDVDTimeStamp(const std::tm& LocalTime) {
  FParameterBuffer.fill(0);
  std::uint8_t* p = FParameterBuffer.data();
  bytes::store_be16(p, 0x0014);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", (LocalTime.tm_year + 1900) % 10000,
                (LocalTime.tm_mon + 1) % 100, LocalTime.tm_mday % 100, LocalTime.tm_hour % 100,
                LocalTime.tm_min % 100, LocalTime.tm_sec % 100);
  std::memcpy(p + 8, stamp, 14);
  return SendDVDStructure(0x0F, p, 22);
}

bool TSCSIDevice::GetDiscInformation() {
  FDiscInformation.fill(0);
  std::array<std::uint8_t, 56> answer{};
  if (!ReadDiscInformation(answer.data(), 56)) return false;
  FDiscInformation = answer;
  const std::uint16_t length = bytes::load_be16(FDiscInformation.data());
  std::memcpy(FDiscInformation.data(), &length, 2);
  return true;
}

std::uint8_t TSCSIDevice::GetLastSessionNumber() {
  FSessionBuffer.fill(0);
  if (!ReadTOC(1, FSessionBuffer.data(), false, 0, 4, 0)) return 0;
  return FSessionBuffer[3];
}

}  // namespace orv::scsi
