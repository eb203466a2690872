// CP932 to UTF-8 through the table: the same bytes as iconv gives, CR LF, where it stops.
#include "support/cp932_utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/sjis.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::Recode;
using testing::Repeat;

// What the table gives, or "(refused)" when it stops before the end of `in`.
std::string Converted(const std::string& in, bool crlf, std::size_t* used = nullptr) {
  std::vector<char> out(Cp932ToUtf8::Room(in.size()));
  const Cp932ToUtf8::Step step = Cp932ToUtf8::Get().Convert(in, out.data(), crlf);
  const std::string taken = in.substr(0, step.used);
  EXPECT_EQ(step.lines, static_cast<std::size_t>(std::count(taken.begin(), taken.end(), '\n')));
  if (used != nullptr) *used = step.used;
  return step.bad || step.used < in.size() ? "(refused)" : std::string(out.data(), step.written);
}

TEST(Cp932Utf8Test, AgreesWithIconvOnEveryCharacterAndText) {
  for (int code = 0; code < 0x10000; ++code) {
    std::string ch = {static_cast<char>(code >> 8), static_cast<char>(code)};
    if (!IsLeadByte(ch[0]) && (code & 0xFF) != 0) continue;
    if (!IsLeadByte(ch[0])) ch.resize(1);
    std::string expected = "(refused)";
    try {
      expected = Recode(ch, "CP932", "UTF-8");
    } catch (const std::runtime_error&) {
    }
    ASSERT_EQ(Converted(ch, false), expected) << std::hex << code;
  }
  // Texts longer than a block, newlines as LF or CR LF.
  const std::string mixed =
      testing::Sjis("<P>今日はｶﾀｶﾅ、ＡＢＣ①と髙。\n") + "ascii only, longer than a block\n";
  for (const std::string& text : {Repeat(mixed, 9), std::string(40, '\n')}) {
    EXPECT_EQ(Converted(text, false), Recode(text, "CP932", "UTF-8"));
    EXPECT_EQ(Converted(text, true), Recode(testing::WithCrLf(text), "CP932", "UTF-8"));
  }
  // A lead byte at the end waits for its second byte; a byte that does not map stops the text.
  const std::vector<std::pair<std::string, std::size_t>> stops = {
      {Repeat("abc", 7) + "\x82", 21},
      {"\x82", 0},
      {Repeat("a\n", 10) + "\x80z", 20},
      {Repeat("a\n", 3) + "\x81\x20z", 6},
      {Repeat("x", 17) + "\xFF", 17}};
  for (const auto& [text, used] : stops) {
    std::size_t got = 0;
    EXPECT_EQ(Converted(text, true, &got), "(refused)");
    EXPECT_EQ(got, used) << text;
  }
}

}  // namespace
}  // namespace lowtags
