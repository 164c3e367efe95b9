#include "platform/unicode_text.h"

#include <unicode/uchar.h>

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr char32_t replacement = 0xFFFD;

// Length of a well-formed sequence starting at lead, 0 when the lead byte can
// never start one (continuation bytes, C0, C1, F5..FF).
int sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Allowed range of the second byte (Unicode table 3-7): it excludes overlong
// forms, surrogates and values above U+10FFFF.
bool second_byte_ok(unsigned char lead, unsigned char b) {
  switch (lead) {
    case 0xE0: return b >= 0xA0 && b <= 0xBF;
    case 0xED: return b >= 0x80 && b <= 0x9F;
    case 0xF0: return b >= 0x90 && b <= 0xBF;
    case 0xF4: return b >= 0x80 && b <= 0x8F;
    default: return b >= 0x80 && b <= 0xBF;
  }
}

constexpr std::uint64_t high_bits = 0x8080808080808080ull;

std::uint64_t load_word(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

}  // namespace

std::size_t utf8_valid_prefix(std::string_view bytes) {
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n && (load_word(bytes.data() + i) & high_bits) == 0) {
      i += 8;
      continue;
    }
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    // A run of characters beyond ASCII, sequence by sequence.
    do {
      const int len = utf8_sequence_length(bytes.substr(i));
      if (len == 0) return i;
      i += static_cast<std::size_t>(len);
    } while (i < n && static_cast<unsigned char>(bytes[i]) >= 0x80);
  }
  return i;
}

std::size_t utf8_count_code_points(std::string_view utf8) {
  // A continuation byte is 10xxxxxx: bit 7 set and bit 6 clear.
  std::size_t continuation = 0, i = 0;
  for (; i + 8 <= utf8.size(); i += 8) {
    const std::uint64_t w = load_word(utf8.data() + i);
    // One bit per continuation byte, at the byte's top; the multiplication sums them up.
    const std::uint64_t marks = (w & ~(w << 1) & high_bits) >> 7;
    continuation += static_cast<std::size_t>((marks * 0x0101010101010101ull) >> 56);
  }
  for (; i < utf8.size(); ++i) continuation += (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80;
  return utf8.size() - continuation;
}

std::u32string utf8_decode(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const int len = sequence_length(lead);
    if (len == 1) {
      out.push_back(lead);
      ++i;
      continue;
    }
    if (len == 0) {
      out.push_back(replacement);
      ++i;
      continue;
    }
    // Consume the maximal valid prefix; if the sequence breaks off, that
    // prefix is one invalid subpart and becomes one U+FFFD.
    char32_t value = lead & (0xFF >> (len + 1));
    std::size_t j = i + 1;
    bool complete = true;
    for (int k = 1; k < len; ++k, ++j) {
      if (j >= n) {
        complete = false;
        break;
      }
      const auto b = static_cast<unsigned char>(bytes[j]);
      const bool ok = (k == 1) ? second_byte_ok(lead, b) : (b >= 0x80 && b <= 0xBF);
      if (!ok) {
        complete = false;
        break;
      }
      value = (value << 6) | (b & 0x3F);
    }
    out.push_back(complete ? value : replacement);
    i = j;
  }
  return out;
}

void utf8_append(std::string& out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = replacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string utf8_encode(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) utf8_append(out, c);
  return out;
}

char32_t fold_case(char32_t c) {
  if (c > 0x10FFFF) return c;
  return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

bool is_alnum(char32_t c) {
  if (c > 0x10FFFF) return false;
  return u_isalnum(static_cast<UChar32>(c)) != 0;
}

}  // namespace platform
