// -w through the program's file loop on the fake disk: every way a replacement can end, and what
// each leaves behind.
#include "convert/rewrite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/fake_disk.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::RunOnDisk;

const std::string kOld = "<HTML>\r\n<P>old text\r\n";
const std::string kNew = "<html>\r\n<p>old text\r\n";
const std::string kPage = "/site/page.htm";

// Where the nth such call sits among the calls made, for order checks; -1 when never made.
long IndexOf(const FakeDisk& disk, DiskOp op, const std::string& path, int nth = 1) {
  const auto& calls = disk.calls();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i] == DiskCall{op, path} && --nth == 0) return static_cast<long>(i);
  }
  return -1;
}

// Pages /s/0.htm up to /s/<n-1>.htm, each holding kOld.
std::vector<std::string> AddPages(FakeDisk& disk, int n) {
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i)
    disk.AddFile(names.emplace_back("/s/" + std::to_string(i) + ".htm"), kOld);
  return names;
}

ProgramRun RewriteAll(FakeDisk& disk, const std::vector<std::string>& names) {
  std::vector<const char*> args = {"-w"};
  for (const std::string& name : names) args.push_back(name.c_str());
  return RunOnDisk(disk, args);
}

struct FailureCase {
  DiskOp op;
  int err;
  int status;
  const char* out;
  const char* attribute = "";  // one the page carries, when not ""
};

// Whatever fails, the file is as it was, no temporary file is left, and nothing stays open. Access
// must never widen: an access list or a user's attribute that cannot be copied keeps the file; a
// security label the system sets itself does not.
TEST(RewriteTest, FailureLeavesTheFileAsItWas) {
  const char* const kFailed = "/site/page.htm: failed to rewrite\r\n";
  const char* const kCannot = "/site/page.htm: cannot open to write\r\n";
  const char* const kNotFound = "/site/page.htm: not found\r\n";
  const std::vector<FailureCase> cases = {
      {DiskOp::kWrite, ENOSPC, 1, kFailed},
      {DiskOp::kSync, EIO, 1, kFailed},
      {DiskOp::kCopyOwnerAndMode, EPERM, 1, kFailed},
      {DiskOp::kListAttributes, EIO, 1, kFailed},
      {DiskOp::kClose, EIO, 1, kFailed},
      {DiskOp::kRename, EXDEV, 1, kFailed},
      {DiskOp::kCreateTemp, EACCES, 1, kCannot},
      {DiskOp::kMayWriteAt, EROFS, 1, kCannot},
      {DiskOp::kOpenFolder, EACCES, 2, kNotFound},
      {DiskOp::kStatAt, EIO, 2, kNotFound},
      {DiskOp::kOpenReadAt, EACCES, 2, kNotFound},
      {DiskOp::kSetAttribute, EPERM, 1, kFailed, "system.posix_acl_access"},
      {DiskOp::kSetAttribute, EPERM, 1, kFailed, "user.origin"}};
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.op)) + " " + c.attribute);
    FakeDisk disk;
    disk.AddFile(kPage, kOld, 0640);
    if (*c.attribute != '\0') disk.SetAttributeOf(kPage, c.attribute, "x");
    disk.FailCall(c.op, 1, c.err);
    const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str()});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(disk.Contents(kPage), kOld);
    EXPECT_EQ(disk.Info(kPage)->mode, static_cast<mode_t>(S_IFREG | 0640));
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
  }
}

TEST(RewriteTest, KeepsOwnerModeAndAttributesAndSyncsBeforeTheRename) {
  FakeDisk disk;
  disk.AddFile(kPage, kOld, 0640, 501, 20);
  const std::map<std::string, std::string> attributes = {
      {"security.selinux", "label"}, {"system.posix_acl_access", "acl"}, {"user.origin", "m"}};
  for (const auto& [name, value] : attributes) disk.SetAttributeOf(kPage, name, value);
  disk.FailCall(DiskOp::kSetAttribute, 1, EPERM);  // the label: the system sets its own
  EXPECT_EQ(RunOnDisk(disk, {"-w", kPage.c_str()}).status, 0);
  EXPECT_EQ(disk.Contents(kPage), kNew);
  const auto info = disk.Info(kPage);
  EXPECT_EQ(info->mode, static_cast<mode_t>(S_IFREG | 0640));
  EXPECT_EQ(info->uid, 501u);
  EXPECT_EQ(info->gid, 20u);
  EXPECT_EQ(disk.Attributes(kPage).size(), 2u);
  const std::string temp = kPage + ".tmp1";
  const long rename = IndexOf(disk, DiskOp::kRename, temp + " -> " + kPage);
  EXPECT_LT(IndexOf(disk, DiskOp::kSync, temp), rename);
  EXPECT_LT(rename, IndexOf(disk, DiskOp::kSync, "/site"));
}

