#include "convert/line_edit.h"

#include "support/sjis_search.h"

namespace lowtags {

void LineEdit::Reset(std::span<char> text, std::size_t readable_past_end) {
  in_ = text.data();
  readable_past_end_ = readable_past_end;
  r_ = 0;
  e_ = text.size();
  if (out_.size() < 2 * e_ + 2 + kOutputSlack) out_.resize(2 * e_ + 2 + kOutputSlack);
  w_ = 0;
  comment_close_ = byte_gt_ = char_gt_ = char_quote_ = Memo{};
}

std::string LineEdit::Text() const {
  std::string text(Converted());
  text.append(Rest());
  return text;
}

std::size_t LineEdit::Answer(Memo& memo, std::size_t q, std::size_t found) {
  memo = Memo{true, q, found};
  return found == e_ ? npos : found - r_;
}

std::size_t LineEdit::FindCommentClose() {
  const std::size_t q = r_;
  if (comment_close_.Answers(q)) {
    return comment_close_.found == e_ ? npos : comment_close_.found - r_;
  }
  std::size_t s = q + 2;
  while (s < e_) {
    const void* hit = std::memchr(in_ + s, '>', e_ - s);
    if (hit == nullptr) break;
    const std::size_t x = static_cast<std::size_t>(static_cast<const char*>(hit) - in_);
    if (in_[x - 1] == '-' && in_[x - 2] == '-') return Answer(comment_close_, q, x - 2);
    s = x + 1;
  }
  return Answer(comment_close_, q, e_);
}

std::size_t LineEdit::FindGtByte(std::size_t from) {
  const std::size_t q = r_ + from;
  // Most tags are short: a few bytes are looked at before the memo or a call. What the memo
  // says stays true; it is only not extended.
  for (std::size_t i = q; i < e_ && i < q + 16; ++i) {
    if (in_[i] == '>') return i - r_;
  }
  if (byte_gt_.Answers(q)) return byte_gt_.found == e_ ? npos : byte_gt_.found - r_;
  const std::size_t from_here = q + 16 < e_ ? q + 16 : e_;
  const void* hit = std::memchr(in_ + from_here, '>', e_ - from_here);
  const std::size_t found =
      hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - in_) : e_;
  return Answer(byte_gt_, q, found);
}

std::size_t LineEdit::FindChar(char c, std::size_t from) {
  Memo& memo = c == '>' ? char_gt_ : char_quote_;
  const std::size_t q = r_ + from;
  // The position always starts a character, and so does `from` for every caller; a byte outside
  // the lead ranges ends a character, so a remembered answer holds for any later start before it.
  if (memo.Answers(q)) return memo.found == e_ ? npos : memo.found - r_;
  const std::size_t hit = q < e_ ? Strchr(std::string_view(in_ + q, e_ - q), c) : npos;
  return Answer(memo, q, hit == npos ? e_ : q + hit);
}

void LineEdit::AfterDeleteAhead(Memo& memo, std::size_t gap_end, bool prefix_has_target) {
  if (!memo.valid) return;
  if (memo.found < gap_end) {
    memo.valid = false;
  } else if (prefix_has_target && memo.from < gap_end) {
    memo.from = gap_end;
  }
}

void LineEdit::DeleteAhead(std::size_t from, std::size_t to) {
  const std::size_t gap = to - from;
  bakmov(std::span<char>(in_, e_), r_, r_ + gap, static_cast<int>(from));
  r_ += gap;
  // The bytes that moved are an attribute name ending in '"': no '>' and no "-->" among them.
  const std::size_t gap_end = r_ + from;
  AfterDeleteAhead(comment_close_, gap_end, false);
  AfterDeleteAhead(byte_gt_, gap_end, false);
  AfterDeleteAhead(char_gt_, gap_end, false);
  AfterDeleteAhead(char_quote_, gap_end, true);
}

}  // namespace lowtags
