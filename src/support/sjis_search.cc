#include "support/sjis_search.h"

#include <cstring>

#include "support/sjis.h"

namespace lowtags {

namespace {

constexpr std::size_t npos = std::string_view::npos;

std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// First character at or after from (a character start) in s (no NUL inside) that begins with want.
// memchr races over the bytes; a hit then has to start a character. A hit that is the second
// byte of a pair ends that pair, so the byte after it starts a character again.
std::size_t FindFrom(std::string_view s, char want, std::size_t from) {
  while (from < s.size()) {
    const void* hit = std::memchr(s.data() + from, want, s.size() - from);
    if (hit == nullptr) {
      return npos;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - s.data());
    if (IsCharBoundary(s, from, at)) {
      return at;
    }
    from = at + 1;
  }
  return npos;
}

}  // namespace

std::size_t Strchr(std::string_view s, int c) {
  const char want = static_cast<char>(c & 0xFF);
  return want == '\0' ? npos : FindFrom(UpToNul(s), want, 0);
}

std::size_t Strrchr(std::string_view s, int c) {
  const char want = static_cast<char>(c & 0xFF);
  if (want == '\0') {
    return npos;
  }
  s = UpToNul(s);
  std::size_t last = npos;
  for (std::size_t at = FindFrom(s, want, 0); at != npos;
       at = FindFrom(s, want, at + CharLength(s, at))) {
    last = at;
  }
  return last;
}

int bakmov(std::span<char> buffer, std::size_t from, std::size_t to, int count) {
  if (count <= 0) {
    return 0;
  }
  const auto n = static_cast<std::size_t>(count);
  const std::size_t size = buffer.size();
  if (from > size || to > size || n > size - from || n > size - to) {
    return 0;
  }
  for (std::size_t i = n; i-- > 0;) {
    buffer[to + i] = buffer[from + i];
  }
  return 0;
}

}  // namespace lowtags
