#include "i18n/messages.h"

#include <cctype>

namespace orv::i18n {

#define ORV_KEY(name) MessageKey{#name, &MessageStrings::name}
const std::array<MessageKey, 43> kMessageKeys = {
    ORV_KEY(Suc_Conc_Str),       ORV_KEY(Connect),
    ORV_KEY(Err_Cont_Str),       ORV_KEY(Err_Conc_Str),
    ORV_KEY(MSSQL_Exit_Str),     ORV_KEY(MS_Not_Found),
    ORV_KEY(Drive_Str),          ORV_KEY(CD_Error3_Str),
    ORV_KEY(CD_Add_File_Str),    ORV_KEY(CD_Start_Str),
    ORV_KEY(CD_Skip1_Str),       ORV_KEY(CD_Skip2_Str),
    ORV_KEY(CD_Error1_Str),      ORV_KEY(CD_Error2_Str),
    ORV_KEY(CD_Write1_Str),      ORV_KEY(CD_Write2_Str),
    ORV_KEY(Session_Str),        ORV_KEY(Index_Rebuild_Str),
    ORV_KEY(Index_Rebuild_Bsk_Str), ORV_KEY(Table_Rebuild_Str),
    ORV_KEY(Table_Rebuild_Bsk_Str), ORV_KEY(Backup_Str),
    ORV_KEY(Backup_Str_Bsk),     ORV_KEY(Restore_Str),
    ORV_KEY(Restore_Str_Bsk),    ORV_KEY(Opera_Error_Str),
    ORV_KEY(Opera_Error_Str_Bsk), ORV_KEY(Last_Backup_Time),
    ORV_KEY(Last_Backup_Path),   ORV_KEY(Directory_Create_Error_Str),
    ORV_KEY(Directory_Create_Error_Str_Bsk), ORV_KEY(Backup_Comp_Str),
    ORV_KEY(Restore_Bsk_Str),    ORV_KEY(Backup1_Str),
    ORV_KEY(Check_Bck_Str),      ORV_KEY(Check_Zip_Str),
    ORV_KEY(Write_CD_Str),       ORV_KEY(Extract_Zip_Str),
    ORV_KEY(Check_Direc_Str),    ORV_KEY(Restore_Dtb_Str),
    ORV_KEY(Restore_Comp_Str),   ORV_KEY(Backup_To_Str),
    ORV_KEY(Backup_To_Direct_Str),
};
#undef ORV_KEY

MessageStrings& messages() {
  static MessageStrings strings;
  return strings;
}

std::string TranslateText(LanguageTable& table, const std::string& key) {
  std::optional<std::string> found = table.language_of(key);
  return found ? *found : key;
}

void load_message_strings(LanguageTable& table, MessageStrings& strings) {
  for (const MessageKey& k : kMessageKeys) strings.*k.field = TranslateText(table, std::string(k.key));
}

std::string replace_placeholder(std::string_view text, std::string_view placeholder, std::string_view value) {
  if (placeholder.empty()) return std::string(text);
  auto lower = [](unsigned char c) { return static_cast<char>(std::tolower(c)); };
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    bool match = i + placeholder.size() <= text.size();
    for (size_t j = 0; match && j < placeholder.size(); ++j)
      match = lower(static_cast<unsigned char>(text[i + j])) == lower(static_cast<unsigned char>(placeholder[j]));
    if (match) {
      out.append(value);
      i += placeholder.size();
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

}  // namespace orv::i18n
