#include "convert/reference_converter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <vector>

#include "convert/converter.h"
#include "convert/width_tables.h"
#include "support/fake_disk.h"
#include "support/text_reader.h"
#include "support/text_writer.h"

namespace lowtags::reference {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t kPiece = 9999;
// A piece is at most kPiece + 3 bytes, and every byte of it may become two (half-width kana).
constexpr std::size_t kLineCap = 2 * (kPiece + 3) + 2;
constexpr const char* kPath = "page.htm";

bool IsLead(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 0x81 && u <= 0x9F) || (u >= 0xE0 && u <= 0xFC);
}

// ---------------------------------------------------------------------------------------------
// Reading: text mode, then pieces.

// A run of CRs before an LF goes; any other run, the file's last included, is one LF.
std::string TextModeBytes(std::string_view file) {
  file = file.substr(0, file.find('\x1A'));
  std::string text;
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (file[i] != '\r') {
      text.push_back(file[i]);
      continue;
    }
    std::size_t j = i;
    while (j < file.size() && file[j] == '\r') ++j;
    if (j == file.size() || file[j] != '\n') text.push_back('\n');
    i = j - 1;
  }
  return text;
}

bool NamesLink(char after) {
  return after == ' ' || after == '\t' || after == '>' || after == '\n' || after == '\0';
}

// Bytes a piece cut at `cut` takes on so that "<!--" or "-->" is not split, "<!--" first.
std::size_t MarkerRest(std::string_view text, std::size_t cut) {
  for (const std::string_view marker : {std::string_view("<!--"), std::string_view("-->")}) {
    for (std::size_t in_piece = 1; in_piece < marker.size(); ++in_piece) {
      if (cut >= in_piece && text.substr(cut - in_piece, in_piece) == marker.substr(0, in_piece) &&
          text.substr(cut, marker.size() - in_piece) == marker.substr(in_piece)) {
        return marker.size() - in_piece;
      }
    }
  }
  return 0;
}

// True when byte `at` of the piece starts a character, walking from the piece's first byte.
bool StartsCharacter(std::string_view piece, std::size_t at) {
  std::size_t i = 0;
  while (i < at) i += (IsLead(piece[i]) && piece[i + 1] != '\0') ? 2 : 1;
  return i == at;
}

std::vector<std::string> CutPieces(std::string_view text) {
  std::vector<std::string> pieces;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t n = 0;
    while (pos + n < text.size() && n < kPiece) {
      ++n;
      if (text[pos + n - 1] == '\n') break;
    }
    const std::string_view piece = text.substr(pos, n);
    const bool full = n == kPiece && piece[n - 1] != '\n';
    if (full && IsLead(piece[n - 1]) && StartsCharacter(piece, n - 1) && pos + n < text.size()) {
      ++n;  // never split a double-byte character
    } else if (full) {
      n += MarkerRest(text.substr(pos), n);
    }
    pieces.emplace_back(text.substr(pos, n));
    pos += n;
  }
  return pieces;
}

// ---------------------------------------------------------------------------------------------
// The scan of one file.

struct State {
  int in_comment = 0;
  int in_tag = 0;
  int quote_state = 0;
  int in_pre = 0;
  int prev_line_closed = 0;
  int link_kind = 0;
  int line_no = 0;
};

class Scanner {
 public:
  explicit Scanner(const OptionSet& options) : opt_(options), line_(kLineCap, '\0') {}

  // False when a bracket error stopped the file (the message is in the output).
  bool Line(std::string_view piece);
  bool Finish();
  const std::string& out() const { return out_; }

 private:
  // Buffer primitives.
  char& At(std::size_t i) { return line_.at(i); }
  std::size_t Len(std::size_t from) { return std::strlen(&At(from)); }
  bool Starts(std::size_t p, std::string_view prefix);
  bool Pair(std::size_t p, std::string_view two) { return Starts(p, two.substr(0, 2)); }
  std::size_t Step(std::size_t p) { return (IsLead(At(p)) && At(p + 1) != '\0') ? p + 2 : p + 1; }
  void Delete(std::size_t p, std::size_t n);
  void OpenGapAfter(std::size_t p);
  std::size_t FirstChar(std::size_t from, char c);
  std::size_t LastCharBefore(std::size_t from, std::size_t end, char c);
  std::size_t FindBytes(std::size_t from, std::string_view what);

