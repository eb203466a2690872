#include "convert/reference_converter.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "convert/converter.h"
#include "convert/engine.h"
#include "convert/width_tables.h"
#include "driver/command_line.h"
#include "support/fake_disk.h"
#include "support/text_reader.h"
#include "support/text_writer.h"
#include "test_support.h"

namespace lowtags::reference {
namespace {

using namespace std::string_view_literals;

constexpr std::size_t npos = std::string::npos;
constexpr std::size_t kPiece = 9999;
const std::string kPath = "page.htm";

bool IsLead(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 0x81 && u <= 0x9F) || (u >= 0xE0 && u <= 0xFC);
}

// The bytes a full piece at the start of `rest` takes on: the trail of a double-byte character
// that starts at its last byte (walking from its first), else the rest of a comment mark that the
// cut would split ("<!--" looked for first).
std::size_t Overhang(std::string_view rest) {
  std::size_t i = 0;
  while (i < kPiece - 1) i += IsLead(rest[i]) && rest[i + 1] != '\0' ? 2 : 1;
  if (i == kPiece - 1 && IsLead(rest[i]) && rest.size() > kPiece) return 1;
  for (const std::string_view mark : {"<!--"sv, "-->"sv}) {
    for (std::size_t in_piece = 1; in_piece < mark.size(); ++in_piece) {
      if (rest.substr(kPiece - in_piece, mark.size()) == mark) return mark.size() - in_piece;
    }
  }
  return 0;
}

// Pieces end after a newline or at kPiece bytes, and then take on their overhang.
std::vector<std::string> CutPieces(std::string_view text) {
  std::vector<std::string> pieces;
  for (std::size_t pos = 0; pos < text.size(); pos += pieces.back().size()) {
    const std::string_view rest = text.substr(pos);
    std::size_t n = std::min({rest.find('\n'), rest.size() - 1, kPiece - 1}) + 1;
    if (n == kPiece && rest[n - 1] != '\n') n += Overhang(rest);
    pieces.emplace_back(rest.substr(0, n));
  }
  return pieces;
}

// The scan of one file, editing each piece's text (up to any NUL) in place.
class Scanner {
 public:
  explicit Scanner(const OptionSet& options) : opt_(options) {}

  // False when a bracket error stopped the file (the message is in the output).
  bool Line(std::string_view piece) {
    s_ = piece.substr(0, piece.find('\0'));
    ++line_no_;
    return Scan();
  }
  bool Finish() {
    if (!in_tag_ || opt_.ignore_brackets) return true;
    out += kPath + ": '<' unmatch to '>'\n";
    return false;
  }
  std::string out;

 private:
  char At(std::size_t i) const { return i < s_.size() ? s_[i] : '\0'; }
  std::string_view From(std::size_t p) const {
    return std::string_view(s_).substr(std::min(p, s_.size()));
  }
  // The text at p is `upper`, or `upper` with every capital small.
  bool Cased(std::size_t p, std::string_view upper) const {
    std::string lower(upper);
    for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return From(p).starts_with(upper) || From(p).starts_with(lower);
  }
  std::size_t Step(std::size_t p) const {
    return IsLead(At(p)) && p + 1 < s_.size() ? p + 2 : p + 1;
  }
  // The first character c (whole characters from `from`) before `end`; the last one when `last`.
  std::size_t FindChar(std::size_t from, char c, bool last = false, std::size_t end = npos) const {
    std::size_t found = npos;
    for (std::size_t i = from; i < end && i < s_.size(); i = Step(i)) {
      if (s_[i] == c && (found = i, !last)) break;
    }
    return found;
  }
  // Offset in a table of two-byte entries of the entry at p, or the table's size.
  std::size_t PairAt(std::string_view table, std::size_t p) const {
    std::size_t i = 0;
    while (i < table.size() && !From(p).starts_with(table.substr(i, 2))) i += 2;
    return i;
  }

  bool Scan();
  bool Markup(std::size_t& p);
  void InTag(std::size_t& p);
  bool TagRules(std::size_t p);
  bool AttributeRules(std::size_t p);
  void Widen(std::size_t p);
  bool Fail(std::string_view tail);

