// What the bytes of markup do to the state, for every engine: the character rules and the block
// walk both move through comments, tags and quoted values by this one function.
#pragma once

#include <cstddef>
#include <string_view>

#include "convert/conv_state.h"

namespace lowtags {

// Where in the markup the state stands.
enum class Place {
  kText,
  kTag,
  kQuoted,
  kComment,
  kUnquoted,  // in a tag whose quotes were never set: none opens there, and no '#' token
};

constexpr Place PlaceOf(const ConvState& state) {
  if (state.in_comment != 0) return Place::kComment;
  if (state.in_tag == 0) return Place::kText;
  if (state.quote_state == 1) return Place::kQuoted;
  return state.quote_state == -1 ? Place::kTag : Place::kUnquoted;
}

enum class Mark {
  kText,          // no markup: the byte passes as text
  kCommentOpen,   // "<!--", four bytes; it opens a comment even inside a tag
  kCommentClose,  // "-->", three bytes, wherever it stands
  kTagOpen,       // '<' outside a comment
  kTagClose,      // '>' in a tag; a quoted value does not hide it
  kQuote,         // '"' in a tag: a quoted value opens or closes
  kHashToken,     // '#' in a tag outside quotes: a token to pass whole
  // The bracket errors, last: the state is left as it was.
  kSecondOpen,  // '<' in a tag
  kStrayClose,  // '>' outside any tag
};
constexpr bool IsBracketError(Mark mark) { return mark >= Mark::kSecondOpen; }

// The steps of the marks, for loops that already know which mark they stand at.
inline void OpenTag(ConvState& state) {
  state.quote_state = -1;  // a tag's quotes begin closed
  state.in_tag = 1;
}
inline void CloseTag(ConvState& state) {
  state.in_tag = 0;
  state.link_kind = 0;
}
inline void FlipQuote(ConvState& state) { state.quote_state = -state.quote_state; }

// A mark, the bytes it takes (a '#' token's are the caller's to measure) and the place after it.
struct Step {
  Mark mark;
  std::size_t length;
  Place place;
};

// The mark that starts `text` (not empty) at `place`, which is PlaceOf(state), with `state`
// moved past it. Comments come before any tag logic, and inside one only its marks count.
// Without `check_brackets` a '<' in a tag opens one anew and a '>' outside closes one.
inline Step Transition(std::string_view text, Place place, bool check_brackets, ConvState& state) {
  const char c = text[0];
  if (c == '<' && text.starts_with("<!--")) {
    state.in_comment = 1;
    return {Mark::kCommentOpen, 4, Place::kComment};
  }
  if (c == '-' && text.starts_with("-->")) {
    state.in_comment = 0;
    return {Mark::kCommentClose, 3, PlaceOf(state)};
  }
  if (place == Place::kComment) return {Mark::kText, 1, place};
  const bool in_tag = place != Place::kText;
  if (c == '<') {
    if (in_tag && check_brackets) return {Mark::kSecondOpen, 0, place};
    OpenTag(state);
    return {Mark::kTagOpen, 1, Place::kTag};
  }
  if (c == '>') {
    if (!in_tag && check_brackets) return {Mark::kStrayClose, 0, place};
    CloseTag(state);
    return {Mark::kTagClose, 1, Place::kText};
  }
  if (c == '"' && in_tag) {
    FlipQuote(state);
    const Place flipped = place == Place::kTag ? Place::kQuoted : Place::kTag;
    return {Mark::kQuote, 1, place == Place::kUnquoted ? place : flipped};
  }
  if (c == '#' && place == Place::kTag) return {Mark::kHashToken, 0, place};
  return {Mark::kText, 1, place};
}

}  // namespace lowtags
