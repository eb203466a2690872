// The converter on whole files: every rule of the scan, its order, and the bracket errors. Each
// row is what the reference converter gives, and what every engine gives into either sink.
// Rows are written in UTF-8 and turned into code page 932 by the C library; rows that need bytes
// no encoder produces are written as bytes.
#include "convert/converter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/reference_converter.h"
#include "test_support.h"

namespace lowtags {
namespace {

using namespace std::string_literals;

struct Case {
  std::string name, options, input;
  std::string expected;  // lines and messages as the converter hands them out, newline as LF
  bool failed = false;
};

constexpr bool kFailed = true;

void ExpectRows(const std::vector<Case>& rows, bool utf8) {
  for (const Case& c : rows) {
    SCOPED_TRACE(c.name);
    const std::string input = utf8 ? testing::Sjis(c.input) : c.input;
    const OptionSet options = reference::OptionsFromLetters(c.options);
    bool failed = !c.failed;
    EXPECT_EQ(reference::ReferenceConvert(options, input, &failed),
              utf8 ? testing::Sjis(c.expected) : c.expected);
    EXPECT_EQ(failed, c.failed);
    EXPECT_EQ(reference::Difference(options, input), "");
  }
}

// clang-format off
const std::vector<Case> kTextRows = {
    // folding
    {"LettersInTagsOnlyQuotesKeepCase", "", "<TABLE BORDER=1 WIDTH=\"50%\">Text ABC</TABLE><A TITLE='X'><IMG ALT=\"ABC\" SRC=X.GIF>\n", "<table border=1 width=\"50%\">Text ABC</table><a title='x'><img alt=\"ABC\" src=x.gif>\n"},
    {"UpperCase", "c", "<table border=1>abc</table>\n", "<TABLE BORDER=1>abc</TABLE>\n"},
    {"HashTokenKeepsCaseSwallowsLtAndDashes", "", "<FONT COLOR=#FF00AA><A HREF=#Top B=# C><A HREF=#x<B><A HREF=#a-->B\n", "<font color=#FF00AA><a href=#Top b=# c><a href=#x<B><a href=#a-->B\n"},
    {"JoinUntilGtEmptyLineNeverHashOrPre", "j", "<FONT COLOR=#FF00AA\nSIZE=2>x\ny\nabc\ndef<BR>\nx\n\nghi\n<PRE>a\nb\n</PRE>c\nd<BR>\n", "<font color=#FF00AA\nsize=2>xyabcdef<br>\nx\nghi<pre>a\nb\n</pre>cd<br>\n"},
    {"CommentInTagKeepsCaseAndHidesBrackets", "", "<A <!-- X --> B><!-- C --><!-- a > b <c -->\n", "<a <!-- X --> b><!-- C --><!-- a > b <c -->\n"},
    {"TagOverTwoLinesParagraphNeedsJoin", "", "<IMG\nSRC=\"A.GIF\" ALT=ＡＢＣ>アイウ\na\n<P>t\n", "<img\nsrc=\"A.GIF\" alt=ＡＢＣ>アイウ\na\n<p>t\n"},
    {"EmptyFile", "", "", ""},
    // comments
    {"StripCommentAndLoneClose", "r", "<P><!-- note --><B>Hello</B>a-->b\n", "<p><b>Hello</b>ab\n"},
    {"StripAcrossLinesToEndOfFile", "r", "text <!-- start\nmiddle\nend --> more\na<!--\nb-->c\nd<!-- e\nf\n", "text  more\na\nc\nd"},
    {"CommentDashesDoNotCloseTag", "", "<A HREF=x-->\n<B>\n", "<a href=x-->\npage.htm:2: <B>\n'<' does not close.\n", kFailed},
    // brackets
    {"SecondOpen", "", "<A HREF=\"x\" <B>\n", "page.htm:1: <a href=\"x\" <B>\n'<' does not close.\n", kFailed},
    {"UnmatchedAtEnd", "", "x\n<B", "x\n<bpage.htm: '<' unmatch to '>'\n", kFailed},
    {"GtInQuotesClosesTag", "", "<A TITLE=\"a>b\">\n", "page.htm:1: <a title=\"a>b\">\n'>' does not correspond with '<'.\n", kFailed},
    {"StrayCloseAfterLinesWritten", "", "<P>one\n<B>two\nA > b\n", "<p>one\n<b>two\npage.htm:3: A > b\n'>' does not correspond with '<'.\n", kFailed},
    {"IgnoreBracketErrors", "i", "<A <B>\na > b\n<B", "<a <b>\na > b\n<b"},
    // joining
    {"ParagraphFirstAfterJoinedOrClosedExactForm", "j", "<P>x\na\n<P>t<BR>\n<P>y\na\n<p >t\na\n<P>\n", "\n<p>xa\n<p>t<br>\n<p>ya<p >ta\n<p>\n"},
    {"ParagraphOnlyBlanksToEnd", "j", "a\n<P> \t　", "a<p> \t　"},
    {"ParagraphAfterRemovedAnchorOrComment", "frj", "a\n<A NAME=\"y\"><P>t\nb\n<!--x--><P>u\n", "a\n<p>tb\n<p>u"},
    // removal
    {"LinksNotOtherTags", "f", "see <A HREF=\"x.htm\">here</A> now<A HREF=\"x.htm\"\nTARGET=y>here</A><ADDRESS>x</ADDRESS><abbr>y</abbr><AREA HREF=\"m/x.htm\">\n", "see here now<a href=\"x.htm\"\ntarget=y>here<address>x</address><abbr>y</abbr><area href=\"m/x.htm\">\n"},
    // A link's name ends at a blank, its '>' or the line's end; longer names are other tags.
    {"LinkNameEnds", "fi", "<A>1<a\tB=c>2<ABBR>3<A HREF=x>4</a><A\n<a", "12<abbr>34<a\n<a"},
    {"ImagesDeletedThroughGtInQuotes", "mi", "a<IMG SRC=\"p.gif\">b\n<IMG\nSRC=x>\n<Img SRC=x><IMG ALT=\"a>b\" SRC=\"x.gif\">\n", "ab\n<img\nsrc=x>\n<img src=x>b\" SRC=\"x.gif\">\n"},
    {"Fonts", "o", "<FONT SIZE=2>x</FONT><B>y</Font>\n", "x<b>y</font>\n"},
    {"BackgroundSound", "s", "a<BGSOUND SRC=\"a.mid\">b\n", "ab\n"},
    {"DeleteThroughIgnoresQuotesError", "m", "<IMG ALT=\"a>b\" SRC=\"x.gif\">\n", "page.htm:1: b\" SRC=\"x.gif\">\n'>' does not correspond with '<'.\n", kFailed},
    {"BgcolorQuotedOnly", "b", "<BODY BGCOLOR=\"#FFFFFF\" TEXT=\"#0\"><BODY BGCOLOR=#FFFFFF><BODY bgColor=\"#fff\">\n", "<body  text=\"#0\"><body bgcolor=#FFFFFF><body bgcolor=\"#fff\">\n"},
    {"BgcolorGtBeforeCloseOrNoClose", "bi", "<BODY BGCOLOR=\"a>b\"><BODY BGCOLOR=\"#FFF\n\">\n", "<body bgcolor=\"a>b\"><body bgcolor=\"#FFF\n\">\n"},
    // flatten
    {"AnchorAndImageReferencesOnly", "u", "<A HREF=\"../dir/sub/page.htm\"><IMG SRC=\"../img/a.gif\"><A HREF=\"/top.htm\"><A HREF=\"dir/\">\n<A HREF=\"d/x.htm\" TARGET=\"a/b\"><TABLE BACKGROUND=\"img/bg.gif\"><FRAME SRC=\"a/b.htm\">\n", "<a href=\"page.htm\"><img src=\"a.gif\"><a href=\"/top.htm\"><a href=\"dir/\">\n<a href=\"x.htm\" target=\"a/b\"><table background=\"img/bg.gif\"><frame src=\"a/b.htm\">\n"},
    {"FramesetBgsoundLowsrcNotUnquotedMixedOrAfterGt", "u", "<FRAMESET SRC=\"a/b\"><BGSOUND SRC=\"s/a.mid\"><IMG LOWSRC=\"a/b.gif\">\n<A HREF=dir/x.htm><A Href=\"a/b\"><A><B SRC=\"a/b\">\n", "<frameset src=\"b\"><bgsound src=\"a.mid\"><img lowsrc=\"b.gif\">\n<a href=dir/x.htm><a href=\"a/b\"><a><b src=\"a/b\">\n"},
    {"AreaRemovedAndSpanningAnchors", "fu", "<AREA HREF=\"m/x.htm\"><ABBR>x<A HREF=\"a/b.htm\">y</A>\n<A HREF=\"a/b.htm\"\n>x</A>\n", "<area href=\"x.htm\"><abbr>xy\n<a href=\"b.htm\"\n>x\n"},
    {"GtInValueBlocksKindSurvivesRemoval", "iou", "<A HREF=\"a/b>c/d\"><A <FONT SIZE=1><B SRC=\"a/b\">\n", "<a href=\"a/b>c/d\"><a <b src=\"b\">\n"},
    {"ImageRemovedBeforeFlatten", "mu", "<IMG SRC=\"a/b.gif\">x\n", "x\n"},
    // width
    {"LettersPeriodNotWithoutDigitOption", "a", "ＡＢＣ１２３ａｚ１．５\n", "ABC１２３az１．５\n"},
    {"DigitsCommaMinusPeriod", "n", "ＡＢＣ１，０００円 －５ ３－４ １．5 1．５ ９．Ａ\n", "ＡＢＣ1,000円 －5 3-4 1．5 1．5 9．Ａ\n"},
    {"Kana", "k", "ｶﾞｯｺｳ ﾊﾟﾝ ｳﾞ ｱﾞ ｰ ﾞ ﾟ｡｢｣､･\"ｱ\"あｱ\n", "ガッコウ パン ヴ ア゛ ー ゛ ゜。「」、・\"ア\"あア\n"},
    {"NotInTagsOrCommentsButInPre", "kna", "<IMG ALT=ＡＢＣ１ｱ><!-- ｱ１Ａ --><PRE>ｱ１Ａ</PRE>ｶﾞ１２．５Ｚ Ａ．Ｂ＃（）\n", "<img alt=ＡＢＣ１ｱ><!-- ｱ１Ａ --><pre>ア1A</pre>ガ12.5Z A．B＃（）\n"}};

// Bytes that no encoder writes: trail bytes that look like ASCII, NUL, lead bytes at the end,
// CR and 0x1A. The cut of a 9999-byte piece is the differential tester's.
const std::vector<Case> kByteRows = {
    {"TrailLetterNotFoldedLtNoTagNulEndsText", "", "<A TITLE=\x83\x41\x83\x5C><A\x83\x5C>x\x81<B\n<A>x\0<B>y\n<C>\na\0<B\nc\n"s, "<a title=\x83\x41\x83\x5C><a\x83\x5C>x\x81<B\n<a>x<c>\nac\n"},
    {"LeadBeforeNewlineKeepsLine", "j", "ab\x82\ncd\n", "ab\x82\ncd"},
    {"LeadSwallowsGtSlashAsTrailNotFound", "u", "<A HREF=\"a/b\x83\" c/d\"><A HREF=\"d/\x83/x\">\n", "<a href=\"d\"><a href=\"\x83/x\">\n"},
    {"QuoteAsTrailInBgcolor", "b", "<BODY BGCOLOR=\"#F\x83\" TEXT=\"x\">\n", "<body x\">\n"},
    {"LeadAtEndOfFile", "c", "<a>\x81", "<A>\x81"},
    {"WidthAfterLeadBytes", "nak", "\x82\xB1\xB1\x82\x50\x81\x43\x82\x4F\x82\x4F\x81\x7C\x82\x54 \x81\x7C\x82\x54 \xB6\xDE\xAF\n", "\x82\xB1\x83\x41" "1,00-5 \x81\x7C" "5 \x83\x4B\x83\x62\n"},
    {"CarriageReturnsAndEndOfFile", "", "a\r\r\nb\r\r\rc\rd\r\ne\x1A<\n", "a\nb\nc\nd\ne"},
    {"CommentCloseInCharacter", "r", "<!--\x81-->x\n", "x\n"}};
// clang-format on

TEST(ConvertTest, TextRowsGiveExactBytesEveryWay) { ExpectRows(kTextRows, true); }
TEST(ConvertTest, ByteRowsGiveExactBytesEveryWay) { ExpectRows(kByteRows, false); }

}  // namespace
}  // namespace lowtags
