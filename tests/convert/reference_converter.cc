#include "convert/reference_converter.h"

#include <cstring>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <utility>

#include "convert/converter.h"
#include "convert/width_tables.h"
#include "support/fake_disk.h"
#include "support/text_reader.h"
#include "support/text_writer.h"
#include "test_support.h"

namespace lowtags::reference {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t kPiece = 9999;
constexpr const char* kPath = "page.htm";

bool IsLead(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 0x81 && u <= 0x9F) || (u >= 0xE0 && u <= 0xFC);
}

// Text mode: the file ends at 0x1A; a run of CRs before an LF goes; any other run, the file's
// last included, is one LF.
std::string TextModeBytes(std::string_view file) {
  file = file.substr(0, file.find('\x1A'));
  std::string text;
  for (std::size_t i = 0; i < file.size(); ++i) {
    std::size_t j = i;
    while (j < file.size() && file[j] == '\r') ++j;
    if (j == i) {
      text.push_back(file[i]);
    } else {
      if (j == file.size() || file[j] != '\n') text.push_back('\n');
      i = j - 1;
    }
  }
  return text;
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

// Pieces end after a newline or at kPiece bytes; a full piece never splits a double-byte
// character (walking from its first byte) nor a comment mark.
std::vector<std::string> CutPieces(std::string_view text) {
  std::vector<std::string> pieces;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t newline = text.find('\n', pos);
    std::size_t n = std::min(newline == npos ? text.size() - pos : newline + 1 - pos, kPiece);
    if (n == kPiece && text[pos + n - 1] != '\n') {
      std::size_t i = 0;
      while (i < n - 1) i += IsLead(text[pos + i]) && text[pos + i + 1] != '\0' ? 2 : 1;
      const bool lead_starts = i == n - 1 && IsLead(text[pos + i]) && pos + n < text.size();
      n += lead_starts ? 1 : MarkerRest(text.substr(pos), n);
    }
    pieces.emplace_back(text.substr(pos, n));
    pos += n;
  }
  return pieces;
}

// The scan of one file: each piece in a NUL-terminated buffer, edited in place.
class Scanner {
 public:
  explicit Scanner(const OptionSet& options) : opt_(options), line_(2 * (kPiece + 3) + 2, '\0') {}

  // False when a bracket error stopped the file (the message is in the output).
  bool Line(std::string_view piece) {
    std::memcpy(line_.data(), piece.data(), piece.size());
    At(piece.size()) = '\0';
    ++line_no_;
    return Scan();
  }
  bool Finish() {
    if (!in_tag_ || opt_.ignore_brackets) return true;
    out_ += std::string(kPath) + ": '<' unmatch to '>'\n";
    return false;
  }
  const std::string& out() const { return out_; }

 private:
  char& At(std::size_t i) { return line_.at(i); }
  std::size_t Len(std::size_t from) { return std::strlen(&At(from)); }
  // The NUL mismatches, so this never runs past the line.
  bool Starts(std::size_t p, std::string_view prefix) {
    for (std::size_t k = 0; k < prefix.size(); ++k) {
      if (At(p + k) != prefix[k]) return false;
    }
    return true;
  }
  bool Either(std::size_t p, std::string_view a, std::string_view b) {
    return Starts(p, a) || Starts(p, b);
  }
  std::size_t Step(std::size_t p) { return (IsLead(At(p)) && At(p + 1) != '\0') ? p + 2 : p + 1; }
  void Delete(std::size_t p, std::size_t n) { std::memmove(&At(p), &At(p + n), Len(p + n) + 1); }
  // The first character (whole characters, from `from`) that is c, before `end` or the NUL;
  // the last one when `last`.
  std::size_t FindChar(std::size_t from, char c, bool last = false, std::size_t end = npos) {
    std::size_t found = npos;
    for (std::size_t i = from; i < end && At(i) != '\0'; i = Step(i)) {
      if (At(i) == c && (found = i, !last)) break;
    }
    return found;
  }
  // Byte by byte, so a trail byte may begin the match.
  std::size_t FindBytes(std::size_t from, std::string_view what) {
    for (std::size_t i = from; At(i) != '\0'; ++i) {
      if (Starts(i, what)) return i;
    }
    return npos;
  }

