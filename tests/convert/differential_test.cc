// The converter, every way production can run it, against the literal reference converter on
// generated HTML-ish Shift_JIS text, for many option sets per input. A difference is printed
// with its input as a C string for a regression case.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "convert/reference_converter.h"

namespace lowtags::reference {
namespace {

using Rng = std::mt19937;
using Gen = std::string (*)(Rng&);
using namespace std::string_view_literals;

std::size_t Uniform(Rng& rng, std::size_t lo, std::size_t hi) {
  return std::uniform_int_distribution<std::size_t>(lo, hi)(rng);
}
bool Chance(Rng& rng, double p) { return std::bernoulli_distribution(p)(rng); }
template <std::size_t N>
std::string Pick(Rng& rng, const std::string_view (&items)[N]) {
  return std::string(items[Uniform(rng, 0, N - 1)]);
}
std::string Byte(std::size_t b) { return std::string(1, static_cast<char>(b)); }
std::string Lead(Rng& rng) {
  return Byte(Chance(rng, 0.6) ? Uniform(rng, 0x81, 0x9F) : Uniform(rng, 0xE0, 0xFC));
}
// `make` called lo to hi times.
std::string Several(Rng& rng, std::size_t lo, std::size_t hi, Gen make) {
  std::string s;
  for (std::size_t n = Uniform(rng, lo, hi); n > 0; --n) s += make(rng);
  return s;
}

// clang-format off
constexpr std::string_view kTags[] = {
    "<A HREF=\"a/b/c.htm\">", "<a href=x>", "<a href=\"../d/e.htm\">", "<A NAME=\"y\">",
    "<A HREF=\"/top.htm\">", "<A HREF=\"dir/\">", "<A HREF=\"d/x.htm\" TARGET=\"a/b\">",
    "<A HREF=dir/x.htm>", "<A HREF=#Top>", "<a href=\"x#Frag\">", "</a>", "</A>", "</A >",
    "<IMG SRC=\"../i/p.gif\">", "<img lowsrc=\"d/e\">", "<Img Src=\"A/B\">",
    "<IMG ALT=\"a>b\" SRC=\"x.gif\">", "<IMG\n", "SRC=\"A/B.GIF\">", "<FONT SIZE=2>",
    "<font color=#FF00aa>", "<FONT COLOR=\"#Ab\">", "</FONT>", "</font>", "</Font>",
    "<BGSOUND SRC=\"x/y\">", "<bgsound src=\"s/t.mid\" loop=2>", "<FRAMESET COLS=\"a/b\">",
    "<frameset>", "<frameset src=\"f/g.htm\">", "<FRAMESET SRC=\"f/g\">",
    "<FRAME SRC=\"a/b.htm\">", "<AREA HREF=\"m/x\">", "<ADDRESS>", "<abbr>",
    "<PRE>", "</PRE>", "<pre>", "</pre>", "<Pre>", "<P>", "<p>", "<P >", "<p>\t\x81\x40",
    "<BODY BGCOLOR=\"#fff\">", "<body bgcolor=#abc>", "<TD bgcolor=\"red\" Width=3>",
    "<BODY BGCOLOR=\"#FFFFFF\" TEXT=\"#000000\">", "<table bgcolor=\"x>y\">", "<BR>", "<br>",
    "<TABLE BORDER=1 WIDTH=\"50%\">", "</TABLE>", "<B>", "</b>", "<HR Size=3 NoShade>",
    "<TABLE BACKGROUND=\"img/bg.gif\">", "<A HREF=\"x\" <B>", "<!-- COMMENT -->"};
constexpr std::string_view kBits[] = {
    "<", ">", "\"", "#", "# ", "#>", "=", "/", " ", "\t", "\n", "\n", "\n", "\r\n", "\r",
    "<!--", "-->", "--", "-", "!", "<A", "<a ", "<IMG", "<img", "<FONT", "<font", "<BGSOUND",
    "<FRAMESET", "HREF=\"", "href=\"", "SRC=\"", "src=\"", "bgcolor=\"", "BGCOLOR=\"", "a/b/",
    "x.htm", "\"a/b\"", "'", "<P>", "<p>", "<PRE>", "</PRE>", "</a>", "</font>", "</FONT>",
    "<!-- x -->", "<!-- <B> > -->"};
// Words and blanks; full-width characters, some with a trail byte of 0x5C or a letter, and
// punctuation; half-width kana and voiced pairs.
constexpr std::string_view kText[] = {
    "ABC", "xyz", "Hello", "Text", "a", "Z", "q9", "Mixed Case", "10%", "&amp;", "e-mail", " ",
    "\t", "\x81\x40", "#x-- ", "\x82\xA0", "\x83\x5C", "\x95\x5C", "\x94\x5C", "\x8F\x5C", "\x83\x41",
    "\x83\x61", "\x88\x9F", "\xE0\x40", "\xFC\x4B", "\x81\x5B", "\x81\x94", "\x81\x69", "\xB6\xDE",
    "\xCA\xDF", "\xB3\xDE", "\xB1\xDE", "\xDE", "\xDF", "\xDE\xDE", "\xC1\xDF"};
constexpr std::string_view kMarks[] = {"\x81\x44", "\x81\x43", "\x81\x7C", "."};
// Few distinct bytes, densely mixed: shakes out interactions between neighbouring rules.
constexpr std::string_view kDense = "<>\"#-!/ \nAaPpSRCHEF=\x82\x83\x5C\xB6\xDE\x50\x81\x44";
// clang-format on

// A full-width character, listed or any.
std::string DoubleByte(Rng& rng) {
  if (Chance(rng, 0.5)) return Pick(rng, kText);
  return Lead(rng) + Byte(Chance(rng, 0.6) ? Uniform(rng, 0x40, 0x7E) : Uniform(rng, 0x80, 0xFC));
}

// A lead byte directly before a byte that matters to the scan.
std::string Malformed(Rng& rng) {
  constexpr std::string_view kNext = ">\"/<-\n# A\t=";
  return Lead(rng) + (Chance(rng, 0.9) ? Byte(kNext[Uniform(rng, 0, kNext.size() - 1)]) : "");
}

// Listed text or any full-width character; full-width digits (twice as likely), capitals and
// small letters, some after ASCII digits and before a full-width period, comma or minus (the
// shapes the punctuation rule looks for); a run of half-width kana.
std::string TextRun(Rng& rng) {
  switch (Uniform(rng, 0, 3)) {
    case 0: return Pick(rng, kText);
    case 1: return DoubleByte(rng);
    case 2: return Several(rng, 1, 5, [](Rng& r) { return Byte(Uniform(r, 0xA1, 0xDF)); });
  }
  return Several(rng, 1, 4, [](Rng& r) {
    const std::size_t from = std::array{0x4F, 0x4F, 0x60, 0x81}[Uniform(r, 0, 3)];
    std::string s =
        Chance(r, 0.15) ? Byte(Uniform(r, '0', '9')) : "\x82" + Byte(Uniform(r, from, from + 25));
    return Chance(r, 0.5) ? s + Pick(r, kMarks) : s;
  });
}

std::string Fragment(Rng& rng) {
  const std::size_t kind = Uniform(rng, 0, 99);
  if (kind < 22) return Pick(rng, kTags);
  if (kind < 44) return Pick(rng, kBits);
  if (kind < 83) return TextRun(rng);
  if (kind < 90) return Malformed(rng);
  if (kind < 92) return Byte(Uniform(rng, 0x80, 0xFF));
  if (kind < 93) return std::string(1, '\0');
  if (kind < 94) return Chance(rng, 0.3) ? "\x1A" : "\r";
  return std::string(Uniform(rng, 1, 3), Chance(rng, 0.5) ? ' ' : '\n');
}

// A reference or colour attribute whose value holds slashes, quotes, '>' and double-byte
// characters, some of whose trail bytes are exactly those bytes.
std::string AttributeTag(Rng& rng) {
  static constexpr std::string_view kOpen[] = {
      "<A HREF=\"",       "<a href=\"",       "<IMG SRC=\"",   "<img alt=x src=\"",
      "<FRAMESET SRC=\"", "<BODY BGCOLOR=\"", "<td bgcolor=\""};
  std::string s = Pick(rng, kOpen) + Several(rng, 0, 6, [](Rng& r) {
                    static constexpr std::string_view kValue[] = {"/",  "/", "a", "B.htm", "..",
                                                                  "\"", ">", "#", " "};
                    const std::size_t kind = Uniform(r, 0, 9);
                    return kind < 6 ? Pick(r, kValue) : kind < 8 ? Malformed(r) : DoubleByte(r);
                  });
  s += Chance(rng, 0.8) ? "\"" : "";
  if (Chance(rng, 0.3)) s += Chance(rng, 0.5) ? " TARGET=\"t/u\"" : " bgcolor=\"#f\x82\"\"";
  return s + (Chance(rng, 0.9) ? ">" : "");
}

// Mostly well-formed lines: text runs and whole tags, with now and then a stray byte, so that
// the scan gets deep into a file before any bracket error stops it.
std::string StructuredLine(Rng& rng) {
  std::string s = Several(rng, 0, 8, [](Rng& r) {
    const std::size_t kind = Uniform(r, 0, 99);
    if (kind < 40) return TextRun(r);
    if (kind < 65) return Pick(r, kTags);
    if (kind < 75) return AttributeTag(r);
    if (kind < 82) return Chance(r, 0.5) ? "<!-- " + TextRun(r) + " -->" : Pick(r, kBits);
    return kind < 92 ? Fragment(r) : Malformed(r);
  });
  static constexpr std::string_view kEnds[] = {"\n", "\n", "\n", ">\n", "\r\n", ""};
  return s + Pick(rng, kEnds);
}

// Lines, and now and then a paragraph at the end: the paragraph rule looks past blanks for the
// end of the text.
std::string StructuredInput(Rng& rng) {
  std::string s = Several(rng, 1, 12, StructuredLine);
  if (!Chance(rng, 0.15)) return s;
  static constexpr std::string_view kBlanks[] = {" ", "\t", "\x81\x40", "\x81", "x"};
  s += (Chance(rng, 0.5) ? "\n<p>" : "<P>") +
       Several(rng, 0, 3, [](Rng& r) { return Pick(r, kBlanks); });
  return Chance(rng, 0.3) ? s + std::string("\0<\n"sv) : s;
}

// Text without line ends, CR, 0x1A or NUL, so that its length is the length of one piece; filler
// 0 mixed, 1 mostly kana, 2 quiet (inside one open tag, so the byte after a cut is folded or not).
std::string LineText(Rng& rng, std::size_t length, std::size_t filler) {
  std::string s = filler == 2 || Chance(rng, 0.4) ? "<A " : "";
  while (s.size() < length) {
    std::string f = filler == 2 ? (Chance(rng, 0.2) ? DoubleByte(rng) : Pick(rng, kText))
                    : filler == 1 && Chance(rng, 0.8) ? Byte(Uniform(rng, 0xA1, 0xDF))
                                                      : Fragment(rng);
    std::erase_if(f, [](char c) { return c == '\n' || c == '\r' || c == '\x1A' || c == '\0'; });
    s += f;
  }
  return s.substr(0, length);
}

// One line of 9990 to 30000 bytes, often with lead bytes around the 9999th byte of a piece, then
// a byte that shows where the cut fell when it is folded or ends a tag.
std::string LongInput(Rng& rng) {
  std::string s = Chance(rng, 0.5) ? Several(rng, 0, 4, Fragment) : "";
  if (!s.empty() && s.back() != '\n') s += '\n';
  const std::size_t filler = Uniform(rng, 0, 2);
  const std::size_t shape = Uniform(rng, 0, 3);
  s += LineText(rng,
                shape == 0   ? 9998
                : shape == 1 ? 9998 - Uniform(rng, 0, 3)
                : shape == 2 ? Uniform(rng, 9990, 10010)
                             : Uniform(rng, 10010, 30000),
                filler);
  // shape 0: a lead byte at 9998, then a chosen byte or the text's end; 1: a run of leads
  if (shape == 0) s += Chance(rng, 0.5) ? "\x82" : "\xE0";
  if (shape == 1) s += std::string(Uniform(rng, 1, 5), '\x82');
  static constexpr std::string_view kAfter[] = {"\xA0", ">",  "\n", "A>", "\\",  "",
                                                "<",    "\"", "-",  "#",  "\0"sv};
  s += Pick(rng, kAfter);
  // Carriage returns do not count towards a piece, wherever they stand.
  for (std::size_t n = Chance(rng, 0.3) ? Uniform(rng, 1, 5) : 0; n > 0; --n)
    s.insert(Uniform(rng, 0, s.size()), 1, '\r');
  return Chance(rng, 0.7) ? s + Several(rng, 0, 6, Fragment) : s;
}

// Short lines up to a read block boundary of the production reader, then a chosen byte or a long
// line across it.
std::string BlockBoundaryInput(Rng& rng) {
  constexpr std::size_t kBoundary = 256 * 1024;
  std::string s;
  while (s.size() < kBoundary - 40) s += StructuredLine(rng);
  std::erase(s, '\x1A');  // the text must reach the boundary
  s.resize(kBoundary - Uniform(rng, 1, 4), 'x');
  static constexpr std::string_view kAcross[] = {
      "\r\n", "\x82\xA0", "\x82\r\xA0", "\n", "\x1A", "<A\r\nHREF=\"a/b\">", "<!-\r-x-->", "\0>"sv};
  s += Pick(rng, kAcross);
  if (Chance(rng, 0.3)) s += LineText(rng, Uniform(rng, 9990, 10010), 2);
  return s + Several(rng, 1, 6, StructuredLine);
}

// Inputs across the cut of a full piece: a run of lead bytes starting one to four bytes before
// the 9999th byte, then a byte whose treatment shows where the cut fell; and a comment mark at
// every offset across the cut, alone or after a double-byte character or a lone lead byte, after
// a short line (whole lines) or none (pieces only).
std::vector<std::string> CutInputs() {
  Rng rng(11);
  const std::string quiet = LineText(rng, 9999, 2);
  const std::string mixed = LineText(rng, 9999, 0);
  std::vector<std::string> inputs;
  for (std::size_t back = 1; back < 5; ++back) {
    for (std::size_t run = 1; run <= 5; ++run) {
      for (const auto after :
           {"A>"sv, "<"sv, ">"sv, "\""sv, "#"sv, "\n"sv, "\xB6\xDE"sv, "\0"sv, ""sv}) {
        inputs.push_back(quiet.substr(0, 9999 - back) + std::string(run, '\x82') +
                         std::string(after) + "\nb<B>\n");
      }
    }
  }
  for (const auto mark : {"<!--"sv, "-->"sv, "<!-->"sv}) {
    for (const auto before : {""sv, "\x82\xA0"sv, "\x82"sv}) {
      for (std::size_t in_piece = 0; in_piece <= mark.size(); ++in_piece) {
        const std::string line = mixed.substr(0, 9999 - in_piece - before.size()) +
                                 std::string(before) + std::string(mark) +
                                 " <B>x</B> -->y<I>\n<P>z</P>\n";
        inputs.insert(inputs.end(), {line, "<B>a</B>\n" + line});
      }
    }
  }
  return inputs;
}

// False at a difference, which is reported.
bool Agrees(const std::string& letters, const std::string& input, std::size_t chunk = 1 << 20) {
  EXPECT_EQ(Difference(OptionsFromLetters(letters), input, chunk), "")
      << "options \"" << letters << "\" read chunk " << chunk;
  return !::testing::Test::HasFailure();
}

// No options, all of them, each alone, and `random_count` random groups.
std::vector<std::string> OptionGroups(Rng& rng, std::size_t random_count) {
  std::vector<std::string> groups = {"", std::string(kOptionLetters)};
  for (const char c : kOptionLetters) groups.emplace_back(1, c);
  while (random_count-- > 0) {
    const double density = std::uniform_real_distribution<double>(0.1, 0.9)(rng);
    groups.emplace_back();
    for (const char c : kOptionLetters)
      if (Chance(rng, density)) groups.back() += c;
  }
  return groups;
}

// Sanitized builds are many times slower: they try an eighth of the inputs.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kInputDivisor = 8;
#else
constexpr int kInputDivisor = 1;
#endif

// With `extra` letters added to every group (an "i" keeps bracket errors from stopping a file
// before the part under test).
void RunInputs(std::uint32_t seed, int inputs, std::size_t groups, Gen make,
               const std::string& extra = "") {
  Rng rng(seed);
  for (int i = 0; i < std::max(inputs / kInputDivisor, 1); ++i) {
    const std::string input = make(rng);
    const std::size_t chunk = Chance(rng, 0.8) ? 1 << 20 : Uniform(rng, 1, 64);
    for (const std::string& letters : OptionGroups(rng, groups)) {
      if (!Agrees(letters + extra, input, chunk)) return;
    }
  }
}

TEST(Differential, RandomFragments) {
  RunInputs(20240601, 1000, 48, [](Rng& r) { return Several(r, 1, 40, Fragment); });
}
TEST(Differential, StructuredLines) { RunInputs(4321, 1000, 48, StructuredInput); }
TEST(Differential, DenseBytes) {
  RunInputs(7, 1500, 24, [](Rng& r) {
    return Several(r, 1, 90, [](Rng& q) {
      return Chance(q, 0.9) ? Byte(kDense[Uniform(q, 0, kDense.size() - 1)]) : Pick(q, kBits);
    });
  });
}
TEST(Differential, LongLines) { RunInputs(99, 60, 4, LongInput); }
TEST(Differential, ReadBlockBoundaries) { RunInputs(5, 6, 2, BlockBoundaryInput, "i"); }
TEST(Differential, PieceCuts) {
  for (const std::string& input : CutInputs()) {
    for (const std::string letters : {"", "i", "ik", "j", "r", "ir", "fr"}) {
      if (!Agrees(letters, input)) return;
    }
  }
}

}  // namespace
}  // namespace lowtags::reference
