// The UTF-8 sink: the head held until decided, text cut anywhere, failures with their line.
#include "convert/utf8_output.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "convert/charset_declaration.h"
#include "support/fake_disk.h"
#include "support/text_writer.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::Sjis;
using testing::StringSink;

const std::string kPage = Sjis(
    "<html><head>\n<meta http-equiv=\"Content-Type\"\ncontent=\"text/html; charset=Shift_JIS\">\n"
    "<title>見出し</title></head>\n<body>本文ｶﾅ①\n</body></html>\n");
const std::string kExpected = [] {  // in UTF-8, the declaration made UTF-8
  std::string utf8 = testing::Recode(kPage, "CP932", "UTF-8");
  return utf8.replace(utf8.find("Shift_JIS"), 9, "UTF-8");
}();

// Cut into pieces of every size from 1 to 9 bytes, double-byte characters and the split
// declaration included, the text comes out the same.
TEST(Utf8OutputTest, PiecesOfAnySize) {
  for (std::size_t piece = 1; piece <= 9; ++piece) {
    StringSink sink;
    Utf8Output utf8(sink);
    for (std::size_t at = 0; at < kPage.size(); at += piece) utf8.Write(kPage.substr(at, piece));
    EXPECT_TRUE(utf8.Finish());
    EXPECT_EQ(sink.text, kExpected) << "pieces of " << piece;
  }
}

TEST(Utf8OutputTest, HeadHeldUntilDecidedThenBodyStreams) {
  StringSink sink;
  Utf8Output utf8(sink);
  utf8.Write("<head><title>x</title>\n");
  EXPECT_EQ(sink.text, "");
  utf8.Write("</head>\n");
  EXPECT_EQ(sink.text, "<head><meta charset=\"UTF-8\"><title>x</title>\n</head>\n");
  utf8.Write("<p>");
  EXPECT_TRUE(sink.text.ends_with("</head>\n<p>"));
  StringSink bound;
  Utf8Output long_head(bound);
  const std::string filler(kHeadBound - 6, 'x');  // the bound reached exactly
  long_head.Write("<head>" + filler);
  EXPECT_EQ(bound.text, "<head><meta charset=\"UTF-8\">" + filler);
}

// A byte that does not convert fails the text at its line; the lines before it are written.
TEST(Utf8OutputTest, FailureReportsTheLine) {
  const std::vector<std::tuple<std::string, long long, std::string>> cases = {
      {"a\nb\nc\x80\n</head>", 3, "a\nb\n"},
      {"</head>\nb\n" + Sjis("本") + "\xFD\n", 3, "</head>\nb\n"},
      {"</head>\n\x81\x20\n", 2, "</head>\n"},
      {"</head>\nok\n\x82", 3, "</head>\nok\n"}};
  for (const auto& [text, line, kept] : cases) {
    StringSink sink;
    Utf8Output utf8(sink);
    utf8.Write(text);
    EXPECT_FALSE(utf8.Finish());
    EXPECT_EQ(utf8.failed_line(), line);
    EXPECT_EQ(sink.text, kept);
  }
}

// Through a writer of CR LF that lends its buffer: the same text, newlines as CR LF, whether it
// comes as lines or as final text with its CR LF already in place.
TEST(Utf8OutputTest, IntoTheRoomOfACrLfWriter) {
  FakeDisk disk;
  disk.AddFile("out", "");
  int fd = -1;
  disk.OpenWrite("out", &fd);
  TextWriter writer(disk, fd);
  Utf8Output utf8(writer);
  const std::size_t head = kPage.find("<body>");
  utf8.Write(kPage.substr(0, head));
  utf8.Write(kPage.substr(head, 5));
  const std::string final_text = testing::WithCrLf(kPage.substr(head + 5));
  const std::span<char> room = utf8.Room(final_text.size());
  ASSERT_FALSE(room.empty());
  std::copy(final_text.begin(), final_text.end(), room.begin());
  utf8.Filled(final_text.size());
  EXPECT_TRUE(utf8.Finish());
  EXPECT_TRUE(writer.Flush().ok());
  EXPECT_EQ(*disk.Contents("out"), testing::WithCrLf(kExpected));
}

TEST(MessageLineTest, WholeWhenItFitsCutBetweenCharactersWhenNot) {
  EXPECT_EQ(MessageLine(Sjis("<B>本\n") + "\x80", 10), "<B>本\n?");
  // 1200 bytes in UTF-8 after 20 bytes of prefix: cut at 768 bytes, 748 here, 249 characters.
  EXPECT_EQ(MessageLine(Sjis(testing::Repeat("本", 400)), 20), testing::Repeat("本", 249));
  EXPECT_EQ(MessageLine(std::string(1004, 'a'), 20), std::string(1004, 'a'));  // just fits
}

}  // namespace
}  // namespace lowtags