  bool Scan();
  bool TagRules(std::size_t p);
  bool AttributeRules(std::size_t p);
  void Widen(std::size_t p);
  void NarrowAlnum(std::size_t p);
  bool Fail(std::string_view tail);

  const OptionSet& opt_;
  std::vector<char> line_;
  std::string out_;
  int in_comment_ = 0, in_tag_ = 0, quote_state_ = 0, in_pre_ = 0, prev_line_closed_ = 0;
  int link_kind_ = 0, line_no_ = 0;
};

bool Scanner::Scan() {
  std::size_t p = 0;
  while (At(p) != '\n' && At(p) != '\0') {
    if (Starts(p, "<!--") || Starts(p, "-->")) {
      in_comment_ = At(p) == '<';
      const std::size_t n = in_comment_ ? 4 : 3;
      opt_.strip_comments ? Delete(p, n) : void(p += n);
    } else if (in_comment_ && !opt_.strip_comments) {
      p = Step(p);
    } else if (in_comment_) {
      const std::size_t close = FindBytes(p, "-->");
      if (close == npos) {
        At(p) = '\0';
        break;
      }
      Delete(p, close - p);
    } else {
      if (Either(p, "<PRE>", "<pre>")) in_pre_ = 1;
      if (Either(p, "</PRE>", "</pre>")) in_pre_ = 0;
      if (opt_.join_lines && p == 0 && Either(0, "<p>", "<P>")) {
        // A paragraph starts a line unless only blanks follow it to the end of the text.
        std::size_t q = 3;
        while (At(q) == ' ' || At(q) == '\t' || Starts(q, "\x81\x40")) q += At(q) == '\x81' ? 2 : 1;
        if (At(q) != '\0' && prev_line_closed_ == 0) out_ += '\n';
      }
      if (At(p) == '<') {
        quote_state_ = -1;
        if (in_tag_ && !opt_.ignore_brackets) return Fail("'<' does not close.\n");
        in_tag_ = 1;
        if (!TagRules(p)) p = Step(p);
      } else if (At(p) == '>') {
        if (!in_tag_ && !opt_.ignore_brackets) return Fail("'>' does not correspond with '<'.\n");
        in_tag_ = link_kind_ = 0;
        p = Step(p);
      } else if (!in_tag_) {
        Widen(p);
        p = Step(p);
      } else {
        if (At(p) == '"') quote_state_ = -quote_state_;
        if (quote_state_ == -1 && AttributeRules(p)) continue;
        if (quote_state_ == -1 && At(p) == '#') {
          // A newline does not end the token; a lead byte swallows whatever byte follows it.
          for (++p; At(p) != '>' && At(p) != ' ' && At(p) != '\t' && At(p) != '\0';) p = Step(p);
          continue;
        }
        const char c = At(p);
        if (quote_state_ == -1 && !opt_.upper_case && c >= 'A' && c <= 'Z')
          At(p) = static_cast<char>(c + 32);
        if (quote_state_ == -1 && opt_.upper_case && c >= 'a' && c <= 'z')
          At(p) = static_cast<char>(c - 32);
        p = Step(p);
      }
    }
  }
  if (At(p) != '\n') {
    prev_line_closed_ = 0;
  } else if (opt_.join_lines && p != 0 && in_pre_ == 0) {
    prev_line_closed_ = At(p - 1) == '>';
    if (!prev_line_closed_) At(p) = '\0';
  }
  out_.append(line_.data(), Len(0));
  return true;
}

