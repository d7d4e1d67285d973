// Fuzz target: the decoder of the compressed message record (outside data when a language
// resource is loaded), the string-table image parser and the LZ77 coder's round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "zip/messages/message_codec.h"
#include "zip/messages/zip_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv::zip;
  const std::span<const std::uint8_t> in(data, size);
  const RecordDecodeResult record = DecodeMessageRecord(in);
  if (record.ok) {
    for (const auto& [id, text] : record.messages)
      if (text.empty() || id < 0 || id > 0xFFFF) std::abort();
  }
  const MessageMap image = ParseStringTableImage(in);
  for (const auto& [id, text] : image)
    if (text.empty()) std::abort();
  const Bytes expanded = Lz77Expand(in, 70000);
  if (expanded.size() > 70000) std::abort();
  // What the encoder makes, the decoder must give back exactly.
  if (size <= 300) {  // the encoder searches the whole ring: keep the round trip small
    const Bytes packed = Lz77Compress(in);
    if (Lz77Expand(packed, size + 1) != Bytes(in.begin(), in.end())) std::abort();
  }
  if (SetZipLanguage(in, std::string_view("US"))) {
    (void)LoadZipStr(10104);
    ClearZipLanguage();
  }
  return 0;
}