// An unchanged file is not written at all. A new text that is the old one cut short, or that
// differs only at the very end of a large file, is written whole: the start shared with the old
// text is copied from it.
TEST(RewriteTest, OnlyAChangedFileIsWrittenAndThenWhole) {
  const std::string large = testing::Repeat(kNew, 200'000);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {kNew, kNew},
      {"", ""},
      {"<p>x</p>\r\n<p>y</p>", "<p>x</p>\r\n<p>y</p>"},  // no line end at the end
      {large, large},
      {kNew + "\x1A\r\n", kNew},  // text after the 0x1A would be refused
      {kNew + "<B>", kNew + "<b>"},
      {large + "<B>\r\n", large + "<b>\r\n"},
      {kNew + "\n", kNew + "\r\n"}};
  for (const auto& [before, after] : cases) {
    FakeDisk disk;
    disk.AddFile(kPage, before);
    disk.set_read_chunk(50'000);
    const auto was = disk.Info(kPage);
    const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(disk.Contents(kPage) == after) << before.size();
    EXPECT_EQ(disk.Count(DiskOp::kCreateTemp), before == after ? 0 : 1) << before.size();
    EXPECT_EQ(SameVersion(*disk.Info(kPage), *was), before == after);
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
  }
}

// Large enough for the temporary file to be written while the conversion goes on, with long lines
// that go by pieces: the file then holds what standard output shows, whatever the options.
TEST(RewriteTest, LargeFileHoldsWhatStandardOutputShows) {
  const std::string line = testing::Repeat("<FONT COLOR=\"Red\">\xb6\xc5 \x82\x60</FONT>", 3000);
  const std::string page = testing::Repeat(
      "<P ALIGN=\"Center\"><A HREF=\"/x/y.htm\">\x8a\xbf \xb6\xde</A><!-- c -->\r\n"
      "<IMG SRC=\"a/b.gif\" BGCOLOR=\"#FFF\">\n" +
          line + "\r\n",
      40);
  ASSERT_GT(page.size(), 3 * kRewriteAheadFrom);
  for (const std::string letters : {"-c", "-kna", "-rbu", "-rjkc"}) {
    SCOPED_TRACE(letters);
    FakeDisk disk;
    disk.AddFile(kPage, page);
    disk.set_read_chunk(50'000);
    const ProgramRun shown = RunOnDisk(disk, {letters.c_str(), kPage.c_str()});
    const ProgramRun run = RunOnDisk(disk, {(letters + "w").c_str(), kPage.c_str()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(disk.Contents(kPage) == shown.out) << "differs from standard output";
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
  }
}

// Links are followed, relative to their own folder, and stay links; a loop is not found, and
// anything but a regular file is not opened. A folder path longer than the system takes whole is
// walked one name at a time.
TEST(RewriteTest, LinksSpecialFilesAndLongPaths) {
  std::string deep;
  while (deep.size() <= FakeDisk::kPathMax) deep += "/" + std::string(200, 'd');
  deep += "/page.htm";
  FakeDisk disk;
  disk.AddFile(deep, kOld);
  disk.AddFile("/site/pages/real.htm", kOld, 0640);
  disk.AddSymlink("/site/pages/middle.htm", "real.htm");
  disk.AddSymlink(kPage, "pages/middle.htm");
  disk.AddSymlink("/site/a.htm", "b.htm");
  disk.AddSymlink("/site/b.htm", "a.htm");
  disk.AddSpecial("/site/fifo.htm", S_IFIFO);
  disk.AddSpecial("/site/dev.htm", S_IFCHR);
  disk.AddSymlink("/site/to-fifo.htm", "fifo.htm");
  const ProgramRun run = RunOnDisk(disk, {"-w", "/site/a.htm", "/site/fifo.htm", "/site/dev.htm",
                                          "/site/to-fifo.htm", kPage.c_str(), deep.c_str()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "/site/a.htm: not found\r\n/site/fifo.htm: not a regular file\r\n"
            "/site/dev.htm: not a regular file\r\n/site/to-fifo.htm: not a regular file\r\n");
  EXPECT_EQ(disk.Contents("/site/pages/real.htm"), kNew);
  EXPECT_EQ(disk.Contents(deep), kNew);
  EXPECT_EQ(disk.Paths().size(), 9u);
  EXPECT_EQ(disk.LinkTarget(kPage), "pages/middle.htm");
  EXPECT_EQ(disk.LinkTarget("/site/pages/middle.htm"), "real.htm");
  EXPECT_EQ(disk.Count(DiskOp::kOpenReadAt), 2);  // the regular files alone
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
}

// Another program acts while the file is converted (its first read): the name no longer gives
// the file that was read, so nothing is renamed over it, and the run goes on.
TEST(RewriteTest, FileChangedWhileConvertingIsLeftAsItIsNow) {
  const std::vector<std::function<void(FakeDisk&)>> cases = {
      [](FakeDisk& d) { d.AddFile(kPage, "saved\r\n"); },
      [](FakeDisk& d) { d.AddSymlink(kPage, "secret.htm"); }};
  for (const auto& act : cases) {
    FakeDisk disk;
    disk.AddFile(kPage, kOld);
    disk.AddFile("/site/secret.htm", "secret\r\n", 0600);
    disk.AddFile("/site/next.htm", kOld);
    disk.OnCall(DiskOp::kRead, 1, [&disk, &act] { act(disk); });
    const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str(), "/site/next.htm"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "/site/page.htm: changed while converting\r\n");
    EXPECT_EQ(disk.Contents("/site/secret.htm"), "secret\r\n");
    EXPECT_NE(disk.Contents(kPage), kNew);
    EXPECT_EQ(disk.Contents("/site/next.htm"), kNew);
    EXPECT_EQ(disk.Paths().size(), 3u);
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
  }
}

// Five files in one batch, with messages between them, and file 3's rename failing: 1 and 2 are
// replaced, 3 to 5 are left as they were, and the messages are those of a run without batches.
TEST(RewriteTest, FailureInTheMiddleOfABatch) {
  FakeDisk disk;
  AddPages(disk, 6);
  disk.AddFile("/s/bad.htm", "<A <B>\n");
  disk.FailCall(DiskOp::kRename, 3, EIO);
  const ProgramRun run = RunOnDisk(disk, {"-w", "/s/1.htm", "/s/missing.htm", "/s/2.htm",
                                          "/s/3.htm", "/s/bad.htm", "/s/4.htm", "/s/5.htm"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "/s/missing.htm: not found\r\n/s/3.htm: failed to rewrite\r\n");
  for (const char* name : {"/s/1.htm", "/s/2.htm", "/s/3.htm", "/s/4.htm", "/s/5.htm"}) {
    EXPECT_EQ(disk.Contents(name), name[3] < '3' ? kNew : kOld) << name;
  }
  EXPECT_EQ(disk.Paths().size(), 7u);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
  // One sync for the batch's data, before the first rename, and one for the renames made.
  EXPECT_EQ(disk.Count(DiskOp::kSyncFileSystem), 2);
  EXPECT_LT(IndexOf(disk, DiskOp::kSyncFileSystem, "/s"),
            IndexOf(disk, DiskOp::kRename, "/s/1.htm.tmp1 -> /s/1.htm"));
  EXPECT_GT(IndexOf(disk, DiskOp::kSyncFileSystem, "/s", 2),
            IndexOf(disk, DiskOp::kRename, "/s/2.htm.tmp2 -> /s/2.htm"));
}

// A batch fails while the next is being converted: that one is dropped whole, messages included.
// A batch whose sync fails replaces nothing.
TEST(RewriteTest, FailedBatches) {
  FakeDisk disk;
  std::vector<std::string> names = AddPages(disk, 300);
  disk.FailCall(DiskOp::kRename, 10, EIO);
  names.insert(names.begin() + 269, "/s/missing.htm");  // in the second batch
  ProgramRun run = RewriteAll(disk, names);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "/s/9.htm: failed to rewrite\r\n");
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(disk.Contents(names[i]), kNew) << i;
  for (std::size_t i = 9; i < names.size(); ++i) {
    EXPECT_EQ(disk.Contents(names[i]).value_or(kOld), kOld) << i;
  }
  EXPECT_EQ(disk.Paths().size(), 300u);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);

  FakeDisk synced;
  names = AddPages(synced, 3);
  synced.FailCall(DiskOp::kSyncFileSystem, 1, EIO);
  run = RewriteAll(synced, names);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "/s/0.htm: failed to rewrite\r\n");
  for (const std::string& name : names) EXPECT_EQ(synced.Contents(name), kOld);
  EXPECT_EQ(synced.Paths().size(), 3u);
}

// The second time a file is named (here through a link) it is read after its first replacement.
TEST(RewriteTest, FileNamedTwiceIsConvertedAgainFromItsFirstResult) {
  FakeDisk disk;
  disk.AddFile(kPage, kOld);
  disk.AddSymlink("/site/link.htm", "page.htm");
  disk.AddFile("/site/other.htm", kOld);
  const ProgramRun run =
      RunOnDisk(disk, {"-w", kPage.c_str(), "/site/other.htm", "/site/link.htm"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(disk.Contents(kPage), kNew);
  EXPECT_LT(IndexOf(disk, DiskOp::kRename, kPage + ".tmp1 -> " + kPage),
            IndexOf(disk, DiskOp::kOpenReadAt, kPage, 3));  // 2: found waiting, closed again
  EXPECT_EQ(disk.Paths().size(), 3u);
}

// Two files are too few to sync the whole file system for: each temporary file syncs itself.
// Many share their syncs.
TEST(RewriteTest, Syncs) {
  FakeDisk two;
  EXPECT_EQ(RewriteAll(two, AddPages(two, 2)).status, 0);
  EXPECT_EQ(two.Count(DiskOp::kSyncFileSystem), 0);
  EXPECT_LT(IndexOf(two, DiskOp::kSync, "/s/1.htm.tmp2"),
            IndexOf(two, DiskOp::kRename, "/s/1.htm.tmp2 -> /s/1.htm"));
  FakeDisk many;
  const std::vector<std::string> names = AddPages(many, 200);
  EXPECT_EQ(RewriteAll(many, names).status, 0);
  for (const std::string& name : names) EXPECT_EQ(many.Contents(name), kNew);
  EXPECT_LE(many.Count(DiskOp::kSyncFileSystem) + many.Count(DiskOp::kSync), 10);
}

}  // namespace
}  // namespace lowtags
