// Byte searches that respect Shift_JIS characters, and the backward block copy.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace lowtags {

// Index of the first (last) character of s whose first byte is the low byte of c, or npos.
// The end of s, or its first NUL byte, ends the string; a search for 0 finds nothing.
// The second byte of a two-byte character is never compared: in 0x83 0x5C the 0x5C is not a
// backslash, and a lead byte right before '>' swallows that '>'.
std::size_t Strchr(std::string_view s, int c);
std::size_t Strrchr(std::string_view s, int c);

// Copies count bytes from buffer[from] to buffer[to], last byte first, so a block may move up over
// itself (a block moving down over itself is garbled); returns 0. Copies nothing when count <= 0
// or when either range would leave the buffer.
int bakmov(std::span<char> buffer, std::size_t from, std::size_t to, int count);

}  // namespace lowtags
