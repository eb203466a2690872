// The converter on whole files: every rule of the scan, its order, and the bracket errors.
// Inputs and outputs are written in UTF-8 and turned into code page 932 by the C library;
// cases that need bytes no encoder produces are written as bytes.
#include "convert/conv_html.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace lowtags {
namespace {

using testing::Convert;
using testing::Sjis;

struct Case {
  const char* name;
  const char* options;
  const char* input;     // UTF-8
  const char* expected;  // UTF-8: lines and messages as the converter hands them out
  ConvResult result = ConvResult::kConverted;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ConvertTest : public ::testing::TestWithParam<Case> {};

TEST_P(ConvertTest, GivesExactBytes) {
  const Case& c = GetParam();
  ConvResult result = ConvResult::kFailed;
  EXPECT_EQ(Convert(c.options, Sjis(c.input), &result), Sjis(c.expected));
  EXPECT_EQ(result, c.result);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

const ConvResult kFailed = ConvResult::kFailed;

// Case folding, quotes, '#' tokens and comments.
INSTANTIATE_TEST_SUITE_P(Folding, ConvertTest, ::testing::Values(
    Case{"LettersInTagsOnly", "", "<TABLE BORDER=1 WIDTH=\"50%\">Text ABC</TABLE>\n",
         "<table border=1 width=\"50%\">Text ABC</table>\n"},
    Case{"UpperCase", "c", "<table border=1>abc</table>\n", "<TABLE BORDER=1>abc</TABLE>\n"},
    Case{"HashTokenKeepsCase", "", "<FONT COLOR=#FF00AA><A HREF=#Top>\n",
         "<font color=#FF00AA><a href=#Top>\n"},
    Case{"HashTokenSwallowsLtAndCommentDashes", "", "<A HREF=#x<B><A HREF=#a-->B\n",
         "<a href=#x<B><a href=#a-->B\n"},
    Case{"HashTokenRunsOverNewline", "j", "<FONT COLOR=#FF00AA\nSIZE=2>x\ny\n",
         "<font color=#FF00AA\nsize=2>xy"},
    Case{"HashAtDelimiter", "", "<A B=# C>\n", "<a b=# c>\n"},
    Case{"CommentKeptAsIs", "", "<!-- COMMENT --><B>\n", "<!-- COMMENT --><b>\n"},
    Case{"CommentInsideTagKeepsCase", "", "<A <!-- X --> B>\n", "<a <!-- X --> b>\n"},
    Case{"SingleQuoteIsNoQuote", "", "<A TITLE='X'>\n", "<a title='x'>\n"},
    Case{"QuotedValueKeepsCase", "", "<IMG ALT=\"ABC\" SRC=X.GIF>\n",
         "<img alt=\"ABC\" src=x.gif>\n"},
    Case{"TagOverTwoLines", "", "<IMG\nSRC=\"A.GIF\">\n", "<img\nsrc=\"A.GIF\">\n"},
    Case{"FullWidthTextInTagUntouched", "", "<IMG ALT=ＡＢＣ>アイウ\n",
         "<img alt=ＡＢＣ>アイウ\n"},
    Case{"EmptyFile", "", "", ""}),
    CaseName);

// -r and the comment rules.
INSTANTIATE_TEST_SUITE_P(Comments, ConvertTest, ::testing::Values(
    Case{"StripComment", "r", "<P><!-- note --><B>Hello</B>\n", "<p><b>Hello</b>\n"},
    Case{"StripAcrossLines", "r", "text <!-- start\nmiddle\nend --> more\n", "text  more\n"},
    Case{"CloseOutsideComment", "r", "a-->b\n", "ab\n"},
    Case{"CloseOutsideCommentKept", "", "a-->b\n", "a-->b\n"},
    Case{"OpenRightBeforeNewlineKeepsIt", "r", "a<!--\nb-->c\n", "a\nc\n"},
    Case{"FileEndsInComment", "", "a<!-- b\nc\n", "a<!-- b\nc\n"},
    Case{"FileEndsInStrippedComment", "r", "a<!-- b\nc\n", "a"},
    Case{"CommentDashesDoNotCloseTag", "", "<A HREF=x-->\n<B>\n",
         "<a href=x-->\npage.htm:2: <B>\n'<' does not close.\n", kFailed},
    Case{"CommentHidesBrackets", "", "<!-- a > b <c -->\n", "<!-- a > b <c -->\n"}),
    CaseName);

// Bracket errors and -i.
INSTANTIATE_TEST_SUITE_P(Brackets, ConvertTest, ::testing::Values(
    Case{"SecondOpen", "", "<A HREF=\"x\" <B>\n",
         "page.htm:1: <a href=\"x\" <B>\n'<' does not close.\n", kFailed},
    Case{"UnmatchedAtEnd", "", "x\n<B", "x\n<bpage.htm: '<' unmatch to '>'\n", kFailed},
    Case{"StrayClose", "", "<B>a > b\n",
         "page.htm:1: <b>a > b\n'>' does not correspond with '<'.\n", kFailed},
    Case{"GtInQuotesClosesTag", "", "<A TITLE=\"a>b\">\n",
         "page.htm:1: <a title=\"a>b\">\n'>' does not correspond with '<'.\n", kFailed},
    Case{"LinesBeforeErrorWritten", "", "<P>one\n<B>two\nA>\n",
         "<p>one\n<b>two\npage.htm:3: A>\n'>' does not correspond with '<'.\n", kFailed},
    Case{"IgnoreSecondOpen", "i", "<A <B>\n", "<a <b>\n"},
    Case{"IgnoreStrayClose", "i", "a > b\n", "a > b\n"},
    Case{"IgnoreUnmatched", "i", "<B", "<b"}),
    CaseName);

// -j: joining, <PRE> blocks and the paragraph rule.
INSTANTIATE_TEST_SUITE_P(Joining, ConvertTest, ::testing::Values(
    Case{"JoinUntilGt", "j", "abc\ndef<BR>\nghi\n", "abcdef<br>\nghi"},
    Case{"EmptyLineNeverJoined", "j", "a\n\nb<BR>\n", "a\nb<br>\n"},
    Case{"PreUsesStateAtLineEnd", "j", "x\n<PRE>a\nb\n</PRE>c\nd<BR>\n",
         "x<pre>a\nb\n</pre>cd<br>\n"},
    Case{"ParagraphAfterJoinedLine", "j", "a\n<P>text\n", "a\n<p>text"},
    Case{"ParagraphAfterClosedLine", "j", "a<BR>\n<P>text\n", "a<br>\n<p>text"},
    Case{"ParagraphFirstLine", "j", "<P>x\n", "\n<p>x"},
    Case{"ParagraphNewlineCounts", "j", "a\n<P>\n", "a\n<p>\n"},
    Case{"ParagraphOnlyBlanksToEnd", "j", "a\n<P> \t　", "a<p> \t　"},
    Case{"ParagraphAfterRemovedAnchor", "fj", "a\n<A NAME=\"y\"><P>t\n", "a\n<p>t"},
    Case{"ParagraphAfterRemovedComment", "rj", "a\n<!--x--><P>t\n", "a\n<p>t"},
    Case{"ParagraphNeedsJoin", "", "a\n<P>t\n", "a\n<p>t\n"},
    Case{"ParagraphExactForm", "j", "a\n<p >t\n", "a<p >t"}),
    CaseName);

// Tag removal, link flattening and bgcolor.
INSTANTIATE_TEST_SUITE_P(Removal, ConvertTest, ::testing::Values(
    Case{"Links", "f", "see <A HREF=\"x.htm\">here</A> now\n", "see here now\n"},
    Case{"LinkOverTwoLinesStays", "f", "<A HREF=\"x.htm\"\nTARGET=y>here</A>\n",
         "<a href=\"x.htm\"\ntarget=y>here\n"},
    // A link's name ends at a blank, its '>' or the line's end; longer names are other tags.
    Case{"LinkNameEnds", "f", "<A HREF=x>1</a><a\tNAME=y>2<A>3</A>\n", "123\n"},
    Case{"LinkAtLineEnd", "fi", "x<A\n<a", "x<a\n<a"},
    Case{"NotLinks", "f", "<ADDRESS>x</ADDRESS><abbr>y</abbr><AREA HREF=\"m/x.htm\">\n",
         "<address>x</address><abbr>y</abbr><area href=\"m/x.htm\">\n"},
    Case{"AreaStillFlattened", "fu", "<AREA HREF=\"m/x.htm\"><ABBR>\n",
         "<area href=\"x.htm\"><abbr>\n"},
    Case{"Images", "m", "a<IMG SRC=\"p.gif\">b\n<IMG\nSRC=x>\n", "ab\n<img\nsrc=x>\n"},
    Case{"ImageMixedCaseStays", "m", "<Img SRC=x>\n", "<img src=x>\n"},
    Case{"Fonts", "o", "<FONT SIZE=2>x</FONT><B>y</Font>\n", "x<b>y</font>\n"},
    Case{"BackgroundSound", "s", "a<BGSOUND SRC=\"a.mid\">b\n", "ab\n"},
    Case{"DeleteThroughIgnoresQuotes", "mi", "<IMG ALT=\"a>b\" SRC=\"x.gif\">\n",
         "b\" SRC=\"x.gif\">\n"},
    Case{"DeleteThroughIgnoresQuotesError", "m", "<IMG ALT=\"a>b\" SRC=\"x.gif\">\n",
         "page.htm:1: b\" SRC=\"x.gif\">\n'>' does not correspond with '<'.\n", kFailed},
    Case{"BgcolorQuoted", "b", "<BODY BGCOLOR=\"#FFFFFF\" TEXT=\"#000000\">\n",
         "<body  text=\"#000000\">\n"},
    Case{"BgcolorUnquoted", "b", "<BODY BGCOLOR=#FFFFFF>\n", "<body bgcolor=#FFFFFF>\n"},
    Case{"BgcolorMixedCase", "b", "<BODY bgColor=\"#fff\">\n", "<body bgcolor=\"#fff\">\n"},
    Case{"BgcolorWithoutCloseOnLine", "b", "<BODY BGCOLOR=\"#FFF\n\">\n",
         "<body bgcolor=\"#FFF\n\">\n"},
    Case{"BgcolorGtBeforeClose", "bi", "<BODY BGCOLOR=\"a>b\">\n", "<body bgcolor=\"a>b\">\n"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(Flatten, ConvertTest, ::testing::Values(
    Case{"AnchorAndImage", "u", "<A HREF=\"../dir/sub/page.htm\"><IMG SRC=\"../img/a.gif\">\n",
         "<a href=\"page.htm\"><img src=\"a.gif\">\n"},
    Case{"SlashFirstOrLast", "u", "<A HREF=\"/top.htm\"><A HREF=\"dir/\">\n",
         "<a href=\"/top.htm\"><a href=\"dir/\">\n"},
    Case{"OnlyReferencePrefixes", "u", "<A HREF=\"d/x.htm\" TARGET=\"a/b\">\n",
         "<a href=\"x.htm\" target=\"a/b\">\n"},
    Case{"NotALinkTag", "u", "<TABLE BACKGROUND=\"img/bg.gif\"><FRAME SRC=\"a/b.htm\">\n",
         "<table background=\"img/bg.gif\"><frame src=\"a/b.htm\">\n"},
    Case{"FramesetAndBgsound", "u", "<FRAMESET SRC=\"a/b\"><BGSOUND SRC=\"s/a.mid\">\n",
         "<frameset src=\"b\"><bgsound src=\"a.mid\">\n"},
    Case{"AreaIsALinkTag", "u", "<AREA HREF=\"m/x.htm\">\n", "<area href=\"x.htm\">\n"},
    Case{"UnquotedNotFlattened", "u", "<A HREF=dir/x.htm>\n", "<a href=dir/x.htm>\n"},
    Case{"LowsrcMatchesAtSrc", "u", "<IMG LOWSRC=\"a/b.gif\">\n", "<img lowsrc=\"b.gif\">\n"},
    Case{"MixedCasePrefixNotFlattened", "u", "<A Href=\"a/b\">\n", "<a href=\"a/b\">\n"},
    Case{"GtInsideValueBlocks", "ui", "<A HREF=\"a/b>c/d\">\n", "<a href=\"a/b>c/d\">\n"},
    Case{"RemovedAnchorOnLine", "fu", "x<A HREF=\"a/b.htm\">y</A>\n", "xy\n"},
    Case{"SpanningAnchorFlattened", "fu", "<A HREF=\"a/b.htm\"\n>x</A>\n",
         "<a href=\"b.htm\"\n>x\n"},
    Case{"KindSurvivesRemoval", "iou", "<A <FONT SIZE=1><B SRC=\"a/b\">\n",
         "<a <b src=\"b\">\n"},
    Case{"KindClearedAtGt", "u", "<A><B SRC=\"a/b\">\n", "<a><b src=\"a/b\">\n"},
    Case{"ImageRemovedBeforeFlatten", "mu", "<IMG SRC=\"a/b.gif\">x\n", "x\n"}),
    CaseName);

// -k -n -a.
INSTANTIATE_TEST_SUITE_P(Width, ConvertTest, ::testing::Values(
    Case{"Digits", "n", "ＡＢＣ１２３\n", "ＡＢＣ123\n"},
    Case{"Letters", "a", "ＡＢＣ１２３ａｚ\n", "ABC１２３az\n"},
    Case{"Both", "na", "ＡＢＣ１２３\n", "ABC123\n"},
    Case{"DigitComma", "n", "１，０００円\n", "1,000円\n"},
    Case{"MinusWithoutDigitBefore", "n", "－５\n", "－5\n"},
    Case{"MinusBetweenDigits", "n", "３－４\n", "3-4\n"},
    Case{"PeriodNeedsWideDigitAfter", "n", "１．5\n", "1．5\n"},
    Case{"PeriodBeforeLetterStays", "n", "９．Ａ\n", "9．Ａ\n"},
    Case{"PeriodNeedsWideDigitBefore", "n", "1．５\n", "1．5\n"},
    Case{"PeriodBetweenLetters", "na", "Ａ．Ｂ\n", "A．B\n"},
    Case{"PeriodNotWithoutDigitOption", "a", "１．５\n", "１．５\n"},
    Case{"OtherFullWidthUntouched", "na", "＃（）\n", "＃（）\n"},
    Case{"VoicedKana", "k", "ｶﾞｯｺｳ ﾊﾟﾝ ｳﾞ\n", "ガッコウ パン ヴ\n"},
    Case{"UnlistedVoicedPair", "k", "ｱﾞ ｰ ﾞ ﾟ\n", "ア゛ ー ゛ ゜\n"},
    Case{"KanaPunctuation", "k", "｡｢｣､･\n", "。「」、・\n"},
    Case{"NotInTags", "kna", "<IMG ALT=ＡＢＣ１ｱ>\n", "<img alt=ＡＢＣ１ｱ>\n"},
    Case{"NotInComments", "kna", "<!-- ｱ１Ａ -->\n", "<!-- ｱ１Ａ -->\n"},
    Case{"InsidePre", "kna", "<PRE>ｱ１Ａ</PRE>\n", "<pre>ア1A</pre>\n"},
    Case{"QuotesMeanNothingOutsideTags", "k", "\"ｱ\"\n", "\"ア\"\n"},
    Case{"TrailByteInKanaRange", "k", "あｱ\n", "あア\n"},
    Case{"AllThree", "kna", "ｶﾞ１２．５Ｚ\n", "ガ12.5Z\n"}),
    CaseName);

// Bytes that no encoder writes: trail bytes that look like ASCII, NUL, lead bytes at the end.
struct RawCase {
  const char* name;
  const char* options;
  std::string input;
  std::string expected;
};

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.name; }

class ConvertRawTest : public ::testing::TestWithParam<RawCase> {};

TEST_P(ConvertRawTest, GivesExactBytes) {
  const RawCase& c = GetParam();
  EXPECT_EQ(Convert(c.options, c.input), c.expected);
}

std::string RawCaseName(const ::testing::TestParamInfo<RawCase>& info) { return info.param.name; }

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(Bytes, ConvertRawTest, ::testing::Values(
    RawCase{"TrailLetterNotFolded", "", "<A TITLE=\x83\x41\x83\x5C>\n"s,
            "<a title=\x83\x41\x83\x5C>\n"s},
    RawCase{"TrailLtOpensNoTag", "", "x\x81<B\n"s, "x\x81<B\n"s},
    RawCase{"LeadBeforeNewlineKeepsLine", "j", "ab\x82\ncd\n"s, "ab\x82\ncd"s},
    RawCase{"NulEndsLineText", "", "<A>x\0<B>y\n<C>\n"s, "<a>x<c>\n"s},
    RawCase{"LeadBeforeGtSwallowsIt", "u", "<A HREF=\"a/b\x83\" c/d\">\n"s,
            "<a href=\"d\">\n"s},
    RawCase{"SlashAsTrailNotFound", "u", "<A HREF=\"d/\x83/x\">\n"s, "<a href=\"\x83/x\">\n"s},
    RawCase{"QuoteAsTrailInBgcolor", "b", "<BODY BGCOLOR=\"#F\x83\" TEXT=\"x\">\n"s,
            "<body x\">\n"s},
    RawCase{"CommentCloseFoundInsideCharacter", "r", "<!--\x81-->x\n"s, "x\n"s},
    RawCase{"LeadAtEndOfFile", "c", "<a>\x81"s, "<A>\x81"s},
    RawCase{"KanaAfterLeadIsTrail", "k", "\x82\xB1\xB1\n"s, "\x82\xB1\x83\x41\n"s}),
    RawCaseName);

}  // namespace
}  // namespace lowtags
