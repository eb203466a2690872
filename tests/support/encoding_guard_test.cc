// The guard against text that is not Shift_JIS: each rule at its edges, fed whole and in blocks.
// The site of real pages, kept and converted, is in the corpus test.
#include "support/encoding_guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace lowtags {
namespace {

using namespace std::string_literals;
using testing::Sjis;

// Long enough for the eight-byte steps, with the telling bytes before, inside and after them.
const std::string kAscii = "<HTML><BODY>plain text of a page</BODY></HTML>\r\n";
const std::string kEuc8 = "\xBA\xA3\xC6\xFC\xA4\xCF\xC0\xB2"s;  // 今日は晴 in EUC-JP
const std::string kEuc7 = "\xBA\xA3\xC6\xFC\x8F\xB0\xA1"s;      // 今日 and a JIS X 0212 triple

TEST(EncodingGuardTest, JudgesTheSameWholeAndInBlocks) {
  // clang-format off
  const std::vector<std::pair<std::string, NotSjis>> cases = {
      {"", NotSjis::kNone}, {kAscii + Sjis("今日は晴れでした。") + kAscii, NotSjis::kNone},
      {kAscii + Sjis("ｱｲｳｴｵｶｷｸｹｺ") + kAscii, NotSjis::kNone}, {"\0"s + kAscii, NotSjis::kNul},
      {Sjis("日本") + kAscii + "\0"s, NotSjis::kNul},
      {"\xEF\xBB\xBF"s + kAscii + "\0"s, NotSjis::kNul},
      {Sjis("日本") + kAscii + "\x1A\r\n", NotSjis::kNone},
      {Sjis("日本") + "\x1A\nx", NotSjis::kAfterEof}, {kAscii + "\x1A", NotSjis::kNone},
      {kAscii + "\x1A\x1A\n\x1A", NotSjis::kNone}, {kAscii + "\x1Amore", NotSjis::kAfterEof},
      {kAscii + "\x1A\r\n" + kAscii, NotSjis::kAfterEof}, {"\x1A"s + "日本", NotSjis::kAfterEof},
      {"\xEF\xBB\xBF" + kAscii, NotSjis::kUtf8},
      {"\xEF\xBB\xBF" + kAscii + "\x82\xA0", NotSjis::kUtf8},  // the mark alone decides
      {"\xEF\xBB" + kAscii, NotSjis::kNone},
      {kAscii + "caf\xC3\xA9 na\xC3\xAFve" + kAscii, NotSjis::kNone},
      {kAscii + "今日は晴れでした。" + kAscii, NotSjis::kUtf8},
      {kAscii + "\xF0\x9F\x98\x80", NotSjis::kUtf8}, {kAscii + "日\xE6\x9C", NotSjis::kNone},
      {kAscii + "ＡＢ", NotSjis::kUtf8}, {kAscii + "\xE6\x41\x97\xA5", NotSjis::kNone},
      {kAscii + "日\xED\xA0\x80", NotSjis::kNone},  // a surrogate
      {kAscii + "日\xE0\x80\xAF", NotSjis::kNone},  // overlong
      {kAscii + kEuc8 + kAscii, NotSjis::kEucJp}, {kAscii + kEuc7 + kAscii, NotSjis::kNone},
      {kEuc7 + "\x8E\xB1", NotSjis::kEucJp}, {"\xA4\xA2\xA4\xA4\xA4\xA6\xA4\xA8", NotSjis::kNone},
      {"\xA4\xA2\xA4\xA4\xA4\xA6\xE0\xA1", NotSjis::kEucJp},  // E0 itself is a byte from E0 up
      {kEuc8 + "\xA4", NotSjis::kNone}, {kEuc8 + "\xA4\xFE\x8E\xDF", NotSjis::kEucJp},
      {kEuc8 + "\x80", NotSjis::kNone}};
  // clang-format on
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(CheckNotSjis(bytes), expected) << bytes;
    for (const std::size_t block : {1u, 3u, 9u}) {
      EncodingGuard guard;
      for (std::size_t at = 0; at < bytes.size(); at += block) guard.Feed(bytes.substr(at, block));
      EXPECT_EQ(guard.Verdict(), expected) << bytes << ", blocks of " << block;
    }
  }
}

}  // namespace
}  // namespace lowtags
