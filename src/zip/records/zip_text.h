// Names and comments of zip entries as text: the one conversion from stored bytes to UTF-8, used
// by the listing (dirreader) and by extraction (engine) alike, so a file is written under the
// name the listing shows.
//
// A name flagged UTF-8 (general purpose bit 11) and valid as such is taken as is. Otherwise the
// bytes are in the code page of the host that made the entry: the OEM code page (CP437) for
// FAT/HPFS hosts, else valid UTF-8 as is (Unix writers without the flag) and Windows-1252 for
// the rest.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv::zip::records {

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsValidUtf8(std::string_view s);

// Which code page names without the UTF-8 flag are read in.
enum class NameCodePage {
  Auto,  // by the host that made the entry: OEM for FAT and HPFS hosts
  None,  // no OEM conversion except for hosts that always write OEM (HPFS, NTFS of version 5.0)
  Oem,   // always OEM
};

// True when the names of an entry made on host_sys (the high byte of "version made by") by
// writer version made_by (its low byte) are in the OEM code page.
bool NeedsOemConversion(NameCodePage code_page, std::uint8_t host_sys, std::uint8_t made_by);

// Stored bytes to UTF-8 (see the top of this file).
std::string ConvertText(std::string_view raw, bool oem, bool utf8_flag);

// The UTF-8 name of an entry from its stored bytes, general purpose flags and "version made by".
inline std::string EntryName(std::string_view raw, std::uint16_t flags, std::uint16_t made_by,
                             NameCodePage code_page = NameCodePage::Auto) {
  const bool oem = NeedsOemConversion(code_page, static_cast<std::uint8_t>(made_by >> 8),
                                      static_cast<std::uint8_t>(made_by & 0xFF));
  return ConvertText(raw, oem, (flags & 0x0800) != 0);
}

}  // namespace orv::zip::records
