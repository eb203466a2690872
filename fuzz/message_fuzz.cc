// The message formatter over arbitrary formats and arguments.
//
// Input: the format, up to the first 0x01 byte (NUL bytes included: the formatter must stop at
// the first one), then the arguments, each a tag byte followed by its value:
//   'i' 8 bytes   an integer, little endian
//   'f' 8 bytes   a double, any bit pattern (NaN, infinities and huge values included)
//   's' n, 2 bytes little endian, then n bytes (fewer when the input ends first)
//   'S' a byte b, then n, 2 bytes: the byte b repeated n times, for long strings in short inputs
//   'n'           an argument of no kind
// Anything else ends the arguments. A value cut short by the end of the input reads as zeros.
//
// Checked: the message lies inside msg_buf with its NUL; it equals what the rules give wherever
// they decide the outcome; missing arguments read like empty ones; errmsg writes it once.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "require.h"
#include "support/byte_sink.h"
#include "support/message.h"

namespace lowtags {
namespace {

constexpr std::size_t kMaxArgs = 8;

class Cursor {
 public:
  Cursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Done() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint64_t Little(int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(Byte()) << (8 * i);
    return v;
  }
  std::string_view Take(std::size_t n) {
    n = n < size_ - pos_ ? n : size_ - pos_;
    const std::string_view s(reinterpret_cast<const char*>(data_) + pos_, n);
    pos_ += n;
    return s;
  }
  std::string_view UpTo(std::uint8_t stop) {
    const void* hit = std::memchr(data_ + pos_, stop, size_ - pos_);
    const std::size_t n =
        hit != nullptr
            ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - (data_ + pos_))
            : size_ - pos_;
    const std::string_view s = Take(n);
    if (hit != nullptr) ++pos_;
    return s;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct Parsed {
  std::string format;
  std::vector<std::string> strings;  // owns what the string arguments point to
  std::vector<MsgArg> args;
};

Parsed Parse(const std::uint8_t* data, std::size_t size) {
  Cursor in(data, size);
  Parsed p;
  p.format = std::string(in.UpTo(0x01));
  p.strings.reserve(kMaxArgs);  // no reallocation: the arguments keep views into these
  while (!in.Done() && p.args.size() < kMaxArgs) {
    const std::uint8_t tag = in.Byte();
    if (tag == 'i') {
      p.args.emplace_back(static_cast<long long>(in.Little(8)));
    } else if (tag == 'f') {
      const std::uint64_t bits = in.Little(8);
      double d = 0;
      std::memcpy(&d, &bits, sizeof d);
      p.args.emplace_back(d);
    } else if (tag == 's') {
      p.strings.emplace_back(in.Take(static_cast<std::size_t>(in.Little(2))));
      p.args.emplace_back(p.strings.back());
    } else if (tag == 'S') {
      const char b = static_cast<char>(in.Byte());
      p.strings.emplace_back(static_cast<std::size_t>(in.Little(2)), b);
      p.args.emplace_back(p.strings.back());
    } else if (tag == 'n') {
      p.args.emplace_back();
    } else {
      break;
    }
  }
  return p;
}

// What the rules make of the format, or false where they leave the outcome open: an f conversion
// that runs past the headroom, a string that does not fit when more than 768 bytes stand before
// it, a lone % at the end of the format.
bool Expected(std::string_view format, const std::vector<MsgArg>& args, std::string* out) {
  constexpr std::size_t kLimit = 1024;
  constexpr std::size_t kCutTo = 768;
  format = format.substr(0, format.find('\0'));
  std::string m;
  std::size_t next = 0;
  std::size_t i = 0;
  while (m.size() < kLimit && i < format.size()) {
    const char byte = format[i++];
    if (byte != '%') {
      m += byte;
      continue;
    }
    if (i == format.size()) return false;
    const char letter = format[i++];
    const MsgArg arg = next < args.size() ? args[next] : MsgArg();
    char text[512];
    switch (letter) {
      case 'c':
        m += static_cast<char>(arg.AsInt() & 0xFF);
        break;
      case 'd':
        std::snprintf(text, sizeof text, "%d",
                      static_cast<int>(static_cast<std::int32_t>(arg.AsInt())));
        m += text;
        break;
      case 'x':
        std::snprintf(text, sizeof text, "%x",
                      static_cast<unsigned>(static_cast<std::uint32_t>(arg.AsInt())));
        m += text;
        break;
      case 'f': {
        const int n = std::snprintf(text, sizeof text, "%f", arg.AsDouble());
        if (n < 0 || m.size() + static_cast<std::size_t>(n) >= kMsgBufSize) return false;
        m += text;
        break;
      }
      case 's': {
        const std::string_view s = arg.AsString();
        if (m.size() + s.size() <= kLimit) {
          m += s;
        } else if (m.size() <= kCutTo) {
          m += s.substr(0, kCutTo - m.size());
        } else {
          return false;
        }
        break;
      }
      default:
        m += '%';
        m += letter;
        continue;  // takes no argument
    }
    ++next;
  }
  *out = m;
  return true;
}

class OneWriteSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override {
    text.assign(bytes);
    ++writes;
  }
  std::string text;
  int writes = 0;
};

}  // namespace
}  // namespace lowtags

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lowtags;
  const Parsed p = Parse(data, size);

  const std::string_view got = err_edit(p.format, p.args);
  Require(got.data() == msg_buf, "the message is in msg_buf");
  Require(got.size() <= kMsgBufSize - 1, "the message leaves room for its NUL");
  Require(msg_buf[got.size()] == '\0', "the message ends in NUL");
  Require(got.find('\0') == std::string_view::npos || p.format.find("%c") != std::string::npos,
          "only %c puts a NUL into a message");
  const std::string message(got);

  std::string expected;
  if (Expected(p.format, p.args, &expected)) {
    Require(message == expected, "the message follows the rules");
  }

  // Arguments of no kind stand for missing ones.
  std::vector<MsgArg> padded = p.args;
  padded.resize(kMaxArgs);
  Require(err_edit(p.format, padded) == message, "missing arguments read as empty ones");

  OneWriteSink sink;
  errmsg(sink, p.format,
         {padded[0], padded[1], padded[2], padded[3], padded[4], padded[5], padded[6], padded[7]});
  Require(sink.writes == 1, "errmsg writes once");
  const std::string_view format(p.format.c_str());  // up to the first NUL
  Require(sink.text == (format.find('%') == std::string_view::npos ? format : message),
          "errmsg writes the expanded message, or a format without % as it stands");
  return 0;
}
