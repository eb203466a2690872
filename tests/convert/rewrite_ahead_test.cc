// -w on files large enough for the rewrite to begin while the conversion goes on: the same bytes
// as a rewrite after it, and the same guarantees when anything fails on either side.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "convert/conv_html.h"
#include "convert/options.h"
#include "convert/reference_converter.h"
#include "support/fake_disk.h"
#include "support/line_store.h"
#include "support/text_reader.h"
#include "test_support.h"

namespace lowtags {
namespace {

constexpr const char* kPage = "page.htm";

// Short lines, 100 KB lines that go by pieces, kana, comments and links: well past the point
// where the rewrite begins early.
std::string LargePage() {
  std::string page;
  const std::string long_line = [] {
    std::string s;
    while (s.size() < 100'000) s += "<FONT COLOR=\"Red\">\xb6\xc5 \x82\x60</FONT>";
    return s + "\r\n";
  }();
  for (int i = 0; page.size() < kRewriteAheadFrom * 3; ++i) {
    page +=
        "<P ALIGN=\"Center\"><A HREF=\"/x/y.htm\">\x8a\xbf\x8e\x9a \xb6\xde\xc5</A><!-- c -->\r\n";
    page += "<IMG SRC=\"a/b.gif\" BGCOLOR=\"#FFF\">\n";
    if (i % 1000 == 999) page += long_line;
  }
  return page;
}

std::string WithCrLf(std::string_view lf_text) {
  std::string out;
  for (const char c : lf_text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

struct Outcome {
  ConvResult result = ConvResult::kFailed;
  std::string messages;
};

// conv_html under -w with the option letters, on `page.htm` of the disk, as the program has it.
Outcome ConvertInPlace(FakeDisk& disk, std::string_view letters) {
  const OptionSet saved = Options;
  const int saved_dup_check = name_lst_dup_check;
  Options = reference::OptionsFromLetters(letters);
  Options.overwrite = 1;
  name_lst_dup_check = 0;
  Outcome outcome;
  int fd = -1;
  if (disk.OpenRead(kPage, &fd) == 0) {
    PieceReader reader(disk, fd);
    testing::StringSink out;
    outcome.result = conv_html(reader, kPage, out, disk);
    outcome.messages = out.text;
    disk.Close(fd);
  }
  Options = saved;
  name_lst_dup_check = saved_dup_check;
  return outcome;
}

// What the same conversion hands to standard output, with its newlines as the file gets them.
std::string Expected(std::string_view letters, const std::string& input) {
  bool failed = false;
  const std::string lines =
      reference::ProductionConvert(reference::OptionsFromLetters(letters), input, &failed);
  EXPECT_FALSE(failed);
  return WithCrLf(lines);
}

// The temporary file was made before the file was read to its end.
bool BeganEarly(const FakeDisk& disk) {
  const auto& calls = disk.calls();
  const auto made = std::find_if(calls.begin(), calls.end(), [](const DiskCall& c) {
    return c.op == DiskOp::kCreateTemp && c.result == 0;
  });
  const auto last_read = std::find_if(calls.rbegin(), calls.rend(),
                                      [](const DiskCall& c) { return c.op == DiskOp::kRead; });
  return made != calls.end() && last_read != calls.rend() && made < last_read.base();
}

TEST(RewriteAheadTest, WritesWhatTheConversionGivesWhileItGoesOn) {
  const std::string input = LargePage();
  for (const char* letters : {"", "c", "kna", "rbu", "j", "rjkc"}) {
    SCOPED_TRACE(std::string("options ") + letters);
    FakeDisk disk;
    disk.AddFile(kPage, input, 0640);
    disk.set_read_chunk(50'000);
    const Outcome outcome = ConvertInPlace(disk, letters);
    EXPECT_EQ(outcome.result, ConvResult::kConverted);
    EXPECT_EQ(outcome.messages, "");
    EXPECT_TRUE(disk.Contents(kPage) == Expected(letters, input)) << "content differs";
    EXPECT_EQ(disk.Info(kPage)->mode, static_cast<mode_t>(S_IFREG | 0640));
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
    EXPECT_TRUE(BeganEarly(disk));
  }
}

TEST(RewriteAheadTest, SmallFileIsWrittenOnlyOnceConverted) {
  FakeDisk disk;
  disk.AddFile(kPage, "<B>x</B>\n");
  EXPECT_EQ(ConvertInPlace(disk, "").result, ConvResult::kConverted);
  EXPECT_EQ(disk.Contents(kPage), "<b>x</b>\r\n");
  EXPECT_FALSE(BeganEarly(disk));
}

struct AheadFailure {
  const char* name;
  DiskOp op;
  int nth;
  int err;
  ConvResult result;
  const char* messages;
};

// Close number 1 is the check that the file may be written; number 2 is the temporary file's.
TEST(RewriteAheadTest, FailureLeavesTheFileAsItWas) {
  const std::vector<AheadFailure> cases = {
      {"disk full at the first write", DiskOp::kWrite, 1, ENOSPC, ConvResult::kStop,
       "page.htm: failed to rewrite\n"},
      {"disk full at a later write", DiskOp::kWrite, 4, ENOSPC, ConvResult::kStop,
       "page.htm: failed to rewrite\n"},
      {"sync fails", DiskOp::kSync, 1, EIO, ConvResult::kStop, "page.htm: failed to rewrite\n"},
      {"mode cannot be set", DiskOp::kCopyOwnerAndMode, 1, EPERM, ConvResult::kStop,
       "page.htm: failed to rewrite\n"},
      {"closing the temporary file fails", DiskOp::kClose, 2, EIO, ConvResult::kStop,
       "page.htm: failed to rewrite\n"},
      {"rename fails", DiskOp::kRename, 1, EXDEV, ConvResult::kStop,
       "page.htm: failed to rewrite\n"},
      {"read error late in the file", DiskOp::kRead, 30, EIO, ConvResult::kFailed, ""},
  };
  const std::string input = LargePage();
  for (const AheadFailure& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile(kPage, input);
    disk.set_read_chunk(50'000);
    disk.FailCall(c.op, c.nth, c.err);
    const Outcome outcome = ConvertInPlace(disk, "");
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.messages, c.messages);
    EXPECT_TRUE(disk.Contents(kPage) == input) << "file changed";
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
    EXPECT_TRUE(BeganEarly(disk));
  }
}

// A bracket error found after the rewrite began: the message as ever, the file untouched.
TEST(RewriteAheadTest, BracketErrorLateInTheFileLeavesItAlone) {
  for (const char* tail : {"<A <B>\n", "a>b\n", "<A HREF=\"x\""}) {
    SCOPED_TRACE(tail);
    const std::string input = LargePage() + tail;
    bool failed = false;
    const std::string shown =
        reference::ProductionConvert(reference::OptionsFromLetters(""), input, &failed);
    ASSERT_TRUE(failed);
    FakeDisk disk;
    disk.AddFile(kPage, input);
    const Outcome outcome = ConvertInPlace(disk, "");
    EXPECT_EQ(outcome.result, ConvResult::kFailed);
    EXPECT_EQ(outcome.messages, shown.substr(shown.rfind("page.htm:")));
    EXPECT_TRUE(disk.Contents(kPage) == input) << "file changed";
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
    EXPECT_TRUE(BeganEarly(disk));
  }
}

// Whatever keeps the rewrite from beginning early, it is all done after the conversion instead,
// and a failure that lasts is reported there as for any file.
TEST(RewriteAheadTest, WhatCannotBeginEarlyIsDoneAtTheEnd) {
  const std::string input = LargePage();
  const std::string expected = Expected("", input);
  struct Case {
    const char* name;
    DiskOp op;
    int err;
  };
  for (const Case& c : {Case{"no temporary file the first time", DiskOp::kCreateTemp, EACCES},
                        Case{"file busy the first time", DiskOp::kOpenWrite, ETXTBSY},
                        Case{"path not resolved the first time", DiskOp::kResolve, EIO}}) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile(kPage, input);
    disk.FailCall(c.op, 1, c.err);
    const Outcome outcome = ConvertInPlace(disk, "");
    EXPECT_EQ(outcome.result, ConvResult::kConverted);
    EXPECT_TRUE(disk.Contents(kPage) == expected) << "content differs";
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
    EXPECT_FALSE(BeganEarly(disk));
  }
  FakeDisk read_only;
  read_only.AddFile(kPage, input, 0444);
  const Outcome outcome = ConvertInPlace(read_only, "");
  EXPECT_EQ(outcome.result, ConvResult::kStop);
  EXPECT_EQ(outcome.messages, "page.htm: cannot open to write\n");
  EXPECT_TRUE(read_only.Contents(kPage) == input) << "file changed";
}

// A rename would part the links: the file is written through itself once converted.
TEST(RewriteAheadTest, HardLinkedFileIsWrittenInPlaceAtTheEnd) {
  const std::string input = LargePage();
  FakeDisk disk;
  disk.AddFile(kPage, input);
  disk.AddHardLink(kPage, "other.htm");
  EXPECT_EQ(ConvertInPlace(disk, "").result, ConvResult::kConverted);
  const std::string expected = Expected("", input);
  EXPECT_TRUE(disk.Contents(kPage) == expected) << "content differs";
  EXPECT_TRUE(disk.SameFile(kPage, "other.htm"));
  EXPECT_FALSE(BeganEarly(disk));
}

// Whichever allocation fails, on either thread, the file holds all of the new text or all of the
// old, and the result says which.
TEST(RewriteAheadTest, RunningOutOfMemoryLosesNothing) {
  const std::string input = LargePage();
  const std::string expected = Expected("", input);
  const auto run = [&](long fail_at) {
    FakeDisk disk;
    disk.AddFile(kPage, input);
    Outcome outcome;
    long made = 0;
    try {
      made = testing::Allocations([&] { outcome = ConvertInPlace(disk, ""); }, fail_at);
    } catch (const std::bad_alloc&) {
      outcome.result = ConvResult::kFailed;
    }
    const bool converted = outcome.result == ConvResult::kConverted;
    EXPECT_TRUE(disk.Contents(kPage) == (converted ? expected : input))
        << "allocation " << fail_at << (converted ? " (converted)" : " (failed)");
    return made;
  };
  const long allocations = run(-1);
  EXPECT_GT(allocations, 10);
  for (long fail_at = 0; fail_at < allocations && !HasFailure(); ++fail_at) run(fail_at);
}

}  // namespace
}  // namespace lowtags
