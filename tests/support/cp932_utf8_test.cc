// CP932 to UTF-8 through the table: the same bytes as iconv gives, block edges, CR LF, stops.
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

using namespace std::string_literals;
using testing::Recode;
using testing::Repeat;
using testing::Sjis;

struct ConvertCase {
  const char* name;
  std::string input;
  bool crlf;
  std::size_t used;  // bytes converted: all but a lead byte at the end, or up to a bad byte
  bool bad;
};

void PrintTo(const ConvertCase& c, std::ostream* os) { *os << c.name; }

class Cp932ConvertTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(Cp932ConvertTest, GivesIconvsBytes) {
  const ConvertCase& c = GetParam();
  std::vector<char> out(Cp932ToUtf8::Room(c.input.size()));
  const Cp932ToUtf8::Step step = Cp932ToUtf8::Get().Convert(c.input, out.data(), c.crlf);
  const std::string taken = c.input.substr(0, step.used);
  const std::string expected = Recode(c.crlf ? testing::WithCrLf(taken) : taken, "CP932", "UTF-8");
  EXPECT_EQ(std::string(out.data(), step.written), expected);
  EXPECT_EQ(step.used, c.used);
  EXPECT_EQ(step.bad, c.bad);
  EXPECT_EQ(step.lines, static_cast<std::size_t>(std::count(taken.begin(), taken.end(), '\n')));
}

const std::string kMixed =
    Sjis("<P>今日はｶﾀｶﾅ、ＡＢＣ①と髙。\n") + "ascii only, longer than a block\n";

INSTANTIATE_TEST_SUITE_P(
    Texts, Cp932ConvertTest,
    ::testing::Values(ConvertCase{"mixed", Repeat(kMixed, 9), false, 9 * kMixed.size(), false},
                      ConvertCase{"mixed_crlf", Repeat(kMixed, 9), true, 9 * kMixed.size(), false},
                      ConvertCase{"newlines_only", std::string(40, '\n'), false, 40, false},
                      ConvertCase{"newlines_only_crlf", std::string(40, '\n'), true, 40, false},
                      ConvertCase{"lead_byte_last", Repeat("abc", 7) + "\x82", false, 21, false},
                      ConvertCase{"lead_byte_only", "\x82", false, 0, false},
                      ConvertCase{"unmapped_single", Repeat("a\n", 10) + "\x80z", false, 20, true},
                      ConvertCase{"unmapped_pair", Repeat("a\n", 3) + "\x81\x20z", true, 6, true},
                      ConvertCase{"unmapped_last_byte", Repeat("x", 17) + "\xFF", false, 17, true}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Agreement with iconv on one character alone: the same bytes, or a refusal from both.
void ExpectAsIconv(const std::string& ch) {
  char out[Cp932ToUtf8::Room(2)];
  const Cp932ToUtf8::Step step = Cp932ToUtf8::Get().Convert(ch, out);
  std::string expected = "(refused)";
  try {
    expected = Recode(ch, "CP932", "UTF-8");
  } catch (const std::runtime_error&) {
  }
  const bool maps = !step.bad && step.used == ch.size();
  EXPECT_EQ(maps ? std::string(out, step.written) : "(refused)", expected)
      << std::hex << static_cast<int>(static_cast<unsigned char>(ch[0]));
}

TEST(ConvertTableTest, AgreesWithIconvOnEveryCharacter) {
  for (int first = 0; first < 0x100; ++first) {
    const char lead = static_cast<char>(first);
    if (!IsLeadByte(lead)) {
      ExpectAsIconv(std::string(1, lead));
      continue;
    }
    for (int second = 0; second < 0x100; ++second) {
      ExpectAsIconv(std::string{lead, static_cast<char>(second)});
    }
  }
}

}  // namespace
}  // namespace lowtags
