// The archiver's option sets and enumerations, shared by the operation driver and the
// archiver component. Members are listed in their ordinal order; sets are bit sets over it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "zip/dirreader/zip_dir_reader.h"  // ProgressType, CodePageOpts

namespace orv::zip {

// A set of enumeration members (bit = ordinal), like a Pascal set.
template <typename E>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> members) {
    for (E m : members) insert(m);
  }
  constexpr bool contains(E m) const { return (bits_ >> static_cast<unsigned>(m)) & 1u; }
  constexpr void insert(E m) { bits_ |= uint64_t{1} << static_cast<unsigned>(m); }
  constexpr void erase(E m) { bits_ &= ~(uint64_t{1} << static_cast<unsigned>(m)); }
  constexpr bool empty() const { return bits_ == 0; }
  constexpr uint64_t bits() const { return bits_; }
  constexpr bool operator==(const EnumSet&) const = default;

 private:
  uint64_t bits_ = 0;
};

enum class AddOptsEnum {
  AddDirNames, AddRecurseDirs, AddMove, AddFreshen, AddUpdate, AddZipTime, AddForceDOS,
  AddHiddenFiles, AddArchiveOnly, AddResetArchive, AddEncrypt, AddSeparateDirs, AddVolume,
  AddFromDate, AddSafe, AddForceDest, AddDiskSpan, AddDiskSpanErase
};
using AddOpts = EnumSet<AddOptsEnum>;

enum class ExtrOptsEnum { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrTest, ExtrForceDirs };
using ExtrOpts = EnumSet<ExtrOptsEnum>;

enum class AddStoreSuffixEnum {
  assGIF, assPNG, assZ, assZIP, assZOO, assARC, assLZH, assARJ, assTAZ, assTGZ, assLHA, assRAR,
  assACE, assCAB, assGZ, assGZIP, assJAR, assEXE, assEXT, assJPG, assJPEG, ass7Zp, assMP3,
  assWMV, assWMA, assDVR, assAVI
};
using AddStoreExts = EnumSet<AddStoreSuffixEnum>;
inline constexpr int kAddStoreSuffixCount = 27;

enum class TDeleteOpts { htdFinal, htdAllowUndo };
enum class SpanOptsEnum { spNoVolumeName, spCompatName, spWipeFiles, spTryFormat };
using SpanOpts = EnumSet<SpanOptsEnum>;
enum class OvrOpts { OvrAlways, OvrNever, OvrConfirm };

enum class UnZipSkipTypes {
  stOnFreshen, stNoOverwrite, stFileExists, stBadPassword, stNoEncryptionDLL,
  stCompressionUnknown, stUnknownZipHost, stZipFileFormatWrong, stGeneralExtractError
};

// The extension a store-suffix member stands for ("" for assEXT).
const char* StoreSuffixExtension(AddStoreSuffixEnum member);

// Every member but assEXT: the archiver's default and the value in force in the tool.
AddStoreExts DefaultAddStoreSuffixes();

// The store-suffix text of the add command record: ".gif:.png:...", no final colon; "" when
// the set is empty (and no extra suffixes).
std::string StoreSuffixText(AddStoreExts suffixes, const std::string& ext_add_store_suffixes);

}  // namespace orv::zip
