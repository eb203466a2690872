// Diagnostics: the program's own small formatter and the report routine built on it.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "support/byte_sink.h"

namespace lowtags {

// One value for a conversion of a message format: an integer, a double or a byte string.
// The constructors are implicit so that a call reads like the printf-style call it replaces.
// A string is not copied: the argument must outlive the call it is passed to.
class MsgArg {
 public:
  enum class Kind { kNone, kInt, kDouble, kString };

  constexpr MsgArg() = default;
  constexpr MsgArg(int v) : kind_(Kind::kInt), int_(v) {}
  constexpr MsgArg(long long v) : kind_(Kind::kInt), int_(v) {}
  constexpr MsgArg(unsigned char v) : kind_(Kind::kInt), int_(v) {}
  constexpr MsgArg(char v) : kind_(Kind::kInt), int_(v) {}
  constexpr MsgArg(double v) : kind_(Kind::kDouble), double_(v) {}
  // A string ends at its first NUL byte, as it would for the C routines the messages came from.
  MsgArg(std::string_view v);
  MsgArg(const char* v);  // null counts as the empty string
  MsgArg(const std::string& v);

  constexpr Kind kind() const { return kind_; }
  // A value of another kind reads as 0 or the empty string, never as garbage.
  constexpr long long AsInt() const { return kind_ == Kind::kInt ? int_ : 0; }
  constexpr double AsDouble() const { return kind_ == Kind::kDouble ? double_ : 0.0; }
  constexpr std::string_view AsString() const {
    return kind_ == Kind::kString ? str_ : std::string_view();
  }

 private:
  Kind kind_ = Kind::kNone;
  long long int_ = 0;
  double double_ = 0.0;
  std::string_view str_;
};

inline constexpr std::size_t kMsgLimit = 1024;    // a message proper
inline constexpr std::size_t kMsgBufSize = 1280;  // plus headroom for one conversion and the NUL

// Holds the last message until the next one is formatted; err_edit is therefore not re-entrant.
extern char msg_buf[kMsgBufSize];

// Expands format into msg_buf. Conversions are %c %d %x %f %s, one letter, no flags or widths;
// anything else after % is copied with the %. The limit is tested only between steps, so one
// step may run past kMsgLimit into the headroom; a long %s is cut so that the tail still fits.
// Missing arguments read as 0 or the empty string. The result is also NUL-terminated in msg_buf.
std::string_view err_edit(std::string_view format, std::span<const MsgArg> args);

// Writes one message with a single out.Write. A format without % is written as it stands.
void errmsg(ByteSink& out, std::string_view format, std::initializer_list<MsgArg> args = {});

}  // namespace lowtags
