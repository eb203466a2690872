#include "convert/charset_declaration.h"

#include <array>
#include <vector>

#include "support/sjis.h"

namespace lowtags {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool StartsNoCase(std::string_view text, std::size_t at, std::string_view prefix) {
  return text.size() - at >= prefix.size() && EqualNoCase(text.substr(at, prefix.size()), prefix);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// A tag name ends at a blank, at the tag's end, or at a '/' before it.
bool EndsName(std::string_view text, std::size_t at) {
  return at == text.size() || IsSpace(text[at]) || text[at] == '>' || text[at] == '/';
}

// Positions in the text: [begin, end).
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool empty() const { return begin == end; }
};

struct Attribute {
  std::string_view name;
  Span value;  // without its quotes
};

struct Tag {
  std::vector<Attribute> attributes;
  std::size_t end = std::string_view::npos;  // just past its '>'; npos when it does not end
};

// The attributes from `at` to the tag's '>'. Every byte that delimits them is below 0x40, where
// no second byte of a double-byte character lies, so the walk may go byte by byte.
Tag ReadTag(std::string_view text, std::size_t at) {
  Tag tag;
  const std::size_t n = text.size();
  while (at < n) {
    while (at < n && (IsSpace(text[at]) || text[at] == '/' || text[at] == '?')) ++at;
    if (at == n) break;
    if (text[at] == '>') {
      tag.end = at + 1;
      break;
    }
    const std::size_t name_begin = at;
    while (at < n && !IsSpace(text[at]) && text[at] != '=' && text[at] != '>') ++at;
    Attribute attribute{text.substr(name_begin, at - name_begin), {at, at}};
    std::size_t look = at;
    while (look < n && IsSpace(text[look])) ++look;
    if (look < n && text[look] == '=') {
      at = look + 1;
      while (at < n && IsSpace(text[at])) ++at;
      if (at < n && (text[at] == '"' || text[at] == '\'')) {
        const std::size_t close = text.find(text[at], at + 1);
        if (close == std::string_view::npos) break;
        attribute.value = {at + 1, close};
        at = close + 1;
      } else {
        const std::size_t begin = at;
        while (at < n && !IsSpace(text[at]) && text[at] != '>') ++at;
        attribute.value = {begin, at};
      }
    }
    tag.attributes.push_back(attribute);
  }
  return tag;
}

const Attribute* Find(const Tag& tag, std::string_view name) {
  for (const Attribute& a : tag.attributes) {
    if (EqualNoCase(a.name, name)) return &a;
  }
  return nullptr;
}

// The name after "charset=" in a content value such as "text/html; charset=Shift_JIS".
Span CharsetInContent(std::string_view text, Span value) {
  const std::string_view content = text.substr(value.begin, value.end - value.begin);
  for (std::size_t i = 0; i < content.size(); i += CharLength(content, i)) {
    if (!StartsNoCase(content, i, "charset")) continue;
    std::size_t at = i + 7;
    while (at < content.size() && IsSpace(content[at])) ++at;
    if (at == content.size() || content[at] != '=') continue;
    ++at;
    while (at < content.size() && IsSpace(content[at])) ++at;
    std::size_t end = at;
    while (end < content.size() && !IsSpace(content[end]) && content[end] != ';') ++end;
    return {value.begin + at, value.begin + end};
  }
  return {};
}

class Declarations {
 public:
  explicit Declarations(std::string_view text) : text_(text) {}

  // The encoding a tag declares, if it declares one.
  void Note(Span name) {
    if (name.empty()) return;
    declared_ = true;
    if (NamesShiftJis(text_.substr(name.begin, name.end - name.begin))) names_.push_back(name);
  }
  void NoteUnfinished() { declared_ = true; }
  void NoteHeadEnd(std::size_t at) {
    if (head_tag_end_ == std::string_view::npos) head_tag_end_ = at;
  }

  std::string Rewritten() const {
    std::string out;
    out.reserve(text_.size() + 32);
    std::size_t copied = 0;
    const auto copy_to = [&](std::size_t at) {
      out.append(text_, copied, at - copied);
      copied = at;
    };
    const bool insert = !declared_ && head_tag_end_ != std::string_view::npos;
    for (const Span& name : names_) {
      copy_to(name.begin);
      out += "UTF-8";
      copied = name.end;
    }
    if (insert) {
      copy_to(head_tag_end_);
      out += "<meta charset=\"UTF-8\">";
    }
    copy_to(text_.size());
    return out;
  }

 private:
  std::string_view text_;
  std::vector<Span> names_;  // in text order
  bool declared_ = false;
  std::size_t head_tag_end_ = std::string_view::npos;
};

// Reads the tag at `at` (a '<'); returns where the walk goes on.
std::size_t ReadMarkup(std::string_view text, std::size_t at, Declarations& found) {
  if (StartsNoCase(text, at, "<?xml") && EndsName(text, at + 5)) {
    const Tag tag = ReadTag(text, at + 5);
    if (const Attribute* encoding = Find(tag, "encoding")) found.Note(encoding->value);
    return tag.end;
  }
  if (StartsNoCase(text, at, "<meta") && EndsName(text, at + 5)) {
    const Tag tag = ReadTag(text, at + 5);
    if (tag.end == std::string_view::npos) {
      // Cut off where the head was decided: it may be a declaration, so none is added.
      found.NoteUnfinished();
      return tag.end;
    }
    if (const Attribute* charset = Find(tag, "charset")) found.Note(charset->value);
    const Attribute* equiv = Find(tag, "http-equiv");
    const Attribute* content = Find(tag, "content");
    if (equiv != nullptr && content != nullptr &&
        EqualNoCase(text.substr(equiv->value.begin, equiv->value.end - equiv->value.begin),
                    "content-type")) {
      found.Note(CharsetInContent(text, content->value));
    }
    return tag.end;
  }
  if (StartsNoCase(text, at, "<head") && EndsName(text, at + 5)) {
    const Tag tag = ReadTag(text, at + 5);
    if (tag.end != std::string_view::npos) found.NoteHeadEnd(tag.end);
    return tag.end;
  }
  return at + 1;
}

}  // namespace

bool HoldsHeadEnd(std::string_view text, std::size_t from) {
  for (std::size_t at = text.find('<', from); at != std::string_view::npos;
       at = text.find('<', at + 1)) {
    if (StartsNoCase(text, at, "</head") || StartsNoCase(text, at, "<body")) return true;
  }
  return false;
}

bool NamesShiftJis(std::string_view name) {
  static constexpr std::array<std::string_view, 7> kNames = {
      "Shift_JIS", "shift-jis", "SJIS", "x-sjis", "Windows-31J", "CP932", "MS_Kanji"};
  for (const std::string_view known : kNames) {
    if (EqualNoCase(name, known)) return true;
  }
  return false;
}

std::string DeclareUtf8(std::string_view head) {
  Declarations found(head);
  std::size_t at = 0;
  while (at < head.size()) {
    if (head.compare(at, 4, "<!--") == 0) {
      const std::size_t close = head.find("-->", at + 4);
      if (close == std::string_view::npos) break;
      at = close + 3;
    } else if (head[at] == '<') {
      at = ReadMarkup(head, at, found);
    } else {
      at += CharLength(head, at);
    }
  }
  return found.Rewritten();
}

}  // namespace lowtags