  const OptionSet& opt_;
  std::string s_;
  bool in_comment_ = false, in_tag_ = false, in_quote_ = false, in_pre_ = false;
  bool in_link_ = false, prev_line_closed_ = false;
  int line_no_ = 0;
};

bool Scanner::Scan() {
  std::size_t p = 0;
  while (At(p) != '\n' && At(p) != '\0') {
    if (From(p).starts_with("<!--") || From(p).starts_with("-->")) {
      in_comment_ = At(p) == '<';
      const std::size_t n = in_comment_ ? 4 : 3;
      opt_.strip_comments ? void(s_.erase(p, n)) : void(p += n);
    } else if (in_comment_ && !opt_.strip_comments) {
      p = Step(p);
    } else if (in_comment_) {
      const std::size_t close = s_.find("-->", p);
      if (close == npos) {
        s_.resize(p);
        break;
      }
      s_.erase(p, close - p);
    } else if (!Markup(p)) {
      return false;
    }
  }
  if (At(p) != '\n') {
    prev_line_closed_ = false;
  } else if (opt_.join_lines && p != 0 && !in_pre_) {
    prev_line_closed_ = At(p - 1) == '>';
    if (!prev_line_closed_) s_.resize(p);
  }
  out += s_;
  return true;
}

// Outside comments. False when a bracket error stops the file.
bool Scanner::Markup(std::size_t& p) {
  if (Cased(p, "<PRE>")) in_pre_ = true;
  if (Cased(p, "</PRE>")) in_pre_ = false;
  if (opt_.join_lines && p == 0 && Cased(0, "<P>")) {
    // A paragraph starts a line unless only blanks follow it to the end of the text.
    std::size_t q = 3;
    while (At(q) == ' ' || At(q) == '\t' || From(q).starts_with("\x81\x40"))
      q += At(q) == '\x81' ? 2 : 1;
    if (q < s_.size() && !prev_line_closed_) out += '\n';
  }
  if (At(p) == '<') {
    in_quote_ = false;
    if (in_tag_ && !opt_.ignore_brackets) return Fail("'<' does not close.\n");
    in_tag_ = true;
    if (!TagRules(p)) ++p;
  } else if (At(p) == '>') {
    if (!in_tag_ && !opt_.ignore_brackets) return Fail("'>' does not correspond with '<'.\n");
    in_tag_ = in_link_ = false;
    ++p;
  } else if (in_tag_) {
    InTag(p);
  } else {
    Widen(p);
    p = Step(p);
  }
  return true;
}

void Scanner::InTag(std::size_t& p) {
  in_quote_ ^= At(p) == '"';
  if (!in_quote_ && AttributeRules(p)) return;
  if (!in_quote_ && At(p) == '#') {
    // A newline does not end the token; a lead byte swallows whatever byte follows it.
    for (++p; At(p) != '>' && At(p) != ' ' && At(p) != '\t' && At(p) != '\0';) p = Step(p);
    return;
  }
  const char c = At(p);
  const bool fold = opt_.upper_case ? c >= 'a' && c <= 'z' : c >= 'A' && c <= 'Z';
  if (!in_quote_ && fold) s_[p] = static_cast<char>(c ^ 0x20);
  p = Step(p);
}

// Tried in order, the first that matches wins: a removal whose '>' is missing skips the rest.
constexpr std::pair<bool OptionSet::*, std::string_view> kRemovals[] = {
    {&OptionSet::strip_links, "<A"},         {&OptionSet::strip_links, "</A>"},
    {&OptionSet::strip_img, "<IMG"},         {&OptionSet::strip_font, "<FONT"},
    {&OptionSet::strip_bgsound, "<BGSOUND"}, {&OptionSet::strip_font, "</FONT>"}};

bool Scanner::TagRules(std::size_t p) {
  // "<A" names a link only when a blank, its '>' or the line's end follows.
  const bool names_link = " \t>\n\0"sv.find(At(p + 2)) != npos;
  for (const auto& [flag, tag] : kRemovals) {
    if (!(opt_.*flag) || !Cased(p, tag) || (tag == "<A" && !names_link)) continue;
    // Quotes and double-byte characters mean nothing to the search for '>'.
    const std::size_t end = tag.ends_with('>') ? p + tag.size() : s_.find('>', p + 1) + 1;
    if (end == 0) break;  // no '>': npos + 1
    s_.erase(p, end - p);
    in_tag_ = false;
    return true;
  }
  for (const std::string_view tag : {"<A"sv, "<FRAMESET"sv, "<BGSOUND"sv, "<IMG"sv}) {
    if (opt_.flatten_links && Cased(p, tag)) in_link_ = true;
  }
  return false;
}

// A reference is cut to its last path component, a bgcolor deleted, when the value's closing
// quote comes before any '>'.
bool Scanner::AttributeRules(std::size_t p) {
  if (in_link_ && (Cased(p, "SRC=\"") || Cased(p, "HREF=\""))) {
    const std::size_t value = FindChar(p, '"') + 1;
    const std::size_t close = FindChar(value, '"');
    if (close == npos || FindChar(p, '>') < close) return false;
    const std::size_t slash = FindChar(value, '/', true, close);
    if (slash != npos && slash != value && At(slash + 1) != '"') s_.erase(value, slash - value + 1);
    return false;
  }
  if (!opt_.strip_bgcolor || !Cased(p, "BGCOLOR=\"")) return false;
  const std::size_t close = FindChar(p + 9, '"');
  if (close == npos || FindChar(p, '>') < close) return false;
  s_.erase(p, close - p + 1);
  return true;
}

void Scanner::Widen(std::size_t p) {
  const auto c = static_cast<unsigned char>(At(p));
  if (opt_.kana_to_wide && c >= 0xA1 && c <= 0xDF) {
    const std::size_t v = PairAt(narrow_voiced, p);
    if (v < narrow_voiced.size())
      s_.replace(p, 2, wide_voiced.substr(v, 2));
    else
      s_.replace(p, 1, wide_kana.substr(narrow_kana.find(At(p)) * 2, 2));
    return;
  }
  const std::size_t i = PairAt(wide_alnum, p);
  const bool digit = i < 2 * kWideDigitCount;
  if (i == wide_alnum.size() || !(digit ? opt_.digits_to_narrow : opt_.letters_to_narrow)) return;
  s_.replace(p, 2, 1, narrow_alnum[i / 2]);
  // A full-width period, comma or minus after a narrowed digit and before a full-width one.
  const std::size_t m = PairAt("\x81\x44\x81\x43\x81\x7C", p + 1);
  if (digit && m < 6 && PairAt(wide_alnum, p + 3) < 2 * kWideDigitCount)
    s_.replace(p + 1, 2, 1, ".,-"[m / 2]);
}

// A message stops at 1024 bytes, looked at between steps; a line that does not fit whole is cut
// so that the message stands at 768 bytes.
bool Scanner::Fail(std::string_view tail) {
  std::string m = kPath + ":" + std::to_string(line_no_) + ": ";
  m += m.size() + s_.size() <= 1024 ? s_ : s_.substr(0, 768 - m.size());
  out += m + std::string(tail.substr(0, 1024 - m.size()));
  return false;
}

}  // namespace

