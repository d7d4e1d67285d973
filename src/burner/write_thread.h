// The write thread of a burn (TDiscBurner::StartWriteThread, run in burn_sequence.cpp): its
// messages and the pieces of its set-up that callers and tests check on their own.
//
// The run sends every device command of the burn, in this order: set-up for the disc type,
// the start line, one WRITE(10) per cache block, flushing, closing the session (CD and DVD+R
// media, not in a test write), returning the recorder to idle, and OnWriteDone with the
// outcome on the write thread. Errors and aborts go from writing to flushing and then to the
// end, without closing. Outcome texts are the ones below or the cache thread's.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace orv::burner {

inline constexpr const char* kMsgWriterBusy = "WRITER BUSY/BUFFER FULL";
inline constexpr const char* kMsgWriterError = "WRITER ERROR";
inline constexpr const char* kMsgStartingWrite = "STARTING WRITE PROCESS ON %s AT %s";
inline constexpr const char* kMsgTestWrite = "TEST/DUMMY WRITE";
inline constexpr const char* kMsgWritingLeadOut = "WRITING LEAD-OUT (THIS CAN TAKE APPROXIMATELY 15-20 MINUTES)";
// The recorder's next writable address is not where the track was laid out.
inline constexpr const char* kMsgAddressMoved = "NEXT WRITABLE ADDRESS %u IS NOT THE TRACK START %u OF THE IMAGE";
inline constexpr const char* kMsgBurnRunning = "A BURN IS ALREADY RUNNING";
// LastError of a request that was never sent (no layer or no device).
inline constexpr const char* kMsgNoDevice = "NO DEVICE";
// Seconds a DVD-R is given to finish its lead-out after the flush before the burn goes on.
inline constexpr int kMaxLeadOutPolls = 3600;

// The speed shown in the start line: DVD media in DVD units (the CD "x" divided by 7),
// rounded, followed by "X".
std::string StartLineSpeed(uint16_t DiscType, uint16_t Speed);

// The SET STREAMING performance descriptor sent before a DVD-R is written.
std::array<uint8_t, 28> StreamingDescriptor();

}  // namespace orv::burner