// Tried in order, the first that matches wins: a removal whose '>' is missing skips the rest.
struct Removal {
  bool OptionSet::*flag;
  std::string_view upper, lower;
  bool through_gt, names_link = false;
};
constexpr Removal kRemovals[] = {{&OptionSet::strip_links, "<A", "<a", true, true},
                                 {&OptionSet::strip_links, "</A>", "</a>", false},
                                 {&OptionSet::strip_img, "<IMG", "<img", true},
                                 {&OptionSet::strip_font, "<FONT", "<font", true},
                                 {&OptionSet::strip_bgsound, "<BGSOUND", "<bgsound", true},
                                 {&OptionSet::strip_font, "</FONT>", "</font>", false}};
// Tags whose references are cut, and their kind.
constexpr std::pair<std::string_view, int> kLinkTags[] = {
    {"<A", 1},       {"<a", 1},       {"<FRAMESET", 1}, {"<frameset", 1},
    {"<BGSOUND", 1}, {"<bgsound", 1}, {"<IMG", 2},      {"<img", 2}};

bool Scanner::TagRules(std::size_t p) {
  const char after = At(p + 2);
  const bool names_link = after == ' ' || after == '\t' || after == '>' || after == '\n' || !after;
  for (const Removal& r : kRemovals) {
    if (opt_.*r.flag && Either(p, r.upper, r.lower) && (names_link || !r.names_link)) {
      // Quotes and double-byte characters mean nothing to the search for '>'.
      const std::size_t end = r.through_gt ? FindBytes(p + 1, ">") + 1 : p + r.upper.size();
      if (end == 0) break;  // no '>': npos + 1
      Delete(p, end - p);
      in_tag_ = 0;
      return true;
    }
  }
  for (const auto& [tag, kind] : kLinkTags) {
    if (opt_.flatten_links && Starts(p, tag)) return link_kind_ = kind, false;
  }
  return false;
}

// A reference is cut to its last path component, a bgcolor deleted, when the value's closing
// quote comes before any '>'.
bool Scanner::AttributeRules(std::size_t p) {
  const auto before_gt = [&](std::size_t close) {
    const std::size_t gt = FindChar(p, '>');
    return close != npos && (gt == npos || gt > close);
  };
  if ((link_kind_ == 1 || link_kind_ == 2) &&
      (Either(p, "SRC=\"", "src=\"") || Either(p, "HREF=\"", "href=\""))) {
    const std::size_t value = FindChar(p, '"') + 1;
    const std::size_t close = FindChar(value, '"');
    if (!before_gt(close)) return false;
    const std::size_t slash = FindChar(value, '/', true, close);
    if (slash != npos && slash != value && At(slash + 1) != '"') Delete(value, slash - value + 1);
    return false;
  }
  if (!opt_.strip_bgcolor || !Either(p, "bgcolor=\"", "BGCOLOR=\"")) return false;
  const std::size_t close = FindChar(p + 9, '"');
  if (!before_gt(close)) return false;
  Delete(p, close - p + 1);
  return true;
}

void Scanner::Widen(std::size_t p) {
  const auto c = static_cast<unsigned char>(At(p));
  if (opt_.kana_to_wide && c >= 0xA1 && c <= 0xDF) {
    for (std::size_t i = 0; i * 2 < narrow_voiced.size(); ++i) {
      if (Starts(p, narrow_voiced.substr(i * 2, 2))) {
        std::memcpy(&At(p), &wide_voiced.at(i * 2), 2);
        return;
      }
    }
    // The rest of the line, NUL included, moves up one byte, last byte first.
    const std::size_t i = narrow_kana.find(At(p));
    const std::size_t count = Len(p + 1) + 1;
    if (p + 2 + count > line_.size()) throw std::logic_error("line buffer overflow");
    for (std::size_t k = count; k-- > 0;) At(p + 2 + k) = At(p + 1 + k);
    std::memcpy(&At(p), &wide_kana.at(i * 2 + 1) - 1, 2);
  } else if ((opt_.digits_to_narrow || opt_.letters_to_narrow) && IsLead(At(p))) {
    NarrowAlnum(p);
  }
}

