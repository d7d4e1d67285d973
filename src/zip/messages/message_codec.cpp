// Encoder and decoder of the compressed message record (see message_codec.h).
#include "message_codec.h"

#include <algorithm>
#include <array>

#include "platform/byte_order.h"

namespace orv::zip {
namespace {

constexpr std::size_t kRingSize = 4096;
constexpr std::size_t kRingMask = kRingSize - 1;
constexpr std::size_t kRingStart = 4080;
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 18;
constexpr std::uint16_t kStringTableType = 6;
constexpr std::size_t kResourceHeaderSize = 32;

std::uint16_t Get16(std::span<const std::uint8_t> d, std::size_t at) { return bytes::load_le16(d.data() + at); }
std::uint32_t Get32(std::span<const std::uint8_t> d, std::size_t at) { return bytes::load_le32(d.data() + at); }
void Put16(Bytes& out, std::uint32_t v) {
  out.resize(out.size() + 2);
  bytes::store_le16(out.data() + out.size() - 2, static_cast<std::uint16_t>(v));
}
void Put32(Bytes& out, std::uint32_t v) {
  out.resize(out.size() + 4);
  bytes::store_le32(out.data() + out.size() - 4, v);
}

}  // namespace

Bytes Lz77Compress(std::span<const std::uint8_t> plain) {
  // The encoder keeps the same ring as the decoder, so every reference it emits reproduces the
  // input exactly, including references that overlap the bytes being written (runs).
  std::array<std::uint8_t, kRingSize> ring{};
  std::size_t r = kRingStart;
  Bytes out;
  std::size_t flag_at = 0;
  int items = 8;
  std::size_t i = 0;
  while (i < plain.size()) {
    if (items == 8) {
      flag_at = out.size();
      out.push_back(0);
      items = 0;
    }
    const std::size_t max_len = std::min(kMaxMatch, plain.size() - i);
    std::size_t best_len = 0;
    std::size_t best_pos = 0;
    if (max_len >= kMinMatch) {
      for (std::size_t d = 1; d < kRingSize && best_len < max_len; ++d) {
        const std::size_t p = (r - d) & kRingMask;
        std::size_t len = 0;
        while (len < max_len) {
          const std::uint8_t src = len < d ? ring[(p + len) & kRingMask] : plain[i + len - d];
          if (src != plain[i + len]) break;
          ++len;
        }
        if (len > best_len) {
          best_len = len;
          best_pos = p;
        }
      }
    }
    if (best_len >= kMinMatch) {
      out.push_back(static_cast<std::uint8_t>(best_pos & 0xFF));
      out.push_back(static_cast<std::uint8_t>(((best_pos >> 4) & 0xF0) | (best_len - kMinMatch)));
      for (std::size_t k = 0; k < best_len; ++k) {
        ring[r] = plain[i + k];
        r = (r + 1) & kRingMask;
      }
      i += best_len;
    } else {
      out[flag_at] = static_cast<std::uint8_t>(out[flag_at] | (1u << items));
      out.push_back(plain[i]);
      ring[r] = plain[i];
      r = (r + 1) & kRingMask;
      ++i;
    }
    ++items;
  }
  return out;
}

Bytes Lz77Expand(std::span<const std::uint8_t> compressed, std::size_t limit) {
  std::array<std::uint8_t, kRingSize> ring{};
  std::size_t r = kRingStart;
  Bytes out;
  std::size_t in = 0;
  unsigned flags = 0;
  int items = 0;
  while (in < compressed.size() && out.size() < limit) {
    if (items == 0) {
      flags = compressed[in++];
      items = 8;
      continue;
    }
    --items;
    const bool literal = flags & 1u;
    flags >>= 1;
    if (literal) {
      const std::uint8_t c = compressed[in++];
      out.push_back(c);
      ring[r] = c;
      r = (r + 1) & kRingMask;
    } else {
      if (in + 2 > compressed.size()) break;  // a reference cut in half ends the stream
      const std::uint8_t b0 = compressed[in++];
      const std::uint8_t b1 = compressed[in++];
      const std::size_t pos = b0 | (static_cast<std::size_t>(b1 & 0xF0) << 4);
      const std::size_t len = (b1 & 0x0Fu) + kMinMatch;
      for (std::size_t k = 0; k < len && out.size() < limit; ++k) {
        const std::uint8_t c = ring[(pos + k) & kRingMask];
        out.push_back(c);
        ring[r] = c;
        r = (r + 1) & kRingMask;
      }
    }
  }
  return out;
}

Bytes BuildStringTableImage(const MessageMap& messages) {
  Bytes image;
  auto header = [&image](std::uint32_t data_size, std::uint16_t type, std::uint16_t name) {
    Put32(image, data_size);
    Put32(image, kResourceHeaderSize);
    Put16(image, 0xFFFF);
    Put16(image, type);
    Put16(image, 0xFFFF);
    Put16(image, name);
    Put32(image, 0);                    // data version
    Put16(image, type == 0 ? 0 : 0x1030);  // memory flags: moveable, pure, discardable
    Put16(image, type == 0 ? 0 : kUsEnglishLanguageId);
    Put32(image, 0);                    // version
    Put32(image, 0);                    // characteristics
  };
  header(0, 0, 0);  // the empty entry every resource file starts with
  std::map<int, std::array<std::u16string, 16>> tables;
  for (const auto& [id, text] : messages) {
    if (id < 0 || id > 0xFFFF) continue;
    tables[id / 16 + 1][static_cast<std::size_t>(id % 16)] = text;
  }
  for (const auto& [table, strings] : tables) {
    Bytes data;
    for (const auto& s : strings) {
      Put16(data, static_cast<std::uint32_t>(s.size()));
      for (char16_t c : s) Put16(data, c);
    }
    header(static_cast<std::uint32_t>(data.size()), kStringTableType, static_cast<std::uint16_t>(table));
    image.insert(image.end(), data.begin(), data.end());
    while (image.size() % 4) image.push_back(0);
  }
  return image;
}

MessageMap ParseStringTableImage(std::span<const std::uint8_t> image) {
  MessageMap messages;
  std::size_t at = 0;
  while (at + 16 <= image.size()) {
    const std::uint32_t data_size = Get32(image, at);
    const std::uint32_t header_size = Get32(image, at + 4);
    if (header_size < 16 || header_size > image.size() - at) break;
    if (data_size > image.size() - at - header_size) break;
    const std::size_t data_at = at + header_size;
    // Type and name: 0xFFFF + number, or a zero-ended UTF-16 string (never a string table).
    const bool numeric_type = Get16(image, at + 8) == 0xFFFF;
    const std::uint16_t type = numeric_type ? Get16(image, at + 10) : 0;
    const bool numeric_name = numeric_type && Get16(image, at + 12) == 0xFFFF;
    const std::uint16_t name = numeric_name ? Get16(image, at + 14) : 0;
    if (numeric_type && numeric_name && type == kStringTableType && name > 0 && name <= 4096) {  // 16-bit ids
      std::size_t p = data_at;
      const std::size_t end = data_at + data_size;
      for (int k = 0; k < 16 && p + 2 <= end; ++k) {
        const std::size_t len = Get16(image, p);
        p += 2;
        if (len * 2 > end - p) break;
        std::u16string text;
        text.reserve(len);
        for (std::size_t c = 0; c < len; ++c) text.push_back(static_cast<char16_t>(Get16(image, p + 2 * c)));
        p += len * 2;
        if (!text.empty()) messages[(name - 1) * 16 + k] = std::move(text);
      }
    }
    std::size_t next = data_at + data_size;
    next = (next + 3) & ~static_cast<std::size_t>(3);
    if (next <= at) break;
    at = next;
  }
  return messages;
}

Bytes BuildMessageRecord(std::uint16_t language_id, const std::string& name, const MessageMap& messages) {
  const Bytes image = BuildStringTableImage(messages);
  Bytes block;
  Put32(block, static_cast<std::uint32_t>(image.size()));
  const Bytes stream = Lz77Compress(image);
  block.insert(block.end(), stream.begin(), stream.end());
  Bytes record;
  Put16(record, language_id);
  Put16(record, static_cast<std::uint32_t>(block.size()));
  Put16(record, static_cast<std::uint32_t>(name.size()));
  record.insert(record.end(), name.begin(), name.end());
  record.insert(record.end(), block.begin(), block.end());
  return record;
}

std::optional<MessageRecord> ReadMessageRecord(std::span<const std::uint8_t> data) {
  if (data.size() < 6) return std::nullopt;
  MessageRecord rec;
  rec.language_id = Get16(data, 0);
  const std::size_t block_len = Get16(data, 2);
  const std::size_t name_len = Get16(data, 4);
  if (name_len > data.size() - 6 || block_len > data.size() - 6 - name_len) return std::nullopt;
  rec.name.assign(reinterpret_cast<const char*>(data.data() + 6), name_len);
  rec.block.assign(data.begin() + 6 + static_cast<std::ptrdiff_t>(name_len),
                   data.begin() + 6 + static_cast<std::ptrdiff_t>(name_len + block_len));
  rec.record_size = 6 + name_len + block_len;
  return rec;
}

RecordDecodeResult DecodeMessageBlock(std::span<const std::uint8_t> block) {
  RecordDecodeResult result;
  if (block.size() < 4) {
    result.error = "compressed block shorter than its length field";
    return result;
  }
  const std::uint32_t stored = Get32(block, 0);
  if (stored >= kMaxExpandedMessageData) {
    result.error = "expanded length " + std::to_string(stored) + " too large";
    return result;
  }
  const Bytes image = Lz77Expand(block.subspan(4), kMaxExpandedMessageData);
  if (image.size() != stored) {
    result.error = "expanded to " + std::to_string(image.size()) + " bytes, expected " + std::to_string(stored);
    return result;
  }
  result.messages = ParseStringTableImage(image);
  result.ok = true;
  return result;
}

RecordDecodeResult DecodeMessageRecord(std::span<const std::uint8_t> record) {
  const auto rec = ReadMessageRecord(record);
  if (!rec) {
    RecordDecodeResult result;
    result.error = "message record cut short";
    return result;
  }
  return DecodeMessageBlock(rec->block);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < text.size()) {
    const unsigned c = byte(i);
    std::uint32_t cp = 0xFFFD;
    std::size_t n = 1;
    if (c < 0x80) {
      cp = c;
    } else if (c >= 0xC2 && c < 0xF5) {
      const std::size_t need = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      bool good = i + need <= text.size();
      std::uint32_t v = c & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
      for (std::size_t k = 1; good && k < need; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) good = false;
        else v = (v << 6) | (byte(i + k) & 0x3F);
      }
      const std::uint32_t min = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
      if (good && v >= min && v <= 0x10FFFF && !(v >= 0xD800 && v < 0xE000)) {
        cp = v;
        n = need;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace orv::zip
