// One piece of a line under conversion. The converted text grows behind the scan position and
// the unread text lies ahead of it; together they are the line as the rules see it. Deleting
// text at the position, or widening a character, costs O(1): nothing has to move.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/sjis.h"

namespace lowtags {

class LineEdit {
 public:
  static constexpr std::size_t npos = std::string_view::npos;
  // Bytes past the converted text that the output always has room for, so that vector loops
  // may store whole blocks and let the next store cover what lies past the end.
  static constexpr std::size_t kOutputSlack = 64;

  // Starts a piece; `text` ends at its first NUL and stays the caller's, edited in place.
  // `readable_past_end` bytes after it may be read (never written).
  void Reset(std::span<char> text, std::size_t readable_past_end = 0);
  std::size_t readable_past_end() const { return readable_past_end_; }

  bool AtEnd() const { return r_ == e_; }
  // The byte k places after the position; NUL past the end, as after a C string.
  unsigned char Byte(std::size_t k = 0) const {
    return r_ + k < e_ ? static_cast<unsigned char>(in_[r_ + k]) : 0;
  }
  // Most tests fail on the first two bytes, before the call to memcmp. Always inlined: the
  // prefixes are constants, and memcmp of a known length is a few instructions.
  [[gnu::always_inline]] bool StartsWith(std::string_view prefix) const {
    if (e_ - r_ < prefix.size()) return false;
    if (prefix.size() >= 2 && (in_[r_] != prefix[0] || in_[r_ + 1] != prefix[1])) return false;
    return std::memcmp(in_ + r_, prefix.data(), prefix.size()) == 0;
  }
  std::string_view Rest() const { return {in_ + r_, e_ - r_}; }
  // True when nothing stands before the position: it is the first byte of the line.
  bool AtLineStart() const { return w_ == 0; }
  std::size_t CharLength() const { return IsLeadByte(Byte()) && Byte(1) != 0 ? 2 : 1; }

  // Deletes n bytes at the position.
  void Skip(std::size_t n) { r_ += n; }
  // Passes n bytes unchanged.
  void Keep(std::size_t n) {
    std::memcpy(out_.data() + w_, in_ + r_, n);
    w_ += n;
    r_ += n;
  }
  void Step() {
    if (CharLength() == 1) {
      out_[w_++] = in_[r_++];
    } else {
      Keep(2);
    }
  }
  // Direct access for the scanner's tight loops, which keep the positions in registers;
  // Commit hands them back. Nothing else may touch the edit in between.
  struct Raw {
    const char* in;
    std::size_t r;
    std::size_t e;
    char* out;
    std::size_t w;
  };
  Raw Open() { return Raw{in_, r_, e_, out_.data(), w_}; }
  void Commit(const Raw& raw) {
    r_ = raw.r;
    w_ = raw.w;
  }
  // Appends converted bytes; the caller skips the bytes they replace. Every rule writes at most
  // two bytes for each byte it consumes, and the output holds twice the piece.
  void Put(char c) { out_[w_++] = c; }
  // Deletes the unread bytes [from, to) (offsets from the position, from > 0): the few bytes in
  // front of them move up instead of the whole rest of the line moving down.
  void DeleteAhead(std::size_t from, std::size_t to);
  // Ends the line at the position: the rest, its newline included, is dropped.
  void Cut() { r_ = e_; }

  std::string_view Converted() const { return {out_.data(), w_}; }
  char LastConverted() const { return w_ > 0 ? out_[w_ - 1] : '\0'; }
  // The whole line as it stands now, for messages.
  std::string Text() const;

  // Searches of the unread text, as offsets from the position; npos when there is none. Each
  // remembers its last answer, so that asking again from further on costs nothing and a line
  // full of tags or comments is still searched in linear time.
  std::size_t FindCommentClose();            // "-->", byte by byte
  std::size_t FindGtByte(std::size_t from);  // '>', byte by byte
  // First bytes of whole characters; c is '>' or '"'.
  std::size_t FindChar(char c, std::size_t from);

 private:
  // "No target in [from, found); found is the target or e_."
  struct Memo {
    bool valid = false;
    std::size_t from = 0;
    std::size_t found = 0;
    bool Answers(std::size_t q) const { return valid && from <= q && q <= found; }
  };
  std::size_t Answer(Memo& memo, std::size_t q, std::size_t found);
  void AfterDeleteAhead(Memo& memo, std::size_t gap_end, bool prefix_has_target);

  char* in_ = nullptr;
  std::size_t readable_past_end_ = 0;
  std::size_t r_ = 0;
  std::size_t e_ = 0;
  std::vector<char> out_;
  std::size_t w_ = 0;
  Memo comment_close_;
  Memo byte_gt_;
  Memo char_gt_;
  Memo char_quote_;
};

}  // namespace lowtags
