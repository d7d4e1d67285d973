// The translation lookup over the main window's query ADOQueryLanguage on the settings
// connection: for each key the query is closed, its text set to the two lines
//   "Select * From Language_Tbl"
//   "Where Degisken=:Degisken"
// the parameter Degisken set to the key, and opened. One round trip per key.
// The query is shared with the translation editor, which gives it its own text; the next lookup
// replaces that text. The query is owned by the caller and must outlive this object.
// Errors: ProviderError / DataSetError from the data-access layer, unchanged.
#pragma once

#include "i18n/messages.h"
#include "dal/dataset.h"

namespace orv::i18n {

class QueryLanguageTable final : public LanguageTable {
 public:
  explicit QueryLanguageTable(dal::Query& query) : query_(query) {}
  std::optional<std::string> language_of(const std::string& key) override;

 private:
  dal::Query& query_;
};

}  // namespace orv::i18n