  // Rules; `true` from a rule means "re-examine the same position".
  bool Scan();
  void ParagraphStart();
  bool TagRules(std::size_t p);
  bool DeleteThroughGt(std::size_t p);
  bool AttributeRules(std::size_t p);
  void FlattenLink(std::size_t p);
  std::size_t HashTokenEnd(std::size_t p);
  void Fold(std::size_t p);
  void Widen(std::size_t p);
  void WidenKana(std::size_t p);
  void NarrowAlnum(std::size_t p);
  void EndOfLine(std::size_t p);
  bool Fail(std::string_view tail);
  void Emit(std::string_view bytes) { out_.append(bytes); }

  const OptionSet& opt_;
  std::vector<char> line_;
  State st_;
  std::string out_;
};

bool Scanner::Starts(std::size_t p, std::string_view prefix) {
  for (std::size_t k = 0; k < prefix.size(); ++k) {
    if (At(p + k) != prefix[k]) return false;  // the NUL mismatches, so this never runs past it
  }
  return true;
}

void Scanner::Delete(std::size_t p, std::size_t n) {
  std::memmove(&At(p), &At(p + n), Len(p + n) + 1);
}

// bakmov: the rest of the line after p, NUL included, moves up one byte, last byte first.
void Scanner::OpenGapAfter(std::size_t p) {
  const std::size_t count = Len(p + 1) + 1;
  if (p + 2 + count > line_.size()) throw std::logic_error("line buffer overflow");
  for (std::size_t k = count; k-- > 0;) At(p + 2 + k) = At(p + 1 + k);
}

// Strchr from `from`: compares the first byte of each character only.
std::size_t Scanner::FirstChar(std::size_t from, char c) {
  for (std::size_t i = from; At(i) != '\0'; i = Step(i)) {
    if (At(i) == c) return i;
  }
  return npos;
}

// Strrchr over the string that starts at `from` and ends at `end` (or an earlier NUL).
std::size_t Scanner::LastCharBefore(std::size_t from, std::size_t end, char c) {
  std::size_t last = npos;
  for (std::size_t i = from; i < end && At(i) != '\0'; i = Step(i)) {
    if (At(i) == c) last = i;
  }
  return last;
}

// Byte by byte, so a trail byte may begin the match.
std::size_t Scanner::FindBytes(std::size_t from, std::string_view what) {
  for (std::size_t i = from; At(i) != '\0'; ++i) {
    if (Starts(i, what)) return i;
  }
  return npos;
}

bool Scanner::Line(std::string_view piece) {
  std::memcpy(line_.data(), piece.data(), piece.size());
  At(piece.size()) = '\0';
  ++st_.line_no;
  return Scan();
}

bool Scanner::Scan() {
  std::size_t p = 0;
  while (At(p) != '\n' && At(p) != '\0') {
    if (Starts(p, "<!--")) {
      st_.in_comment = 1;
      if (opt_.strip_comments) {
        Delete(p, 4);
      } else {
        p += 4;
      }
      continue;
    }
    if (Starts(p, "-->")) {
      st_.in_comment = 0;
      if (opt_.strip_comments) {
        Delete(p, 3);
      } else {
        p += 3;
      }
      continue;
    }
    if (st_.in_comment) {
      if (!opt_.strip_comments) {
        p = Step(p);
        continue;
      }
      const std::size_t close = FindBytes(p, "-->");
      if (close == npos) {
        At(p) = '\0';
        break;
      }
      Delete(p, close - p);
      continue;
    }
    if (Starts(p, "<PRE>") || Starts(p, "<pre>")) {
      st_.in_pre = 1;
    } else if (Starts(p, "</PRE>") || Starts(p, "</pre>")) {
      st_.in_pre = 0;
    }
    if (opt_.join_lines && p == 0 && (Starts(0, "<p>") || Starts(0, "<P>"))) ParagraphStart();
    if (At(p) == '<') {
      st_.quote_state = -1;
      if (st_.in_tag && !opt_.ignore_brackets) return Fail("'<' does not close.\n");
      st_.in_tag = 1;
      if (TagRules(p)) continue;
      p = Step(p);
      continue;
    }
    if (At(p) == '>') {
      if (!st_.in_tag && !opt_.ignore_brackets) {
        return Fail("'>' does not correspond with '<'.\n");
      }
      st_.in_tag = 0;
      st_.link_kind = 0;
      p = Step(p);
      continue;
    }
    if (st_.in_tag) {
      if (At(p) == '"') st_.quote_state = -st_.quote_state;
      if (st_.quote_state == -1) {
        if (AttributeRules(p)) continue;
        if (At(p) == '#') {
          p = HashTokenEnd(p);
          continue;
        }
        Fold(p);
      }
      p = Step(p);
      continue;
    }
    Widen(p);
    p = Step(p);
  }
  EndOfLine(p);
  Emit(std::string_view(line_.data(), Len(0)));
  return true;
}