std::string TextModeBytes(std::string_view file) {
  std::string text;
  bool after_cr = false;
  for (const char c : file.substr(0, file.find('\x1A'))) {
    if (after_cr && c != '\r' && c != '\n') text += '\n';
    after_cr = c == '\r';
    if (!after_cr) text += c;
  }
  return after_cr ? text + '\n' : text;
}

std::string ReferenceConvert(const OptionSet& options, std::string_view file_bytes, bool* failed) {
  Scanner scanner(options);
  const bool ok =
      std::ranges::all_of(CutPieces(TextModeBytes(file_bytes)),
                          [&](const std::string& piece) { return scanner.Line(piece); });
  if (failed != nullptr) *failed = !(ok && scanner.Finish());
  return scanner.out;
}

std::string WithCrLf(std::string_view lf_text) {
  std::string out;
  for (const char c : lf_text) out += c == '\n' ? "\r\n" : std::string(1, c);
  return out;
}

namespace {

// An engine, and a sink that takes plain writes or one that offers Room/Filled (the CR LF writer).
struct Route {
  Engine engine;
  bool room = false;
};

std::vector<Route> AllRoutes() {
  std::vector<Route> routes;
  for (const Engine& engine : AvailableEngines())
    routes.insert(routes.end(), {{engine}, {engine, true}});
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
  disk.set_read_chunk(std::max<std::size_t>(read_chunk, 1));
  int in = -1;
  int out = -1;
  disk.OpenRead(kPath, &in);
  disk.OpenWrite("out", &out);
  PieceReader input(disk, in);
  testing::StringSink writes;
  std::optional<TextWriter> room;
  if (route.room) room.emplace(disk, out);
  ByteSink& sink = route.room ? static_cast<ByteSink&>(*room) : writes;
  const ConvResult result = Converter(options, route.engine).Convert(input, kPath, sink);
  if (failed != nullptr) *failed = result != ConvResult::kConverted;
  if (!route.room) return writes.text;
  room->Flush();
  return disk.Contents("out").value_or("(no file)");
}

std::string Escape(std::string_view bytes) {
  std::string s;
  for (const char c : bytes) {
    char octal[5];
    std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
    s += c == '\n'                                       ? "\\n"
         : c >= ' ' && c < 0x7F && c != '"' && c != '\\' ? std::string(1, c)
                                                         : octal;
  }
  return s;
}

}  // namespace

std::string Difference(const OptionSet& options, std::string_view file_bytes,
                       std::size_t read_chunk) {
  bool want_failed = false;
  const std::string reference = ReferenceConvert(options, file_bytes, &want_failed);
  for (const Route& route : AllRoutes()) {
    bool failed = !want_failed;
    const std::string want = route.room ? WithCrLf(reference) : reference;
    const std::string got = ProductionConvert(route, options, file_bytes, &failed, read_chunk);
    if (got == want && failed == want_failed) continue;
    const auto shown = [](std::string_view bytes) {
      return '"' + Escape(bytes).substr(0, 4000) + '"';
    };
    return NameOf(route) + " differs\n  input:      " + shown(file_bytes) +
           "\n  reference:  " + shown(want) + " failed=" + std::to_string(want_failed) +
           "\n  production: " + shown(got) + " failed=" + std::to_string(failed);
  }
  return "";
}

OptionSet OptionsFromLetters(std::string_view letters) {
  const std::string group = "-" + std::string(letters);
  const char* const args[] = {group.c_str(), "x"};
  return ParseCommandLine(args).options;
}

}  // namespace lowtags::reference
