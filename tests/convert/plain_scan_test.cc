// The block walk and whole lines: the traps of lines, blocks and chunks. Each file goes every way
// production can run it and must give what the literal reference converter gives.
#include "convert/plain_scan.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "convert/reference_converter.h"
#include "support/fake_disk.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::Repeat;

const std::string kLine = "<P ALIGN=\"Center\">Text \x83\x65\x83\x4C<B CLASS=Big>Bold</B>\r\n";

// Lines made by `line` for each n in [from, to).
template <typename Line>
std::string Lines(int from, int to, Line line) {
  std::string s;
  for (int n = from; n < to; ++n) s += line(n);
  return s;
}

TEST(WholeLinesTest, AgreeWithTheReference) {
  // clang-format off
  const std::pair<const char*, std::string> cases[] = {
      {"", Repeat(kLine, 300) + Repeat("<A HREF=\"X\">Link</A>\n<B>x</B>\n\n" + std::string(100, 'y') + "\n<I>y</I>\r\n", 100)},
      {"c", Repeat(kLine, 300) + Lines(0, 4500, [](int i) { return "<TD CLASS=\"C" + std::to_string(i) + "\">" + std::string(i % 97, 'x') + "</TD>\r\n"; })},
      {"", Repeat(kLine, 40) + "<B>a\rb</B>\r\n" + Repeat(kLine, 40)},
      {"", Repeat(kLine, 40) + "<B>x</B>\r"},
      {"", Repeat(kLine, 40) + "<B>x</B>"},
      // Line ends on every offset of a 64-byte block, so that CR LF pairs split between blocks.
      {"", Lines(50, 140, [](int n) { return "<B>" + std::string(n, 'x') + "</B>\r\n"; }) + Lines(50, 140, [](int n) { return "<B>" + std::string(n, 'x') + "</B>\n"; })},
      {"c", "<B>" + std::string(9994, 'x') + "\r\n<B>" + std::string(9995, 'x') + "\r\n<I>" + std::string(9996, 'y') + ">\r\n<U>z</U>\r\n"},
      {"", Repeat("<A HREF=#Top\x82\r\n>X</A>\r\n<B \x82\r\n>", 50) + Repeat("<FONT COLOR=#FF00\r\nAA>x</FONT>\r\n", 60)},
      {"", Lines(55, 70, [](int n) { return std::string(n, 'x') + "<!--<B>-->-->--\r\n"; }) + Repeat("\x81<\x81>\x82\"<B>\x82<\x82\x3E</B>\r\n", 80)},
      {"", Repeat("<A TITLE=\"x>y\" HREF=\"Z\">Q</A>\r\n", 80)},
      {"", Repeat(kLine, 100) + "<B>x</B> > y\r\n"},
      {"", Repeat(kLine, 100) + "<B <I>\r\n"},
      {"kna", Repeat("abc\xB6\xDE\xB2\xC4\xDE <A HREF=\"X\">\x82\x50\x82\x54\x81\x44\x82\x57</A>\r\n", 200)},
      {"k", Repeat(std::string(60, 'a') + std::string(20, '\xB1') + "\xB6\xDE<B>\xB1</B>\r\n", 60) + Repeat("<!-- <B>\xB1 --> <B>\xB1</B>\r\n<!--\r\n\xB1\r\n-->\r\n", 40)},
      // 0x82 0x59 lies between the figures and the capitals: a stop that no rule takes.
      {"n", Repeat("<B>x</B>\x82\x59\x82\x59\x82\x50 and more text here\r\n", 60)},
      {"na", Repeat(kLine, 10) + "abc\x82"},
      {"r", Repeat("a<!--\x81-->b<B>\x82<!--x\x82-->-->c<!---->" + std::string(60, 'd') + "\r\n", 40) + Repeat("a<!-- x -->b<!--\r\n<B>\r\n-->c<I>\r\n</I>\r\n", 40)},
  };
  // clang-format on
  for (const auto& [options, input] : cases) {
    EXPECT_EQ(reference::Difference(reference::OptionsFromLetters(options), input), "");
  }
}

// Under -w whole lines reach the line store in chunks. Whichever allocation fails, the file holds
// either all of the new text or all of the old, and the result says which.
TEST(WholeLinesOverwrite, RunningOutOfMemoryLosesNothing) {
  const std::string input = Repeat(kLine, 4000);  // several chunks
  const std::string expected = testing::WithCrLf(
      reference::ReferenceConvert(reference::OptionsFromLetters("c"), input, nullptr));
  // Runs the conversion with allocation `fail_at` failing (none when negative); the allocations.
  const auto run = [&](long fail_at) {
    FakeDisk disk;
    disk.AddFile("page.htm", input);
    testing::ProgramRun program;
    const auto convert = [&] { program = testing::RunOnDisk(disk, {"-wc", "page.htm"}); };
    long made = 0;
    try {
      made = testing::Allocations(convert, fail_at);
    } catch (const std::bad_alloc&) {
      program.status = -1;
    }
    const bool converted = program.status == 0 && program.out.empty();
    const bool stopped = program.status == 1 && program.out.empty();  // told on standard error
    EXPECT_EQ(program.err, stopped ? "lowtags: out of memory\n" : "") << fail_at;
    EXPECT_EQ(disk.Contents("page.htm").value_or("(gone)"), converted ? expected : input)
        << "allocation " << fail_at << (converted ? " (converted)" : " (failed)");
    return made;
  };
  const long allocations = run(-1);
  EXPECT_GT(allocations, 10);
  for (long fail_at = 0; fail_at < allocations && !HasFailure(); ++fail_at) run(fail_at);
}

}  // namespace
}  // namespace lowtags