void Scanner::ParagraphStart() {
  std::size_t q = 3;
  for (;;) {
    if (At(q) == ' ' || At(q) == '\t') {
      ++q;
    } else if (Pair(q, "\x81\x40")) {
      q += 2;
    } else {
      break;
    }
  }
  if (At(q) != '\0' && st_.prev_line_closed == 0) Emit("\n");
}

bool Scanner::TagRules(std::size_t p) {
  // An else-chain: a removal whose '>' is missing skips the removals after it.
  bool deleted = false;
  if (opt_.strip_links && (Starts(p, "<A") || Starts(p, "<a")) && NamesLink(At(p + 2))) {
    deleted = DeleteThroughGt(p);
  } else if (opt_.strip_links && (Starts(p, "</a>") || Starts(p, "</A>"))) {
    Delete(p, 4);
    deleted = true;
  } else if (opt_.strip_img && (Starts(p, "<IMG") || Starts(p, "<img"))) {
    deleted = DeleteThroughGt(p);
  } else if (opt_.strip_font && (Starts(p, "<FONT") || Starts(p, "<font"))) {
    deleted = DeleteThroughGt(p);
  } else if (opt_.strip_bgsound && (Starts(p, "<BGSOUND") || Starts(p, "<bgsound"))) {
    deleted = DeleteThroughGt(p);
  } else if (opt_.strip_font && (Starts(p, "</FONT>") || Starts(p, "</font>"))) {
    Delete(p, 7);
    deleted = true;
  }
  if (deleted) {
    st_.in_tag = 0;
    return true;
  }
  if (opt_.flatten_links) {
    if (Starts(p, "<A") || Starts(p, "<a") || Starts(p, "<FRAMESET") || Starts(p, "<frameset") ||
        Starts(p, "<BGSOUND") || Starts(p, "<bgsound")) {
      st_.link_kind = 1;
    } else if (Starts(p, "<IMG") || Starts(p, "<img")) {
      st_.link_kind = 2;
    }
  }
  return false;
}

// Quotes and double-byte characters mean nothing to this search.
bool Scanner::DeleteThroughGt(std::size_t p) {
  for (std::size_t q = p + 1; At(q) != '\0'; ++q) {
    if (At(q) == '>') {
      Delete(p, q - p + 1);
      return true;
    }
  }
  return false;
}

bool Scanner::AttributeRules(std::size_t p) {
  if ((st_.link_kind == 1 || st_.link_kind == 2) &&
      (Starts(p, "SRC=\"") || Starts(p, "src=\"") || Starts(p, "HREF=\"") ||
       Starts(p, "href=\""))) {
    FlattenLink(p);
    return false;
  }
  if (opt_.strip_bgcolor && (Starts(p, "bgcolor=\"") || Starts(p, "BGCOLOR=\""))) {
    const std::size_t gt = FirstChar(p, '>');
    const std::size_t close = FirstChar(p + 9, '"');
    if (close != npos && (gt == npos || gt > close)) {
      Delete(p, close - p + 1);
      return true;
    }
  }
  return false;
}

