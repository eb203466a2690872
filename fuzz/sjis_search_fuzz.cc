// The Shift_JIS searches, the character boundary test and the backward block copy against a plain
// walk by characters. Input: the searched value (int16: only its low byte may count), the copy's
// source and destination offsets (a byte each) and count (int16), then the string, which is also
// the buffer the copy works in.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "require.h"
#include "support/sjis.h"
#include "support/sjis_search.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lowtags;
  if (size < 6) return 0;
  const int c = static_cast<std::int16_t>(data[0] | data[1] << 8);
  const std::size_t from = data[2];
  const std::size_t to = data[3];
  const int count = static_cast<std::int16_t>(data[4] | data[5] << 8);
  // Exactly the string's length on the heap: a read or copy past either end is caught.
  std::vector<char> text(data + 6, data + size);
  const std::string_view s(text.data(), text.size());

  // A lead byte takes the next byte unless that is NUL; NUL or the end ends the string.
  std::size_t first = std::string_view::npos;
  std::size_t last = std::string_view::npos;
  std::vector<bool> starts(s.size() + 1, false);
  for (std::size_t i = 0; i < s.size() && s[i] != '\0'; i += CharLength(s, i)) {
    starts[i] = true;
    const auto b = static_cast<unsigned char>(s[i]);
    Require(CharLength(s, i) == (((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) &&
                                         i + 1 < s.size() && s[i + 1] != '\0'
                                     ? 2u
                                     : 1u),
            "a character is two bytes after a lead byte, else one");
    if (b != (c & 0xFF)) continue;
    if (first == std::string_view::npos) first = i;
    last = i;
  }
  Require(Strchr(s, c) == first, "Strchr finds the first character");
  Require(Strrchr(s, c) == last, "Strrchr finds the last character");
  for (std::size_t q = 0; q < s.size() && s[q] != '\0'; ++q) {
    Require(IsCharBoundary(s, 0, q) == starts[q], "boundary test agrees with the walk");
  }

  std::vector<char> expected = text;
  const auto n = static_cast<std::size_t>(count);
  if (count > 0 && from <= s.size() && to <= s.size() && n <= s.size() - from &&
      n <= s.size() - to) {
    for (std::size_t i = n; i-- > 0;) expected[to + i] = expected[from + i];
  }
  Require(bakmov(std::span<char>(text), from, to, count) == 0, "bakmov returns 0");
  Require(text == expected, "bakmov copies last byte first, and only inside the buffer");
  return 0;
}
