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

using testing::WithCrLf;

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

// A file converted in full: under -w it holds what standard output would show, whether its
// rewrite began early or, for whatever reason it could not, after the conversion.
struct Converted {
  const char* name;
  const char* letters;
  bool began_early;
  DiskOp failing_once = DiskOp::kRead;  // fails its first call with err; none when err is 0
  int err = 0;
  bool small = false;        // a page of one line instead of the large one
  bool hard_linked = false;  // a rename would part the links: written through itself at the end
};

TEST(RewriteAheadTest, WritesWhatTheConversionGives) {
  const std::vector<Converted> cases = {
      {"no options", "", true},
      {"upper case", "c", true},
      {"widths", "kna", true},
      {"comments, colours and links", "rbu", true},
      {"joined lines", "j", true},
      {"all together", "rjkc", true},
      {"small file", "", false, DiskOp::kRead, 0, true},
      {"no temporary file the first time", "", false, DiskOp::kCreateTemp, EACCES},
      {"file busy the first time", "", false, DiskOp::kOpenWrite, ETXTBSY},
      {"path not resolved the first time", "", false, DiskOp::kResolve, EIO},
      {"hard-linked file", "", false, DiskOp::kRead, 0, false, true},
  };
  const std::string large = LargePage();
  for (const Converted& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string input = c.small ? std::string("<B>x</B>\n") : large;
    FakeDisk disk;
    disk.AddFile(kPage, input, 0640);
    if (c.hard_linked) disk.AddHardLink(kPage, "other.htm");
    disk.set_read_chunk(50'000);
    disk.FailCall(c.failing_once, 1, c.err);
    const Outcome outcome = ConvertInPlace(disk, c.letters);
    EXPECT_EQ(outcome.result, ConvResult::kConverted);
    EXPECT_EQ(outcome.messages, "");
    EXPECT_TRUE(disk.Contents(kPage) == Expected(c.letters, input)) << "content differs";
    EXPECT_EQ(disk.Info(kPage)->mode, static_cast<mode_t>(S_IFREG | 0640));
    EXPECT_EQ(disk.Paths().size(), c.hard_linked ? 2u : 1u);  // no temporary file left
    EXPECT_TRUE(!c.hard_linked || disk.SameFile(kPage, "other.htm"));
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
    EXPECT_EQ(BeganEarly(disk), c.began_early);
  }
}

// A file not converted or not written back, whether it failed before or after the rewrite
// began: the file as it was, no temporary file, the message as for any file.
struct LeftAlone {
  const char* name;
  const char* tail;  // appended to the large page
  DiskOp op;
  int nth;
  int err;
  ConvResult result;
  const char* messages;  // null: the bracket message standard output shows
  bool began_early = true;
  mode_t perms = 0644;
};

// Close number 1 is the check that the file may be written; number 2 is the temporary file's.
TEST(RewriteAheadTest, FailureLeavesTheFileAsItWas) {
  const char* const kFailed = "page.htm: failed to rewrite\n";
  const DiskOp kNone = DiskOp::kRead;  // with err 0: nothing fails
  const std::vector<LeftAlone> cases = {
      {"disk full at the first write", "", DiskOp::kWrite, 1, ENOSPC, ConvResult::kStop, kFailed},
      {"disk full at a later write", "", DiskOp::kWrite, 4, ENOSPC, ConvResult::kStop, kFailed},
      {"sync fails", "", DiskOp::kSync, 1, EIO, ConvResult::kStop, kFailed},
      {"mode cannot be set", "", DiskOp::kCopyOwnerAndMode, 1, EPERM, ConvResult::kStop, kFailed},
      {"closing the temporary file fails", "", DiskOp::kClose, 2, EIO, ConvResult::kStop, kFailed},
      {"rename fails", "", DiskOp::kRename, 1, EXDEV, ConvResult::kStop, kFailed},
      {"read error late in the file", "", DiskOp::kRead, 30, EIO, ConvResult::kFailed, ""},
      {"second '<' on the last line", "<A <B>\n", kNone, 0, 0, ConvResult::kFailed, nullptr},
      {"stray '>' on the last line", "a>b\n", kNone, 0, 0, ConvResult::kFailed, nullptr},
      {"tag open at the end", "<A HREF=\"x\"", kNone, 0, 0, ConvResult::kFailed, nullptr},
      {"read-only file", "", kNone, 0, 0, ConvResult::kStop, "page.htm: cannot open to write\n",
       false, 0444},
  };
  const std::string large = LargePage();
  for (const LeftAlone& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string input = large + c.tail;
    std::string messages = c.messages != nullptr ? c.messages : "";
    if (c.messages == nullptr) {
      bool failed = false;
      const std::string shown =
          reference::ProductionConvert(reference::OptionsFromLetters(""), input, &failed);
      ASSERT_TRUE(failed);
      messages = shown.substr(shown.rfind("page.htm:"));
    }
    FakeDisk disk;
    disk.AddFile(kPage, input, c.perms);
    disk.set_read_chunk(50'000);
    disk.FailCall(c.op, c.nth, c.err);
    const Outcome outcome = ConvertInPlace(disk, "");
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.messages, messages);
    EXPECT_TRUE(disk.Contents(kPage) == input) << "file changed";
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
    EXPECT_EQ(BeganEarly(disk), c.began_early);
  }
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
