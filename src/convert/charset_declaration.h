// The declarations of a page's encoding, turned from Shift_JIS to UTF-8. They stand in the
// head, near the start, so only the head is looked at: the text up to its end, or a bound.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lowtags {

// The head of a page is taken to end at the first "</head" or "<body", in any case. A page
// that shows neither within this many bytes is decided on those bytes.
inline constexpr std::size_t kHeadBound = 64 * 1024;

// True when text holds "</head" or "<body" in any case, starting at or after `from`.
bool HoldsHeadEnd(std::string_view text, std::size_t from);

// True when the encoding name is one of Shift_JIS's: Shift_JIS, shift-jis, SJIS, x-sjis,
// Windows-31J, CP932 or MS_Kanji, in any case.
bool NamesShiftJis(std::string_view name);

// The head with the encoding named by <meta charset=...>, by the charset of <meta
// http-equiv="Content-Type" content="...">, and by encoding="..." of <?xml ...?> made UTF-8
// where it is Shift_JIS; tags and values in any case, quoted or not, spread over lines or not.
// Comments are passed over. When none of them declares any encoding, <meta charset="UTF-8">
// is put right after the page's <head> tag, if it has one.
std::string DeclareUtf8(std::string_view head);

}  // namespace lowtags
