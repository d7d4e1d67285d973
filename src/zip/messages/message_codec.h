// Codec of the archiver's compressed message record.
//
// The record is: language id (u16), compressed length (u16), name length (u16), the name,
// then the compressed block. The block is the expanded length (u32) followed by a
// byte-oriented LZ77 stream over a 4096-byte ring (zero-filled, writing from 4080): a flag
// byte announces eight items, least significant bit first; a set bit is one literal byte, a
// clear bit a two-byte reference (position = b0 | (b1 & 0xF0) << 4, length = (b1 & 0x0F) + 3).
// The expanded data is the image of a resource file of string tables (type 6); table n holds
// messages 16(n-1) .. 16(n-1)+15 as a u16 length and that many UTF-16 units each.
//
// All integers are little-endian. Decoders accept any bytes (outside data) and never read out
// of bounds; they report failure as a value. Encoders are used by the build tool zipmsgc and by
// tests. Pure functions, safe on any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orv::zip {

using Bytes = std::vector<std::uint8_t>;
using MessageMap = std::map<int, std::u16string>;  // message number -> text (UTF-16)

// Largest expanded table the decoder accepts (exclusive).
inline constexpr std::size_t kMaxExpandedMessageData = 50000;
inline constexpr std::uint16_t kUsEnglishLanguageId = 1033;

// LZ77 stream of the form above (without the u32 length prefix).
Bytes Lz77Compress(std::span<const std::uint8_t> plain);
// Expands until the input is used up or `limit` bytes are produced (the rest is dropped).
Bytes Lz77Expand(std::span<const std::uint8_t> compressed, std::size_t limit);

// Resource image holding the string tables of `messages` (numbers 0..65535).
Bytes BuildStringTableImage(const MessageMap& messages);
// Reads every string table of a resource image. Malformed parts end the scan; what was read
// before stays. Empty strings are not entered.
MessageMap ParseStringTableImage(std::span<const std::uint8_t> image);

struct MessageRecord {
  std::uint16_t language_id = 0;
  std::string name;        // "US"
  Bytes block;             // u32 expanded length + LZ77 stream
  std::size_t record_size = 0;  // bytes the record took in its source
};

struct [[nodiscard]] RecordDecodeResult {
  bool ok = false;
  std::string error;       // why it failed (for logs and tests)
  MessageMap messages;
};

// Builds one complete record from its messages (the name is stored as bytes).
Bytes BuildMessageRecord(std::uint16_t language_id, const std::string& name,
                         const MessageMap& messages);
// Splits one record off the front of `data`; nullopt when the header or block is cut short.
std::optional<MessageRecord> ReadMessageRecord(std::span<const std::uint8_t> data);
// Expands a block and checks its stored length (equal, and below kMaxExpandedMessageData).
RecordDecodeResult DecodeMessageBlock(std::span<const std::uint8_t> block);
// ReadMessageRecord + DecodeMessageBlock.
RecordDecodeResult DecodeMessageRecord(std::span<const std::uint8_t> record);

// UTF-8 <-> UTF-16 for the texts (invalid UTF-8 bytes become U+FFFD; lone surrogates too).
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace orv::zip
