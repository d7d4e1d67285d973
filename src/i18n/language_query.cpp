#include "i18n/language_query.h"

namespace orv::i18n {

std::optional<std::string> QueryLanguageTable::language_of(const std::string& key) {
  query_.close();
  query_.clear_sql();
  query_.add_sql("Select * From Language_Tbl");
  query_.add_sql("Where Degisken=:Degisken");
  query_.param("Degisken").set_string(key);
  query_.open();
  if (query_.record_count() == 0) return std::nullopt;
  return query_.field("Language").as_string();
}

}  // namespace orv::i18n
