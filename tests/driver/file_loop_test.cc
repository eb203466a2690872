// The program's file loop on a fake disk: exit statuses, messages, full drives (the drive of a
// writable regular file must show a byte free once it is read), read errors, the output forms
// and -w refusals.
#include "driver/file_loop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
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
using Setup = std::vector<DiskStep>;

// The disk holds page.htm (or `page`), bad.htm (a tag left open at its end), c:page.htm and a
// piped standard input. Exit status: 0 when every file converted, 1 on a usage error or a run
// that ended early, 2 when the loop ran to its end and some file got a message of its own.
struct RunCase {
  const char* name;
  std::string args;  // split at spaces
  int status;
  std::string out;
  Setup setup = {};
  std::string page = "<B>x</B>\n";
  std::optional<std::string> after = std::nullopt;  // page.htm at the end, when not `page`
};

DiskStep Space(double bytes) {
  return [=](FakeDisk& d) { d.set_free_space(bytes); };
}

const std::string kBad = "<bbad.htm: '<' unmatch to '>'\r\nbad.htm: failed to convert\r\n";
const std::string kFull = "<b>x</b>\r\nno free disk space\r\npage.htm: failed to convert\r\n";
// The first read returns the first line whole; the second fails.
const Setup kSecondReadFails = {[](FakeDisk& d) { d.set_read_chunk(11); },
                                Fail(DiskOp::kRead, EIO, 2)};
const std::string kTwoLines = "<B>one</B>\n<B>two</B>\n";
const std::string kUtf8Page = "<B>\xE6\x97\xA5\xE6\x9C\xAC</B>\n";         // 日本 in UTF-8
const std::string kEucPage = "<B>\xBA\xA3\xC6\xFC\xA4\xCF\xC0\xB2</B>\n";  // 今日は晴 in EUC-JP
const std::string kUtf8Out = "<b>\xE6\x97\xA5\xE6\x9C\xAC</b>";
const std::string kLongName(1013, 'n');

TEST(FileLoopTest, StatusAndOutput) {
  // clang-format off
  const std::vector<RunCase> cases = {
      {"clean", "page.htm page.htm", 0, "<b>x</b>\r\n<b>x</b>\r\n"},
      {"no argument", "", 1, "Usage: lowtags [-abcfijkmnorsuw] <htmlfiles>\r\n"},
      {"unknown long option", "--utf page.htm", 1, "--utf: unknown option\r\n"},
      {"long option after a name", "page.htm --lf", 2, "<b>x</b>\r\n--lf: not found\r\n"},
      {"missing", "none.htm page.htm", 2, "none.htm: not found\r\n<b>x</b>\r\n"},
      // A message stops at 1024 bytes.
      {"name ends the message", kLongName, 2, kLongName + ": not found"},
      {"bracket error", "bad.htm page.htm", 2, kBad + "<b>x</b>\r\n"},
      {"-w failure goes on", "-w bad.htm page.htm", 2, kBad.substr(2), {}, "<B>x</B>\n", "<b>x</b>\r\n"},
      {"-w stops", "-w page.htm bad.htm", 1, "page.htm: failed to rewrite\r\n", {Fail(DiskOp::kRename, EIO)}},
      // Read-only media show no free space, and need none.
      {"full read-only media", "page.htm", 0, "<b>x</b>\r\n", {Space(0.0), [](FakeDisk& d) { d.set_read_only(true); }}},
      {"a byte free", "page.htm", 0, "<b>x</b>\r\n", {Space(1.0)}},
      {"less than a byte free", "page.htm", 2, kFull, {Space(0.5)}},
      {"free space unknown", "page.htm", 2, kFull, {Fail(DiskOp::kFreeSpace, ENOSYS)}},
      {"drive named", "c:page.htm", 2, "<b>x</b>\r\nc drive: no free disk space\r\nc:page.htm: failed to convert\r\n", {Space(0.0)}},
      // A failed close is reported alone: the drive is not asked.
      {"close fails", "page.htm", 2, "<b>x</b>\r\npage.htm: failed to convert\r\n", {Space(0.0), Fail(DiskOp::kClose, EIO)}},
      {"file kind unknown", "page.htm", 2, kFull, {Space(0.0), Fail(DiskOp::kIsWritableRegular, EIO)}},
      {"full disk, piped stdin", "-", 0, "<i>y</i>\r\n", {Space(0.0)}},
      {"full disk, stdin from a file", "-", 2, "<i>y</i>\r\nno free disk space\r\n-: failed to convert\r\n",
       {Space(0.0), [](FakeDisk& d) { d.SetStdin("<I>y</I>\n", S_IFREG); }}},
      {"stdin read twice, never opened", "- -", 0, "<i>y</i>\r\n"},  // the second read finds the end
      {"stdin read error", "- page.htm", 2, "-: failed to convert\r\n<b>x</b>\r\n", {Fail(DiskOp::kRead, EIO)}},
      {"stdin under -w", "-w - page.htm", 2, "-: not a regular file\r\n", {}, "<B>x</B>\n", "<b>x</b>\r\n"},
      {"read error", "page.htm bad.htm", 2, "<b>one</b>\r\npage.htm: failed to convert\r\n" + kBad, kSecondReadFails, kTwoLines},
      {"read error under -w", "-w page.htm", 2, "page.htm: failed to convert\r\n", kSecondReadFails, kTwoLines, kTwoLines},
      {"utf8 page refused", "-w page.htm", 2, "page.htm: not Shift_JIS text (UTF-8)\r\n", {}, kUtf8Page, kUtf8Page},
      {"euc page refused", "--utf8 -w page.htm", 2, "page.htm: not Shift_JIS text (EUC-JP)\r\n", {}, kEucPage, kEucPage},
      {"utf8 page done already", "--utf8 -w page.htm", 0, "", {}, kUtf8Page, kUtf8Page},
      {"no guard on standard output", "page.htm", 0, kUtf8Out + "\r\n", {}, kUtf8Page},
      {"utf8 lf rewrite", "--lf --utf8 -w page.htm", 0, "", {}, "<B>\x93\xFA\x96\x7B</B>\n", kUtf8Out + "\n"},
      {"unmapped byte", "--utf8 page.htm", 2, "<b>a</b>\r\nb\r\npage.htm:3: not convertible to UTF-8\r\npage.htm: failed to convert\r\n",
       {}, "<B>a</B>\nb\n\x80" "c\n"},
      {"lf text and messages", "--lf page.htm", 2, "<a>\n<b\npage.htm: '<' unmatch to '>'\npage.htm: failed to convert\n", {}, "<A>\n<B\n"},
      {"bracket error line in utf8", "--utf8 page.htm", 2,
       "page.htm:1: <b>\xE6\x97\xA5<i <A>\r\n'<' does not close.\r\npage.htm: failed to convert\r\n", {}, "<B>\x93\xFA<I <A>\n"}};
  // clang-format on
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile("page.htm", c.page);
    disk.AddFile("c:page.htm", c.page);
    disk.AddFile("bad.htm", "<B");
    disk.SetStdin("<I>y</I>\n");
    for (const auto& step : c.setup) step(disk);
    std::istringstream split(c.args);
    const ProgramRun run = RunOnDisk(disk, {std::istream_iterator<std::string>(split), {}});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(disk.OpenDescriptors(), 1u);  // standard input, never closed
    EXPECT_EQ(disk.Contents("page.htm"), c.after.value_or(c.page));
  }
}

}  // namespace
}  // namespace lowtags
