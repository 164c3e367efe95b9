#include "workbook/xlsx/wb_xml_chars.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>

#include "platform/unicode_text.h"

namespace {

// Per byte: 0 reads as it stands; 1 tab and line feed, which do so in a text only; 2 ends the
// run: '&', '<', a carriage return, another control character, or a byte of 0x80 and above,
// which begins a UTF-8 sequence to check.
constexpr std::array<unsigned char, 256> byte_kinds = [] {
  std::array<unsigned char, 256> kinds{};
  for (int c = 0; c < 256; ++c) kinds[c] = c >= 0x80 || c < 0x20 || c == '&' || c == '<' ? 2 : 0;
  kinds['\t'] = kinds['\n'] = 1;
  return kinds;
}();

}  // namespace

std::size_t wb_xml_plain_prefix(std::string_view raw, bool attribute) {
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  const std::size_t n = raw.size();
  const unsigned char passing = attribute ? 1 : 2;  // the kinds below it read as they stand
  std::size_t i = 0;
  for (;;) {
#if defined(__SSE2__)
    // Sixteen bytes go at once when none is below the blank, '&' or '<'. The comparison is signed,
    // so bytes of 0x80 and above stop the run too and are checked as UTF-8 below.
    const __m128i blank = _mm_set1_epi8(0x20), amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<');
    const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n');
    while (i + 16 <= n) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      __m128i stop = _mm_or_si128(_mm_cmplt_epi8(v, blank), _mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)));
      if (!attribute) stop = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)), stop);
      const auto mask = static_cast<unsigned>(_mm_movemask_epi8(stop));
      if (mask == 0) {
        i += 16;
        continue;
      }
      i += static_cast<std::size_t>(__builtin_ctz(mask));
      break;
    }
#endif
    // Short texts and the tail, byte by byte.
    while (i < n && byte_kinds[p[i]] < passing) ++i;
    if (i >= n) return n;
    if (p[i] < 0x80) return i;
    // A run of characters beyond ASCII (a word of another script), sequence by sequence.
    do {
      const int len = platform::utf8_sequence_length(raw.substr(i));
      // U+FFFE and U+FFFF (EF BF BE, EF BF BF) are no XML characters.
      if (len == 0 || (len == 3 && p[i] == 0xEF && p[i + 1] == 0xBF && p[i + 2] >= 0xBE)) return i;
      i += static_cast<std::size_t>(len);
    } while (i < n && p[i] >= 0x80);
  }
}
