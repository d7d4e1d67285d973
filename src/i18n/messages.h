// Message strings and the lookup of translated texts.
//
// Every text the tool shows comes from the settings table Language_Tbl: a row maps a key
// (Degisken) to an English text and to the text shown (Language). The tool holds no wording of
// its own: the 43 message strings below start empty and are filled by every translation pass
// (load_message_strings, run first by TranslateForm); window captions are their design texts,
// which serve as keys.
//
// Ownership: messages() is the one process-wide set, written only by load_message_strings.
// Threading: user-interface thread only. Errors: a failing lookup throws the provider's error
// (dal::ProviderError) unchanged; a pass stops at that point, leaving later strings as they were.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace orv::i18n {

// The 43 message strings, named by their keys in Language_Tbl.
struct MessageStrings {
  std::string Suc_Conc_Str, Connect, Err_Cont_Str, Err_Conc_Str, MSSQL_Exit_Str, MS_Not_Found, Drive_Str,
      CD_Error3_Str, CD_Add_File_Str, CD_Start_Str, CD_Skip1_Str, CD_Skip2_Str, CD_Error1_Str, CD_Error2_Str,
      CD_Write1_Str, CD_Write2_Str, Session_Str, Index_Rebuild_Str, Index_Rebuild_Bsk_Str, Table_Rebuild_Str,
      Table_Rebuild_Bsk_Str, Backup_Str, Backup_Str_Bsk, Restore_Str, Restore_Str_Bsk, Opera_Error_Str,
      Opera_Error_Str_Bsk, Last_Backup_Time, Last_Backup_Path, Directory_Create_Error_Str,
      Directory_Create_Error_Str_Bsk, Backup_Comp_Str, Restore_Bsk_Str, Backup1_Str, Check_Bck_Str, Check_Zip_Str,
      Write_CD_Str, Extract_Zip_Str, Check_Direc_Str, Restore_Dtb_Str, Restore_Comp_Str, Backup_To_Str,
      Backup_To_Direct_Str;
};

struct MessageKey {
  std::string_view key;
  std::string MessageStrings::*field;
};

// The keys in the order a translation pass loads them.
extern const std::array<MessageKey, 43> kMessageKeys;

// The process-wide message strings (empty until the main window's first show).
MessageStrings& messages();

// The rows of Language_Tbl as the lookup sees them.
class LanguageTable {
 public:
  virtual ~LanguageTable() = default;
  // The Language value of the first row whose Degisken equals key (empty text for NULL), or
  // nullopt when no row has that key. One round trip per call; nothing is cached.
  virtual std::optional<std::string> language_of(const std::string& key) = 0;
};

// The translation of key: the Language value of its row, even when empty; the key itself when
// no row has it.
std::string TranslateText(LanguageTable& table, const std::string& key);

// Reloads all 43 strings, in key order, with TranslateText.
void load_message_strings(LanguageTable& table, MessageStrings& strings = messages());

// Replaces every occurrence of placeholder (e.g. "<Directory>") in text, matching without regard
// to letter case, by value.
std::string replace_placeholder(std::string_view text, std::string_view placeholder, std::string_view value);

}  // namespace orv::i18n
