#include "support/cp932_utf8.h"

#include <iconv.h>

#include <cstring>
#include <stdexcept>

#include "support/sjis.h"

namespace lowtags {

namespace {

class Iconv {
 public:
  Iconv() : cd_(::iconv_open("UTF-8", "CP932")) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error("the C library cannot convert CP932 to UTF-8");
    }
  }
  ~Iconv() { ::iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // The entry for one character: it must convert whole, to one UTF-8 character of 1 to 3 bytes.
  std::uint32_t Entry(const char* bytes, std::size_t n) {
    char in[2];
    std::memcpy(in, bytes, n);
    char out[8];
    char* src = in;
    char* dst = out;
    std::size_t src_left = n;
    std::size_t dst_left = sizeof out;
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // a fresh state for every character
    const std::size_t rc = ::iconv(cd_, &src, &src_left, &dst, &dst_left);
    const std::size_t len = sizeof out - dst_left;
    if (rc == static_cast<std::size_t>(-1) || src_left != 0 || len == 0 || len > 3) return 0;
    std::uint32_t entry = static_cast<std::uint32_t>(len) << 24;
    for (std::size_t i = 0; i < len; ++i) {
      entry |= std::uint32_t{static_cast<unsigned char>(out[i])} << (8 * i);
    }
    return entry;
  }

 private:
  iconv_t cd_;
};

constexpr std::uint64_t kHighBits = 0x8080808080808080;

// Writes all three bytes; only the entry's count of them is kept. Every character writes at
// most three bytes per input byte before it, so the room of three per input byte holds that.
inline std::size_t Put(std::uint32_t entry, char* out) {
  out[0] = static_cast<char>(entry);
  out[1] = static_cast<char>(entry >> 8);
  out[2] = static_cast<char>(entry >> 16);
  return entry >> 24;
}

}  // namespace

const Cp932ToUtf8& Cp932ToUtf8::Get() {
  static const Cp932ToUtf8 table;
  return table;
}

Cp932ToUtf8::Cp932ToUtf8() {
  Iconv cd;
  ascii_same_ = true;
  for (int c = 0; c < 256; ++c) {
    const char byte = static_cast<char>(c);
    if (IsLeadByte(byte)) {
      for (int second = 0; second < 256; ++second) {
        const char pair[2] = {byte, static_cast<char>(second)};
        pair_[static_cast<std::size_t>(c * 256 + second)] = cd.Entry(pair, 2);
      }
    } else {
      single_[static_cast<std::size_t>(c)] = cd.Entry(&byte, 1);
      if (c < 0x80 && single_[static_cast<std::size_t>(c)] != ((1u << 24) | unsigned(c))) {
        ascii_same_ = false;
      }
    }
  }
}

Cp932ToUtf8::Step Cp932ToUtf8::Convert(std::string_view in, char* out) const {
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const std::size_t n = in.size();
  std::size_t i = 0;
  std::size_t o = 0;
  while (i < n) {
    if (ascii_same_ && n - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p + i, sizeof word);
      if ((word & kHighBits) == 0) {
        std::memcpy(out + o, &word, sizeof word);
        i += 8;
        o += 8;
        continue;
      }
    }
    const unsigned char c = p[i];
    std::uint32_t entry;
    std::size_t take = 1;
    if (IsLeadByte(c)) {
      if (i + 1 == n) break;
      entry = pair_[c * 256u + p[i + 1]];
      take = 2;
    } else {
      entry = single_[c];
    }
    if (entry == 0) return {i, o, true};
    o += Put(entry, out + o);
    i += take;
  }
  return {i, o, false};
}

}  // namespace lowtags
