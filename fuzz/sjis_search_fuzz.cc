// The Shift_JIS searches and the backward block copy.
//
// Input: bytes 0-1 the value searched for (a signed 16-bit number: only its low byte may count),
// byte 2 and 3 the source and destination offsets of the copy, bytes 4-5 its count (signed 16-bit,
// as callers pass it), and the rest the string, which is also the buffer the copy works in.
//
// Checked: Strchr and Strrchr find what a plain walk by characters finds, the character boundary
// test agrees with that walk, and bakmov copies exactly what a byte-by-byte backward copy does,
// inside the buffer, or nothing when its block does not fit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "require.h"
#include "support/sjis.h"
#include "support/sjis_search.h"

namespace lowtags {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool Lead(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The walk as the rules state it: compare at the first byte of each character, then step over
// two bytes for a lead byte with a byte other than NUL after it, else one; stop at NUL or the end.
std::size_t Walk(std::string_view s, int c, bool last) {
  const char want = static_cast<char>(c & 0xFF);
  std::size_t found = npos;
  std::size_t i = 0;
  while (i < s.size() && s[i] != '\0') {
    if (s[i] == want) {
      if (!last) return i;
      found = i;
    }
    i += (Lead(s[i]) && i + 1 < s.size() && s[i + 1] != '\0') ? 2 : 1;
  }
  return found;
}

void CheckBoundaries(std::string_view s) {
  s = s.substr(0, s.find('\0'));
  std::vector<bool> starts(s.size() + 1, false);
  for (std::size_t i = 0; i < s.size(); i += CharLength(s, i)) starts[i] = true;
  for (std::size_t q = 0; q < s.size(); ++q) {
    Require(IsCharBoundary(s, 0, q) == starts[q], "boundary test agrees with the walk");
  }
}

void CheckBakmov(std::string_view bytes, std::size_t from, std::size_t to, int count) {
  // Exactly the size of the bytes, so that a copy past either end reaches unowned memory.
  std::vector<char> buffer(bytes.begin(), bytes.end());
  std::vector<char> expected = buffer;
  const std::size_t size = buffer.size();
  if (count > 0) {
    const auto n = static_cast<std::size_t>(count);
    if (from <= size && to <= size && n <= size - from && n <= size - to) {
      for (std::size_t i = n; i-- > 0;) expected[to + i] = expected[from + i];
    }
  }
  Require(bakmov(std::span<char>(buffer), from, to, count) == 0, "bakmov returns 0");
  Require(buffer == expected, "bakmov copies last byte first, and only inside the buffer");
}

}  // namespace
}  // namespace lowtags

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lowtags;
  if (size < 6) return 0;
  const int c = static_cast<std::int16_t>(data[0] | data[1] << 8);
  const std::size_t from = data[2];
  const std::size_t to = data[3];
  const int count = static_cast<std::int16_t>(data[4] | data[5] << 8);
  // A heap copy of exactly the string's length: a read past its end is caught.
  const std::vector<char> text(data + 6, data + size);
  const std::string_view s(text.data(), text.size());

  Require(Strchr(s, c) == Walk(s, c, false), "Strchr finds the first character");
  Require(Strrchr(s, c) == Walk(s, c, true), "Strrchr finds the last character");
  CheckBoundaries(s);
  CheckBakmov(s, from, to, count);
  return 0;
}