void Scanner::FlattenLink(std::size_t p) {
  const std::size_t gt = FirstChar(p, '>');
  const std::size_t value = FirstChar(p, '"') + 1;
  const std::size_t close = FirstChar(value, '"');
  if (close == npos || (gt != npos && gt < close)) return;
  const std::size_t slash = LastCharBefore(value, close, '/');
  if (slash != npos && slash != value && At(slash + 1) != '"') {
    Delete(value, slash - value + 1);
  }
}

// A newline does not end the token; a lead byte swallows whatever byte follows it.
std::size_t Scanner::HashTokenEnd(std::size_t p) {
  std::size_t q = p + 1;
  while (At(q) != '>' && At(q) != ' ' && At(q) != '\t' && At(q) != '\0') q = Step(q);
  return q;
}

void Scanner::Fold(std::size_t p) {
  const char c = At(p);
  if (!opt_.upper_case && c >= 'A' && c <= 'Z') At(p) = static_cast<char>(c + 32);
  if (opt_.upper_case && c >= 'a' && c <= 'z') At(p) = static_cast<char>(c - 32);
}

void Scanner::Widen(std::size_t p) {
  const auto c = static_cast<unsigned char>(At(p));
  if (opt_.kana_to_wide && c >= 0xA1 && c <= 0xDF) {
    WidenKana(p);
  } else if ((opt_.digits_to_narrow || opt_.letters_to_narrow) && IsLead(At(p))) {
    NarrowAlnum(p);
  }
}

void Scanner::WidenKana(std::size_t p) {
  const auto mark = static_cast<unsigned char>(At(p + 1));
  if (mark == 0xDE || mark == 0xDF) {
    for (std::size_t i = 0; i * 2 < narrow_voiced.size(); ++i) {
      if (Pair(p, narrow_voiced.substr(i * 2, 2))) {
        At(p) = wide_voiced[i * 2];
        At(p + 1) = wide_voiced[i * 2 + 1];
        return;
      }
    }
  }
  const std::size_t i = narrow_kana.find(At(p));
  OpenGapAfter(p);
  At(p) = wide_kana.at(i * 2);
  At(p + 1) = wide_kana.at(i * 2 + 1);
}

void Scanner::NarrowAlnum(std::size_t p) {
  std::size_t i = 0;
  while (i * 2 < wide_alnum.size() && !Pair(p, wide_alnum.substr(i * 2, 2))) ++i;
  if (i * 2 >= wide_alnum.size()) return;
  const bool digit = i < 10;
  if (!((opt_.digits_to_narrow && digit) || (opt_.letters_to_narrow && !digit))) return;
  At(p) = narrow_alnum[i];
  Delete(p + 1, 1);
  if (!(At(p) >= '0' && At(p) <= '9')) return;
  static constexpr std::string_view kMarks[] = {"\x81\x44", "\x81\x43", "\x81\x7C"};
  static constexpr char kAscii[] = {'.', ',', '-'};
  for (std::size_t m = 0; m < 3; ++m) {
    if (!Pair(p + 1, kMarks[m])) continue;
    for (std::size_t d = 0; d < 10; ++d) {
      if (Pair(p + 3, wide_alnum.substr(d * 2, 2))) {
        At(p + 1) = kAscii[m];
        Delete(p + 2, 1);
        return;
      }
    }
  }
}

void Scanner::EndOfLine(std::size_t p) {
  if (At(p) != '\n') {
    st_.prev_line_closed = 0;
    return;
  }
  if (opt_.join_lines && p != 0 && st_.in_pre == 0) {
    if (At(p - 1) == '>') {
      st_.prev_line_closed = 1;
    } else {
      At(p) = '\0';
      st_.prev_line_closed = 0;
    }
  }
}

// A message stops at 1024 bytes, looked at between steps; a line that does not fit whole is cut
// so that the message stands at 768 bytes.
bool Scanner::Fail(std::string_view tail) {
  std::string m = std::string(kPath) + ":" + std::to_string(st_.line_no) + ": ";
  const std::string_view text = line_.data();
  if (m.size() + text.size() <= 1024) {
    m += text;
  } else if (m.size() < 768) {
    m += text.substr(0, 768 - m.size());
  }
  for (std::size_t i = 0; i < tail.size() && m.size() < 1024; ++i) m += tail[i];
  Emit(m);
  return false;
}

