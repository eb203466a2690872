// The program's file loop on a fake disk: exit statuses, messages, full drives (the drive of a
// writable regular file must show a byte free once it is read), read errors, the output forms
// and -w refusals.
#include "driver/file_loop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/fake_disk.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::RunOnDisk;
using namespace std::string_literals;

// The disk holds page.htm (or `page`), bad.htm (a tag left open at its end), a device and a
// piped standard input. Exit status: 0 when every file converted, 1 on a usage error or a run
// that ended early, 2 when the loop ran to its end and some file got a message of its own.
struct RunCase {
  const char* name;
  std::string args;  // split at spaces
  int status;
  std::string out;
  std::function<void(FakeDisk&)> setup = nullptr;
  std::string page = "<B>x</B>\n";
  std::optional<std::string> after = std::nullopt;  // page.htm at the end, when it matters
  std::string err = "";
};

const std::string kBad = "<bbad.htm: '<' unmatch to '>'\r\nbad.htm: failed to convert\r\n";
const std::string kFull = "<b>x</b>\r\nno free disk space\r\npage.htm: failed to convert\r\n";
const auto kNoSpace = [](FakeDisk& d) { d.set_free_space(0.0); };
const auto kSecondReadFails = [](FakeDisk& d) {
  d.set_read_chunk(11);  // the first read returns the first line whole
  d.FailCall(DiskOp::kRead, 2, EIO);
};
std::function<void(FakeDisk&)> Fail(DiskOp op, int err) {
  return [=](FakeDisk& d) { d.FailCall(op, 1, err); };
}
std::function<void(FakeDisk&)> Space(double bytes) {
  return [=](FakeDisk& d) { d.set_free_space(bytes); };
}
const auto kFullReadOnly = [](FakeDisk& d) {
  d.set_free_space(0.0);
  d.set_read_only(true);
};
const std::string kTwoLines = "<B>one</B>\n<B>two</B>\n";
const std::string kUtf8Page = "<B>\xE6\x97\xA5\xE6\x9C\xAC</B>\n";         // 日本 in UTF-8
const std::string kEucPage = "<B>\xBA\xA3\xC6\xFC\xA4\xCF\xC0\xB2</B>\n";  // 今日は晴 in EUC-JP
const std::string kSjisPage = "<B>\x93\xFA\x96\x7B</B>\n";                 // 日本 in Shift_JIS
const std::string kUtf8Out = "<b>\xE6\x97\xA5\xE6\x9C\xAC</b>";
const std::string kUnmappedMessage =
    "page.htm:3: not convertible to UTF-8\r\npage.htm: failed to convert\r\n";
const std::string kUnmapped =
    "<B>a</B>\nb\n\x80"
    "c\n";

