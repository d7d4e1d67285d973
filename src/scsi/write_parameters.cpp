// Write parameters page (mode page 05h), write mode probing and waiting for the drive.
#include <algorithm>
#include <cstring>

#include "scsi/platform.h"
#include "scsi/scsi_device.h"

namespace orv::scsi {
namespace {

// Where a mode page starts in a MODE SENSE(10) answer: after the 8-byte header, or after a
// header with an 8-byte block descriptor (16); byte 7 is accepted as a drive oddity.
int FindPage(const std::uint8_t* answer, std::uint8_t page, int fallback) {
  if (answer[16] == page) return 16;
  if (answer[8] == page) return 8;
  if (answer[7] == page) return 7;
  return fallback;
}

}  // namespace

bool TSCSIDevice::SetWriteParameters(bool TestWrite, bool UnderrunProtection, std::uint16_t DiscType, bool) {
  if (DiscType == DT_DVDRAM) return true;
  FWriteParamsBuffer1.fill(0);
  FWriteParamsBuffer2.fill(0);
  if (!ModeSense10(5, FWriteParamsBuffer1.data(), false, 512, 511)) return false;
  const int start = FindPage(FWriteParamsBuffer1.data(), 5, 8);
  std::memcpy(FWriteParamsBuffer2.data(), FWriteParamsBuffer1.data() + start, 512 - start);
  std::memcpy(FWriteParametersPage.data(), FWriteParamsBuffer2.data(), FWriteParametersPage.size());

  std::uint8_t* p = FWriteParametersPage.data();
  p[1] = 0x32;
  p[2] = 0x01;
  p[4] = 0x08;
  if (DiscType == DT_DVDPR) p[2] = 0x22;
  p[3] = 0x04;
  if (FLinkSizeQuirk) p[2] |= 0x20;
  if (!TestWrite && !FFinalizeDisc) p[3] |= 0xC0;
  if ((FCapabilities & CAP_UNDERRUN_PROTECTION) && UnderrunProtection) {
    p[2] |= 0x40;
  } else {
    p[2] &= static_cast<std::uint8_t>(~0x40);
  }
  if (DiscType == DT_DVDR || DiscType == DT_DVDRW || DiscType == DT_DVDRW_SEQ) {
    p[3] = 0x05;
    p[2] = UnderrunProtection ? 0x42 : 0x02;
    p[4] = 0x08;
  } else if (FDVRQuirk) {
    p[2] = 0x41;
    p[3] = static_cast<std::uint8_t>((p[3] & 0x3F) | (FFinalizeDisc ? 0x00 : 0xC0));
  }
  if ((FCapabilities & CAP_TEST_WRITE) && TestWrite) {
    p[2] |= 0x10;
  } else {
    p[2] &= static_cast<std::uint8_t>(~0x10);
  }
  p[5] = 0;
  p[6] = 0;
  p[7] = 0;
  p[8] = 0;
  p[9] = 0;
  std::memset(p + 10, 0, 4);
  if (DiscType == DT_DVDPR) p[5] = 16;

  const int page_length = p[1];
  std::uint8_t list[8 + 54] = {};
  std::memcpy(list + 8, p, page_length + 2);
  return ModeSelect10(list, static_cast<std::uint8_t>(page_length + 10));
}

bool TSCSIDevice::TestWriteMode(std::uint8_t Mode) {
  FWriteParamsBuffer1.fill(0);
  FWriteParamsBuffer2.fill(0);
  if (!ModeSense10(5, FWriteParamsBuffer1.data(), false, 512, 511)) return false;
  const int start = FWriteParamsBuffer1[16] == 5 ? 16 : 8;
  std::memcpy(FWriteParametersPage.data(), FWriteParamsBuffer1.data() + start, FWriteParametersPage.size());
  std::uint8_t* p = FWriteParametersPage.data();
  p[4] = 0;
  switch (Mode) {
    case WM_RAW: p[2] = 3; p[4] = 1; break;
    case WM_SAO: p[2] = 2; break;
    default: p[2] = 1; break;
  }
  p[3] = 0;
  p[8] = 0;
  p[9] = 0;
  p[14] = 0;
  p[15] = 150;
  // The drive's own page length, bounded by what we hold of the page.
  const int page_length = std::min<int>(p[1], static_cast<int>(FWriteParametersPage.size()) - 2);
  std::uint8_t list[8 + 54] = {};
  std::memcpy(list + 8, p, page_length + 2);
  return ModeSelect10(list, static_cast<std::uint8_t>(page_length + 10));
}

void TSCSIDevice::DetectWriteModes() {
  FWriteModes = 0;
  if (TestWriteMode(WM_RAW)) FWriteModes |= WM_RAW;
  if (TestWriteMode(WM_SAO)) FWriteModes |= WM_SAO;
  if (TestWriteMode(WM_TAO)) FWriteModes |= WM_TAO;
}

bool TSCSIDevice::WaitUntilReady(int TimeBudget, int Interval) {
  EventPort& clock = Events();
  auto not_ready = [this] { return FLastSense[12] == 0x04; };
  FSenseBuffer.fill(0);
  long budget = TimeBudget;
  const auto interval = static_cast<std::uint32_t>(Interval < 0 ? 0 : Interval);

  if (FDVRQuirk || FSlowReadyQuirk) {
    do {
      clock.Sleep(1500);
      budget -= 1500;
      if (budget < 0) break;
      (void)TestUnitReady(5000);
    } while (not_ready());
  }
  if (orv::scsi::DiscType.load() == DT_DVDRAM) {
    FSenseBuffer[12] = 4;
  } else {
    do {
      clock.Sleep(interval);
      (void)GetDiscInformation();
      budget -= Interval;
      if (budget < 0) return false;
    } while (not_ready());
  }
  if (TestUnitReady(5000) && FSenseBuffer[12] == 0) return true;
  do {
    clock.Sleep(interval);
    budget -= Interval;
    if (budget < 0) return false;
    (void)TestUnitReady(5000);
  } while (not_ready());
  do {
    FSenseBuffer.fill(0);
    (void)RequestSense(FSenseBuffer.data(), 40);
    budget -= Interval;
    if (budget < 0) return false;
    if (FSenseBuffer[0] == 0xF0) FSenseBuffer[12] = 4;
    if (FSenseBuffer[12] == 4) clock.Sleep(interval);
  } while (FSenseBuffer[12] != 0);
  return true;
}

}  // namespace orv::scsi
