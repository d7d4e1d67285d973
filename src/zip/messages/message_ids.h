// Numbers of the archiver's messages that the code raises by name. Every number is defined once
// here; its English text lives in messages.txt (compiled into the built-in table).
#pragma once

namespace orv::zip::msg {

inline constexpr int FatalDllError = 10101;          // "Fatal Error in DLL: abort exception"
inline constexpr int NoZipFileSpecified = 10102;     // "Error - no zip file specified!"
inline constexpr int NoMemory = 10103;               // "Requested memory not available"
inline constexpr int PasswordsDiffer = 10104;        // two lines
inline constexpr int ExceptionInHandler = 10106;
inline constexpr int ExceptionInEvent = 10113;
inline constexpr int DllAborting = 10118;
inline constexpr int DllUserCancelled = 10120;
inline constexpr int DllNoMemory = 10121;
inline constexpr int DllInvalidStructure = 10122;
inline constexpr int DllHandlerException = 10123;
inline constexpr int DllCriticalError = 10124;       // %d
inline constexpr int UnknownErrorCode = 10125;       // %d
inline constexpr int SkippedFile = 10126;            // %s %d
inline constexpr int NoAddPassword = 10150;
inline constexpr int NoExtractPassword = 10151;
inline constexpr int PasswordTitle = 10154;
inline constexpr int EnterPassword = 10155;
inline constexpr int ConfirmPassword = 10156;
inline constexpr int SeekError = 10201;
inline constexpr int UnknownListError = 10202;       // followed by the error's text
inline constexpr int ZipStructureWarning = 10203;
inline constexpr int GarbageAtEnd = 10204;
inline constexpr int FirstButtonCaption = 10220;     // "&Yes" .. 10229 "YesToAll"
inline constexpr int NoFilesToZip = 10301;
inline constexpr int UnattendedNeedsPassword = 10302;
inline constexpr int DestinationMustExist = 10308;   // %s
inline constexpr int UnattendedExtractWarning = 10502;
inline constexpr int ExtractDirMustExist = 10504;    // %s
inline constexpr int DllLoadFailed = 10650;          // %s
inline constexpr int DllOldOrCorrupt = 10651;        // %s
inline constexpr int DllLoaded = 10652;              // %s
inline constexpr int DllUnloaded = 10653;            // %s
inline constexpr int ZipFileNotOpened = 11002;
inline constexpr int NotValidDrive = 11003;          // %s
inline constexpr int DriveNotDefined = 11004;        // %s
inline constexpr int UserCanceled = 11007;
inline constexpr int CentralHeaderRead = 11013;
inline constexpr int CentralHeaderSignature = 11015;
inline constexpr int CentralFileNameRead = 11017;
inline constexpr int FileCommentRead = 11022;
inline constexpr int UnattendedSpanning = 11025;
inline constexpr int InsertLastDisk = 11035;
inline constexpr int NotValidZipArchive = 11036;
inline constexpr int CannotWriteTo = 11051;          // %s
inline constexpr int LoadingDirectory = 11409;       // "*Loading Directory"

}  // namespace orv::zip::msg
