#include "support/message.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>

namespace lowtags {

char msg_buf[kMsgBufSize];

namespace {

std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// Appends bytes at len, dropping whatever would not leave room for the final NUL.
void Put(std::size_t& len, std::string_view bytes) {
  const std::size_t n = std::min(bytes.size(), kMsgBufSize - 1 - len);
  std::copy_n(bytes.data(), n, msg_buf + len);
  len += n;
}

template <typename Int>
void PutInt(std::size_t& len, Int value, int base) {
  char digits[16];
  const auto res = std::to_chars(digits, digits + sizeof digits, value, base);
  Put(len, std::string_view(digits, static_cast<std::size_t>(res.ptr - digits)));
}

void PutFixed(std::size_t& len, double value) {
  char text[400];  // "%f" of the largest double is 317 bytes
  const int n = std::snprintf(text, sizeof text, "%f", value);
  if (n > 0) {
    Put(len, std::string_view(text, std::min(static_cast<std::size_t>(n), sizeof text - 1)));
  }
}

// A string that does not fit whole is cut so that the message stands at 768 bytes, leaving room
// for the rest of the format; past 768 there is nothing left to give it.
void PutString(std::size_t& len, std::string_view s) {
  constexpr std::size_t kCutTo = kMsgLimit - 256;
  if (len + s.size() <= kMsgLimit) {
    Put(len, s);
  } else if (len < kCutTo) {
    Put(len, s.substr(0, kCutTo - len));
  }
}

void Convert(std::size_t& len, char letter, const MsgArg& arg) {
  switch (letter) {
    case 'c': {
      const char low = static_cast<char>(arg.AsInt());
      Put(len, std::string_view(&low, 1));
      break;
    }
    case 'd':
      PutInt(len, static_cast<std::int32_t>(arg.AsInt()), 10);
      break;
    case 'x':
      PutInt(len, static_cast<std::uint32_t>(arg.AsInt()), 16);
      break;
    case 'f':
      PutFixed(len, arg.AsDouble());
      break;
    case 's':
      PutString(len, arg.AsString());
      break;
    default:
      break;
  }
}

bool TakesArgument(char letter) {
  return std::string_view("cdxfs").find(letter) != std::string_view::npos;
}

}  // namespace

MsgArg::MsgArg(std::string_view v) : kind_(Kind::kString), str_(UpToNul(v)) {}
MsgArg::MsgArg(const char* v)
    : kind_(Kind::kString), str_(v != nullptr ? std::string_view(v) : std::string_view()) {}
MsgArg::MsgArg(const std::string& v) : MsgArg(std::string_view(v)) {}

std::string_view err_edit(std::string_view format, std::span<const MsgArg> args) {
  format = UpToNul(format);
  std::size_t len = 0;
  std::size_t next_arg = 0;
  std::size_t i = 0;
  while (len < kMsgLimit && i < format.size()) {
    const char byte = format[i++];
    if (byte != '%') {
      Put(len, std::string_view(&byte, 1));
    } else if (i == format.size()) {
      Put(len, "%");  // a lone % at the end has no letter to go with it
    } else if (const char letter = format[i++]; TakesArgument(letter)) {
      Convert(len, letter, next_arg < args.size() ? args[next_arg] : MsgArg());
      ++next_arg;
    } else {
      const char pair[2] = {'%', letter};
      Put(len, std::string_view(pair, 2));
    }
  }
  msg_buf[len] = '\0';
  return std::string_view(msg_buf, len);
}

void errmsg(ByteSink& out, std::string_view format, std::initializer_list<MsgArg> args) {
  format = UpToNul(format);
  if (format.find('%') == std::string_view::npos) {
    out.Write(format);
  } else {
    out.Write(err_edit(format, std::span<const MsgArg>(args.begin(), args.size())));
  }
}

}  // namespace lowtags
