// Name rules of the file tree: ISO 9660 short names, the Joliet (UCS-2 big-endian) form of
// long names, ASCII-only upper case, and the directory-record limits a name must fit.
// Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <string>

namespace orv::burner {

// ASCII letters a-z to A-Z; every other byte unchanged.
std::string UpperAscii(const std::string& text);
bool EqualUpperAscii(const std::string& a, const std::string& b);

// The 8.3-style name of a folder made by the tree or an import: the first 13 characters,
// upper case, every character outside '!'..'z' (and every non-ASCII character) as '_'.
std::string MakeShortName(const std::string& name);

// True when the name is a plain 8.3 name (base 1-8, optional extension 1-3, characters that a
// DOS short name may hold); the search of a source file then reports no alternate name.
bool IsPlain83Name(const std::string& name);

// The alternate 8.3 name the platform reports for a long name that is not plain 8.3:
// up to six valid characters of the base, "~" and the number, and up to three characters of
// the last extension, all upper case (for example "Backup of May.dat", 1 -> "BACKUP~1.DAT").
std::string AlternateShortName(const std::string& name, int number);

// UTF-8 text to UCS-2 big-endian bytes. Characters outside the Basic Multilingual Plane and
// bytes that are not valid UTF-8 become '_'.
std::string Utf8ToUcs2BE(const std::string& text);
// The name as the Joliet tree holds it, in UTF-8: characters outside the Basic Multilingual
// Plane and bytes that are not valid UTF-8 as '_' (Utf8ToUcs2BE of it is Utf8ToUcs2BE of name).
std::string JolietForm(const std::string& name);
// The numbered Joliet name that keeps a converted name unique in its folder: "~" and the
// number before the last extension ("x__.txt", 1 -> "x__~1.txt"), the base cut so the name
// stays within kMaxJolietNameChars.
std::string NumberedJolietName(const std::string& joliet_name, int number);
// Number of UCS-2 characters the name takes (the byte length of Utf8ToUcs2BE / 2).
size_t Ucs2Length(const std::string& text);

// Directory records hold at most 255 bytes: ISO identifiers up to 221 bytes (";1" included
// for files). Joliet records could hold 110 UCS-2 characters, but readers differ above 103
// (libarchive cuts longer names), so long names are kept to 103 characters.
constexpr size_t kMaxISOIdentifier = 221;
constexpr size_t kMaxJolietNameChars = 103;
// True when the entry's names fit its records and read back in full.
bool NamesFitRecords(const std::string& short_name, const std::string& long_name, bool is_file);

}  // namespace orv::burner