void Scanner::NarrowAlnum(std::size_t p) {
  std::size_t i = 0;
  while (i * 2 < wide_alnum.size() && !Starts(p, wide_alnum.substr(i * 2, 2))) ++i;
  if (i * 2 >= wide_alnum.size() || !(i < 10 ? opt_.digits_to_narrow : opt_.letters_to_narrow)) {
    return;
  }
  At(p) = narrow_alnum[i];
  Delete(p + 1, 1);
  if (i >= 10) return;
  static constexpr std::string_view kMarks[] = {"\x81\x44", "\x81\x43", "\x81\x7C"};
  for (std::size_t m = 0; m < 3; ++m) {
    for (std::size_t d = 0; d < 10 && Starts(p + 1, kMarks[m]); ++d) {
      if (Starts(p + 3, wide_alnum.substr(d * 2, 2))) {
        At(p + 1) = ".,-"[m];
        Delete(p + 2, 1);
        return;
      }
    }
  }
}

// A message stops at 1024 bytes, looked at between steps; a line that does not fit whole is cut
// so that the message stands at 768 bytes.
bool Scanner::Fail(std::string_view tail) {
  std::string m = std::string(kPath) + ":" + std::to_string(line_no_) + ": ";
  const std::string_view text = line_.data();
  if (m.size() + text.size() <= 1024) {
    m += text;
  } else if (m.size() < 768) {
    m += text.substr(0, 768 - m.size());
  }
  for (std::size_t i = 0; i < tail.size() && m.size() < 1024; ++i) m += tail[i];
  out_ += m;
  return false;
}

// The flag of each letter of kOptionLetters, in the same order.
constexpr bool OptionSet::*kFlags[] = {
    &OptionSet::letters_to_narrow, &OptionSet::strip_bgcolor,   &OptionSet::upper_case,
    &OptionSet::strip_links,       &OptionSet::ignore_brackets, &OptionSet::join_lines,
    &OptionSet::kana_to_wide,      &OptionSet::strip_img,       &OptionSet::digits_to_narrow,
    &OptionSet::strip_font,        &OptionSet::strip_comments,  &OptionSet::strip_bgsound,
    &OptionSet::flatten_links};
static_assert(std::size(kFlags) == kOptionLetters.size());

}  // namespace

std::string ReferenceConvert(const OptionSet& options, std::string_view file_bytes, bool* failed) {
  Scanner scanner(options);
  bool ok = true;
  for (const std::string& piece : CutPieces(TextModeBytes(file_bytes))) {
    if (!(ok = scanner.Line(piece))) break;
  }
  ok = ok && scanner.Finish();
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

std::string AsWritten(const Route& route, std::string_view lf_text) {
  std::string out;
  for (const char c : lf_text) out += c == '\n' && route.room ? "\r\n" : std::string(1, c);
  return out;
}

OptionSet OptionsFromLetters(std::string_view letters) {
  OptionSet o;
  for (const char c : letters) {
    const std::size_t i = kOptionLetters.find(c);
    if (i == npos) throw std::invalid_argument("option letter");
    o.*kFlags[i] = true;
  }
  return o;
}

std::string LettersOf(const OptionSet& o) {
  std::string letters;
  for (std::size_t i = 0; i < kOptionLetters.size(); ++i) {
    if (o.*kFlags[i]) letters += kOptionLetters[i];
  }
  return letters;
}

std::string Escape(std::string_view bytes) {
  std::string s;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n')
      s += "\\n";
    else if (c == '"' || c == '\\')
      s += {'\\', ch};
    else if (c >= 0x20 && c < 0x7F)
      s += ch;
    else
      s += {'\\', char('0' + (c >> 6)), char('0' + ((c >> 3) & 7)), char('0' + (c & 7))};
  }
  return s;
}

}  // namespace lowtags::reference