bool Scanner::Finish() {
  if (st_.in_tag && !opt_.ignore_brackets) Emit(std::string(kPath) + ": '<' unmatch to '>'\n");
  return !st_.in_tag || opt_.ignore_brackets;
}

// The flag of each letter of kOptionLetters, in the same order.
constexpr bool OptionSet::*kFlags[] = {
    &OptionSet::letters_to_narrow, &OptionSet::strip_bgcolor,   &OptionSet::upper_case,
    &OptionSet::strip_links,       &OptionSet::ignore_brackets, &OptionSet::join_lines,
    &OptionSet::kana_to_wide,      &OptionSet::strip_img,       &OptionSet::digits_to_narrow,
    &OptionSet::strip_font,        &OptionSet::strip_comments,  &OptionSet::strip_bgsound,
    &OptionSet::flatten_links};
static_assert(std::size(kFlags) == kOptionLetters.size());

class StringSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

}  // namespace

std::string ReferenceConvert(const OptionSet& options, std::string_view file_bytes, bool* failed) {
  Scanner scanner(options);
  bool ok = true;
  for (const std::string& piece : CutPieces(TextModeBytes(file_bytes))) {
    ok = scanner.Line(piece);
    if (!ok) break;
  }
  if (ok) ok = scanner.Finish();
  if (failed != nullptr) *failed = !ok;
  return scanner.out();
}

std::vector<Route> AllRoutes() {
  std::vector<Route> routes;
  for (const Engine& engine : AvailableEngines()) {
    routes.push_back({engine, false});
    routes.push_back({engine, true});
  }
  return routes;
}

std::string NameOf(const Route& route) {
  return NameOf(route.engine) + (route.room ? "_room" : "_writes");
}

std::string ProductionConvert(const Route& route, const OptionSet& options,
                              std::string_view file_bytes, bool* failed, std::size_t read_chunk) {
  FakeDisk disk;
  disk.AddFile(kPath, file_bytes);
  disk.AddFile("out", "");
  disk.set_read_chunk(read_chunk == 0 ? 1 : read_chunk);
  int in = -1;
  int out = -1;
  disk.OpenRead(kPath, &in);
  disk.OpenWrite("out", &out);
  PieceReader input(disk, in);
  StringSink writes;
  std::optional<TextWriter> room;
  if (route.room) room.emplace(disk, out);
  ByteSink& sink = route.room ? static_cast<ByteSink&>(*room) : writes;
  const ConvResult result = Converter(options, route.engine).Convert(input, kPath, sink);
  if (failed != nullptr) *failed = result != ConvResult::kConverted;
  if (!route.room) return writes.text;
  room->Flush();
  return disk.Contents("out").value_or("(no file)");
}

std::string AsWritten(const Route& route, std::string_view lf_text) {
  std::string out;
  for (const char c : lf_text) {
    if (c == '\n' && route.room) out += '\r';
    out += c;
  }
  return out;
}

OptionSet OptionsFromLetters(std::string_view letters) {
  OptionSet o;
  for (char c : letters) {
    const std::size_t i = kOptionLetters.find(c);
    if (i == npos) throw std::invalid_argument("option letter");
    o.*kFlags[i] = true;
  }
  return o;
}

std::string LettersOf(const OptionSet& o) {
  std::string letters;
  for (std::size_t i = 0; i < kOptionLetters.size(); ++i) {
    if (o.*kFlags[i]) letters.push_back(kOptionLetters[i]);
  }
  return letters;
}

std::string Escape(std::string_view bytes) {
  static constexpr char kOctal[] = "01234567";
  std::string s;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      s += "\\n";
    } else if (c == '"' || c == '\\') {
      s += '\\';
      s += ch;
    } else if (c >= 0x20 && c < 0x7F) {
      s += ch;
    } else {
      s += '\\';
      s += kOctal[c >> 6];
      s += kOctal[(c >> 3) & 7];
      s += kOctal[c & 7];
    }
  }
  return s;
}

}  // namespace lowtags::reference