TEST(FileLoopTest, StatusAndOutput) {
  const std::vector<RunCase> cases = {
      {"clean", "page.htm page.htm", 0, "<b>x</b>\r\n<b>x</b>\r\n"},
      {"no argument", "", 1, "Usage: lowtags [-abcfijkmnorsuw] <htmlfiles>\r\n"},
      {"unknown letter", "-q page.htm", 1, "q: unknown option\r\n"},
      {"unknown long option", "--utf page.htm", 1, "--utf: unknown option\r\n"},
      {"long option after a name", "page.htm --lf", 2, "<b>x</b>\r\n--lf: not found\r\n"},
      {"missing", "none.htm page.htm", 2, "none.htm: not found\r\n<b>x</b>\r\n"},
      {"bracket error", "bad.htm page.htm", 2, kBad + "<b>x</b>\r\n"},
      {"bracket error ignored", "-i bad.htm", 0, "<b"},
      {"-w failure goes on", "-w bad.htm page.htm", 2, kBad.substr(2)},
      {"-w stops", "-w page.htm bad.htm", 1, "page.htm: failed to rewrite\r\n",
       Fail(DiskOp::kRename, EIO)},
      {"full disk", "page.htm", 2, kFull, kNoSpace},
      // Read-only media show no free space, and need none.
      {"full read-only media", "page.htm", 0, "<b>x</b>\r\n", kFullReadOnly},
      {"a byte free", "page.htm", 0, "<b>x</b>\r\n", Space(1.0)},
      {"free bytes past 32 bits", "page.htm", 0, "<b>x</b>\r\n", Space(1e20)},
      {"less than a byte free", "page.htm", 2, kFull, Space(0.5)},
      {"free space unknown", "page.htm", 2, kFull, Fail(DiskOp::kFreeSpace, ENOSYS)},
      {"drive named", "c:page.htm", 2,
       "<b>x</b>\r\nc drive: no free disk space\r\nc:page.htm: failed to convert\r\n",
       [](FakeDisk& d) {
         d.set_free_space(0.0);
         d.AddFile("c:page.htm", "<B>x</B>\n");
       }},
      // A failed close is reported alone: the drive is not asked.
      {"close fails", "page.htm", 2, "<b>x</b>\r\npage.htm: failed to convert\r\n",
       [](FakeDisk& d) {
         d.set_free_space(0.0);
         d.FailCall(DiskOp::kClose, 1, EIO);
       }},
      {"file kind unknown", "page.htm", 2, kFull,
       [](FakeDisk& d) {
         kFullReadOnly(d);
         d.FailCall(DiskOp::kIsWritableRegular, 1, EIO);
       }},
      // Its drive is asked by the name that is gone.
      {"file removed meanwhile", "page.htm", 2, kFull,
       [](FakeDisk& d) {
         d.set_free_space(0.0);
         d.OnCall(DiskOp::kRead, 1, [&d] { d.UnlinkAt(kWorkingFolder, "page.htm"); });
       }},
      {"full disk, device", "/dev/cd", 0, "", kNoSpace},
      {"full disk, piped stdin", "-", 0, "<i>y</i>\r\n", kNoSpace},
      {"full disk, stdin from a file", "-", 2,
       "<i>y</i>\r\nno free disk space\r\n-: failed to convert\r\n",
       [](FakeDisk& d) {
         kNoSpace(d);
         d.SetStdin("<I>y</I>\n", S_IFREG);
       }},
      {"stdin read error", "- page.htm", 2, "-: failed to convert\r\n<b>x</b>\r\n",
       Fail(DiskOp::kRead, EIO)},
      {"stdin under -w", "-w - page.htm", 2, "-: not a regular file\r\n"},
      {"read error", "page.htm bad.htm", 2, "<b>one</b>\r\npage.htm: failed to convert\r\n" + kBad,
       kSecondReadFails, kTwoLines},
      {"read error under -w", "-w page.htm", 2, "page.htm: failed to convert\r\n", kSecondReadFails,
       kTwoLines, kTwoLines},
      // Half of the block goes out before the pipe breaks.
      {"standard output fails", "page.htm", 1, "<b>x<", Fail(DiskOp::kWrite, EPIPE), "<B>x</B>\n",
       std::nullopt, "lowtags: write error on standard output: Broken pipe\n"},
      {"utf8 page refused", "-w page.htm", 2, "page.htm: not Shift_JIS text (UTF-8)\r\n", nullptr,
       kUtf8Page, kUtf8Page},
      {"euc page refused", "--utf8 -w page.htm", 2, "page.htm: not Shift_JIS text (EUC-JP)\r\n",
       nullptr, kEucPage, kEucPage},
      {"utf8 page done already", "--utf8 -w page.htm", 0, "", nullptr, kUtf8Page, kUtf8Page},
      {"no guard on standard output", "page.htm", 0, kUtf8Out + "\r\n", nullptr, kUtf8Page},
      {"utf8 rewrite", "-w --utf8 page.htm", 0, "", nullptr, kSjisPage, kUtf8Out + "\r\n"},
      {"utf8 lf rewrite", "--lf --utf8 -w page.htm", 0, "", nullptr, kSjisPage, kUtf8Out + "\n"},
      {"unmapped byte", "--utf8 page.htm", 2, "<b>a</b>\r\nb\r\n" + kUnmappedMessage, nullptr,
       kUnmapped},
      {"unmapped byte under -w", "--utf8 -w page.htm", 2, kUnmappedMessage, nullptr, kUnmapped,
       kUnmapped},
      {"lf text and messages", "--lf page.htm", 2,
       "<a>\n<b\npage.htm: '<' unmatch to '>'\npage.htm: failed to convert\n", nullptr,
       "<A>\n<B\n"},
      {"bracket error line in utf8", "--utf8 page.htm", 2,
       "page.htm:1: <b>\xE6\x97\xA5<i <A>\r\n'<' does not close.\r\npage.htm: failed to "
       "convert\r\n",
       nullptr, "<B>\x93\xFA<I <A>\n"}};
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile("page.htm", c.page);
    disk.AddFile("bad.htm", "<B");
    disk.AddSpecial("/dev/cd", S_IFCHR);
    disk.SetStdin("<I>y</I>\n");
    if (c.setup) c.setup(disk);
    std::istringstream split(c.args);
    const std::vector<std::string> words{std::istream_iterator<std::string>(split), {}};
    std::vector<const char*> args;
    for (const std::string& word : words) args.push_back(word.c_str());
    const ProgramRun run = RunOnDisk(disk, args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    if (c.after) {
      EXPECT_EQ(disk.Contents("page.htm"), *c.after);
    }
  }
}

// A message proper stops at 1024 bytes; a name that cannot fit whole is cut to 768 bytes so that
// the rest of the message still follows it.
TEST(FileLoopTest, LongNameInAMessageIsCutAtTheLimit) {
  const std::string tail = ": not found\r\n";
  const std::vector<std::pair<std::size_t, std::string>> cases = {
      {1012, tail}, {1013, ": not found"}, {1024, ""}, {1025, std::string(768, 'n') + tail}};
  for (const auto& [length, expected] : cases) {
    FakeDisk disk;
    const std::string name(length, 'n');
    const std::string want = length > 1024 ? expected : name + expected;
    EXPECT_EQ(RunOnDisk(disk, {name.c_str()}).out, want) << length;
  }
}

TEST(FileLoopTest, StandardInputIsNeitherOpenedNorClosed) {
  FakeDisk disk;
  disk.SetStdin("<I>y</I>\n");
  const ProgramRun run = RunOnDisk(disk, {"-", "-"});
  EXPECT_EQ(run.out, "<i>y</i>\r\n");  // the second read finds the end
  EXPECT_EQ(disk.Count(DiskOp::kOpenRead), 0);
  EXPECT_EQ(disk.Count(DiskOp::kClose), 2);  // the test's standard output and error alone
}

}  // namespace
}  // namespace lowtags
