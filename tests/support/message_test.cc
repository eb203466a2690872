#include "support/message.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

namespace lowtags {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

class RecordingSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override { writes.emplace_back(bytes); }
  std::vector<std::string> writes;
};

std::string Edit(std::string_view format, const std::vector<MsgArg>& args = {}) {
  return std::string(err_edit(format, args));
}

struct EditCase {
  const char* name;
  std::string format;
  std::vector<MsgArg> args;
  std::string expected;
};

class MessageTable : public ::testing::TestWithParam<EditCase> {};

TEST_P(MessageTable, ExpandsExactly) {
  const EditCase& c = GetParam();
  EXPECT_EQ(Edit(c.format, c.args), c.expected);
}

const unsigned char kKatakanaA = 0xB1;

INSTANTIATE_TEST_SUITE_P(
    Conversions, MessageTable,
    ::testing::Values(
        EditCase{"Literal", "plain text\n", {}, "plain text\n"},
        EditCase{"CharLowByte", "%c|%c|%c", {0x141, 'x', kKatakanaA}, "A|x|\xB1"},
        EditCase{"DecimalSigned", "%d %d %d", {0, -42, INT_MIN}, "0 -42 -2147483648"},
        EditCase{"DecimalIs32Bit", "%d", {(1LL << 32) + 5}, "5"},
        EditCase{"DecimalOfSignedChar", "%d", {'\x81'}, "-127"},
        EditCase{"HexLowerNoPrefix", "%x %x %x", {255, -1, 0}, "ff ffffffff 0"},
        EditCase{"Fixed", "%f %f", {1.5, -0.25}, "1.500000 -0.250000"},
        EditCase{"String", "[%s]", {"abc"}, "[abc]"},
        EditCase{"StringEndsAtNul", "[%s]", {"ab\0cd"sv}, "[ab]"},
        EditCase{"NullCString", "[%s]", {static_cast<const char*>(nullptr)}, "[]"},
        EditCase{"DoublePercentTakesNoArgument", "100%% %d", {7}, "100%% 7"},
        EditCase{"WidthIsNotRecognised", "%5d|%d", {7}, "%5d|7"},
        EditCase{"UnknownLetterTakesNoArgument", "%q%s", {"x"}, "%qx"},
        EditCase{"LonePercentAtEnd", "abc%", {}, "abc%"}, EditCase{"OnlyPercent", "%", {}, "%"},
        EditCase{"FormatEndsAtNul", "a%d\0%d"s, {1, 2}, "a1"},
        EditCase{"MissingArgumentsReadAsZero", "%d|%s|%x|%c|%f", {}, "0||0|\0|0.000000"s},
        EditCase{"WrongKindsReadAsZero", "%d|%s|%f|%x", {"12", 5, 3, 2.5}, "0||0.000000|0"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Message, StdStringArgument) {
  const std::string name = "xy\0z"s;
  EXPECT_EQ(Edit("[%s]", {name}), "[xy]");
}

TEST(Message, ResultLivesInMsgBufAndIsNulTerminated) {
  const std::string_view r = err_edit("%s-%d\n", std::vector<MsgArg>{"a", 1});
  EXPECT_EQ(r.data(), msg_buf);
  EXPECT_EQ(r, "a-1\n");
  EXPECT_EQ(msg_buf[r.size()], '\0');
}

TEST(Message, EachCallStartsAfresh) {
  Edit(std::string(900, 'z') + "%d", {1});
  EXPECT_EQ(Edit("%d\n", {2}), "2\n");
  EXPECT_EQ(msg_buf[2], '\0');
}

TEST(Message, LongFileNameIsCutTo768) {
  const std::string name(2000, 'n');
  const std::string r = Edit("%s: not found\n", {name});
  EXPECT_EQ(r.size(), 780u);
  EXPECT_EQ(r, std::string(768, 'n') + ": not found\n");
}

TEST(Message, StringThatFitsExactlyIsWhole) {
  const std::string r = Edit("ab%sTAIL", {std::string(1022, 's')});
  EXPECT_EQ(r, "ab" + std::string(1022, 's'));  // the limit is reached, the tail is not begun
}

TEST(Message, CutPastSeven68AppendsNothing) {
  // 800 bytes already stand, so a string that does not fit has nowhere to be cut to.
  const std::string lead(800, 'p');
  EXPECT_EQ(Edit(lead + "%sEND", {std::string(300, 's')}), lead + "END");
  // At exactly 768 the cut is empty too.
  const std::string at768(768, 'p');
  EXPECT_EQ(Edit(at768 + "%sEND", {std::string(300, 's')}), at768 + "END");
  // A string that still fits is appended whole, even past 768.
  EXPECT_EQ(Edit(lead + "%sEND", {std::string(224, 's')}), lead + std::string(224, 's'));
}

TEST(Message, CutMaySplitAShiftJisCharacter) {
  std::string name(10, 'a');
  for (int i = 0; i < 600; ++i) {
    name += "\x83\x5C";
  }
  const std::string r = Edit("%s\n", {name});
  ASSERT_EQ(r.size(), 769u);
  EXPECT_EQ(r.substr(0, 768), name.substr(0, 768));
  EXPECT_EQ(r.substr(766, 3), "\x83\x5C\n");  // 758 bytes of pairs end on a whole pair here
  const std::string odd = Edit("x%s\n", {name});
  EXPECT_EQ(odd.substr(767), "\x83\n");  // and here on a lone lead byte
}

struct BracketCase {
  std::size_t line_length;
  const char* format;
  const char* tail;
  std::size_t expected_length;
};

class BracketMessage : public ::testing::TestWithParam<BracketCase> {};

// The whole current line goes into a bracket error; it decides whether the tail survives.
TEST_P(BracketMessage, Shape) {
  const BracketCase& c = GetParam();
  std::string line(c.line_length - 1, 'L');
  line.back() = 'E';
  line += '\n';
  const std::string prefix = "a.htm:3: ";
  const std::string r = Edit(c.format, {"a.htm", 3, line});
  ASSERT_EQ(r.size(), c.expected_length);
  const std::string tail = c.tail;
  if (prefix.size() + line.size() <= kMsgLimit) {
    const std::string whole = prefix + line + tail;
    EXPECT_EQ(r, whole.substr(0, kMsgLimit));
  } else {
    EXPECT_EQ(r, prefix + line.substr(0, 768 - prefix.size()) + tail);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Message, BracketMessage,
    ::testing::Values(
        BracketCase{1015, "%s:%d: %s'<' does not close.\n", "'<' does not close.\n", 1024},
        BracketCase{1016, "%s:%d: %s'<' does not close.\n", "'<' does not close.\n", 788},
        BracketCase{1000, "%s:%d: %s'<' does not close.\n", "'<' does not close.\n", 1024},
        BracketCase{20, "%s:%d: %s'<' does not close.\n", "'<' does not close.\n", 49},
        BracketCase{9999, "%s:%d: %s'<' does not close.\n", "'<' does not close.\n", 788},
        BracketCase{1016, "%s:%d: %s'>' does not correspond with '<'.\n",
                    "'>' does not correspond with '<'.\n", 802}));

TEST(Message, LineOf1015EndsInItsNewline) {
  const std::string line = std::string(1014, 'L') + "\n";
  const std::string r = Edit("%s:%d: %s'<' does not close.\n", {"a.htm", 3, line});
  EXPECT_EQ(r, "a.htm:3: " + line);
}

struct OverrunCase {
  const char* name;
  std::size_t lead;
  std::string conversion;
  std::vector<MsgArg> args;
  std::string appended;
};

class MessageOverrun : public ::testing::TestWithParam<OverrunCase> {};

// The limit is looked at only between steps: a step that begins below 1024 runs to its end.
TEST_P(MessageOverrun, StepBegunBelowLimitCompletes) {
  const OverrunCase& c = GetParam();
  const std::string lead(c.lead, '.');
  const std::string r = Edit(lead + c.conversion + "never", c.args);
  EXPECT_EQ(r, lead + c.appended);
  EXPECT_EQ(msg_buf[r.size()], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Message, MessageOverrun,
    ::testing::Values(OverrunCase{"DecimalAt1022", 1022, "%d", {INT_MIN}, "-2147483648"},
                      OverrunCase{"HexAt1023", 1023, "%x", {-1}, "ffffffff"},
                      OverrunCase{"UnknownAt1023", 1023, "%%", {}, "%%"},
                      OverrunCase{"CharAt1023", 1023, "%c", {'!'}, "!"},
                      OverrunCase{"LiteralAt1023", 1023, "x", {}, "x"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Message, HugeFixedStaysInsideTheBuffer) {
  char full[400];
  const int n = std::snprintf(full, sizeof full, "%f", 1e308);
  ASSERT_GT(n, 300);
  const std::string lead(1000, '.');
  const std::string_view r = err_edit(lead + "%ftail", std::vector<MsgArg>{1e308});
  ASSERT_EQ(r.size(), kMsgBufSize - 1);
  EXPECT_EQ(r.substr(1000), std::string_view(full, kMsgBufSize - 1 - 1000));
  EXPECT_EQ(msg_buf[kMsgBufSize - 1], '\0');
}

TEST(Message, ErrmsgWithoutPercentWritesFormatAsItStands) {
  err_edit("marker", {});
  RecordingSink sink;
  errmsg(sink, "no free disk space\n");
  ASSERT_EQ(sink.writes.size(), 1u);
  EXPECT_EQ(sink.writes[0], "no free disk space\n");
  EXPECT_EQ(std::string(msg_buf), "marker");  // the formatter was not involved
}

TEST(Message, ErrmsgExpandsWithOneWrite) {
  RecordingSink sink;
  errmsg(sink, "%c: unknown option\n", {'z'});
  errmsg(sink, "%s: failed to convert\n", {"p.htm"});
  ASSERT_EQ(sink.writes.size(), 2u);
  EXPECT_EQ(sink.writes[0], "z: unknown option\n");
  EXPECT_EQ(sink.writes[1], "p.htm: failed to convert\n");
}

TEST(Message, ErrmsgWritesLongMessageWhole) {
  RecordingSink sink;
  errmsg(sink, "%s: not found\n", {std::string(2000, 'n')});
  ASSERT_EQ(sink.writes.size(), 1u);
  EXPECT_EQ(sink.writes[0].size(), 780u);
}

}  // namespace
}  // namespace lowtags
