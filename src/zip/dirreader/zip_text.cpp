// The directory reader's code-page option over the one name conversion (zip/records/zip_text.h).
#include "zip/dirreader/zip_dir_reader.h"
#include "zip/records/zip_text.h"

namespace orv::zip {

bool ZipNeedsOemConversion(CodePageOpts code_page, std::uint8_t host_sys, std::uint8_t made_by) {
  const records::NameCodePage cp = code_page == CodePageOpts::cpOEM    ? records::NameCodePage::Oem
                                   : code_page == CodePageOpts::cpNone ? records::NameCodePage::None
                                                                       : records::NameCodePage::Auto;
  return records::NeedsOemConversion(cp, host_sys, made_by);
}

std::string ZipConvertText(std::string_view raw, bool oem, bool utf8_flag) {
  return records::ConvertText(raw, oem, utf8_flag);
}

}  // namespace orv::zip
