// -w through the program's file loop on the fake disk: every way a replacement can end, and what
// each leaves behind.
#include "convert/rewrite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <cerrno>
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

std::vector<std::string> Without(std::vector<std::string> paths, const std::string& name) {
  paths.erase(std::remove(paths.begin(), paths.end(), name), paths.end());
  return paths;
}

// Where a call sits among the calls made, for order checks; -1 when it was never made.
long IndexOf(const FakeDisk& disk, DiskOp op, const std::string& path, int nth = 1) {
  const auto& calls = disk.calls();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].op == op && calls[i].path == path && --nth == 0) return static_cast<long>(i);
  }
  return -1;
}

struct FailureCase {
  const char* name;
  DiskOp op;
  int nth;
  int err;
  int status;
  const char* out;
};

// Whatever fails, the file is as it was, no temporary file is left, and nothing stays open.
TEST(OverwriteFakeDiskTest, FailureLeavesTheFileAsItWas) {
  const char* const kFailed = "/site/page.htm: failed to rewrite\r\n";
  const char* const kCannot = "/site/page.htm: cannot open to write\r\n";
  const char* const kNotFound = "/site/page.htm: not found\r\n";
  const std::vector<FailureCase> cases = {
      {"disk full", DiskOp::kWrite, 1, ENOSPC, 1, kFailed},
      {"file too large", DiskOp::kWrite, 1, EFBIG, 1, kFailed},
      {"sync fails", DiskOp::kSync, 1, EIO, 1, kFailed},
      {"mode cannot be set", DiskOp::kCopyOwnerAndMode, 1, EPERM, 1, kFailed},
      {"attributes cannot be listed", DiskOp::kListAttributes, 1, EIO, 1, kFailed},
      {"closing the temporary file fails", DiskOp::kClose, 1, EIO, 1, kFailed},
      {"rename fails", DiskOp::kRename, 1, EXDEV, 1, kFailed},
      {"no temporary file allowed", DiskOp::kCreateTemp, 1, EACCES, 1, kCannot},
      {"file may not be written", DiskOp::kMayWriteAt, 1, EROFS, 1, kCannot},
      {"folder cannot be opened", DiskOp::kOpenFolder, 1, EACCES, 2, kNotFound},
      {"name cannot be examined", DiskOp::kStatAt, 1, EIO, 2, kNotFound},
      {"file cannot be opened", DiskOp::kOpenReadAt, 1, EACCES, 2, kNotFound},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile(kPage, kOld, 0640);
    disk.FailCall(c.op, c.nth, c.err);
    const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str()});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(disk.Contents(kPage), kOld);
    EXPECT_EQ(disk.Info(kPage)->mode, static_cast<mode_t>(S_IFREG | 0640));
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
  }
}

TEST(OverwriteFakeDiskTest, KeepsOwnerModeAndAttributesAndSyncsBeforeTheRename) {
  FakeDisk disk;
  disk.AddFile(kPage, kOld, 0640, 501, 20);
  disk.SetAttributeOf(kPage, "user.origin", "mirror");
  disk.SetAttributeOf(kPage, "system.posix_acl_access", "acl bytes");
  const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(disk.Contents(kPage), kNew);
  const auto info = disk.Info(kPage);
  EXPECT_EQ(info->mode, static_cast<mode_t>(S_IFREG | 0640));
  EXPECT_EQ(info->uid, 501u);
  EXPECT_EQ(info->gid, 20u);
  EXPECT_EQ(disk.Attributes(kPage), (std::map<std::string, std::string>{
                                        {"system.posix_acl_access", "acl bytes"},
                                        {"user.origin", "mirror"}}));
  const std::string temp = kPage + ".tmp1";
  EXPECT_LT(IndexOf(disk, DiskOp::kSync, temp), IndexOf(disk, DiskOp::kRename, temp + " -> " + kPage));
  EXPECT_LT(IndexOf(disk, DiskOp::kRename, temp + " -> " + kPage), IndexOf(disk, DiskOp::kSync, "/site"));
}

struct AttributeCase {
  const char* name;
  const char* attribute;
  int status;
};

// Access must never widen: an access list or a user's attribute that cannot be copied keeps the
// file; a security label the system sets itself does not.
TEST(OverwriteFakeDiskTest, AttributesThatCannotBeCopied) {
  const std::vector<AttributeCase> cases = {
      {"access list", "system.posix_acl_access", 1},
      {"user attribute", "user.origin", 1},
      {"security label", "security.selinux", 0},
  };
  for (const AttributeCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile(kPage, kOld);
    disk.SetAttributeOf(kPage, c.attribute, "x");
    disk.FailCall(DiskOp::kSetAttribute, 1, EPERM);
    const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str()});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(disk.Contents(kPage), c.status == 0 ? kNew : kOld);
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
  }
}

TEST(OverwriteFakeDiskTest, UnchangedFileIsNotWritten) {
  for (const std::string& text : {kNew, std::string(), testing::Repeat(kNew, 200'000)}) {
    FakeDisk disk;
    disk.AddFile(kPage, text);
    const auto before = disk.Info(kPage);
    const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(disk.Count(DiskOp::kCreateTemp), 0) << text.size();
    EXPECT_TRUE(SameVersion(*disk.Info(kPage), *before));
  }
}

// A new text that is the old one cut short, or that differs only at the very end of a large
// file, is written whole: the start shared with the old text is copied from it.
TEST(OverwriteFakeDiskTest, TextThatDiffersLateIsWrittenWhole) {
  const std::string large = testing::Repeat(kNew, 200'000);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {kNew + "\x1A\r\n", kNew},  // text after the 0x1A would be refused
      {kNew + "<B>", kNew + "<b>"},
      {large + "<B>\r\n", large + "<b>\r\n"},
      {kNew + "\n", kNew + "\r\n"},
  };
  for (const auto& [before, after] : cases) {
    FakeDisk disk;
    disk.AddFile(kPage, before);
    disk.set_read_chunk(50'000);
    const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str()});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(disk.Contents(kPage) == after) << before.size();
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
  }
}

// Large enough for the temporary file to be written while the conversion goes on, with long lines
// that go by pieces: the file then holds what standard output shows, whatever the options.
TEST(OverwriteFakeDiskTest, LargeFileHoldsWhatStandardOutputShows) {
  const std::string line = testing::Repeat("<FONT COLOR=\"Red\">\xb6\xc5 \x82\x60</FONT>", 3000);
  const std::string page = testing::Repeat(
      "<P ALIGN=\"Center\"><A HREF=\"/x/y.htm\">\x8a\xbf \xb6\xde</A><!-- c -->\r\n"
      "<IMG SRC=\"a/b.gif\" BGCOLOR=\"#FFF\">\n" + line + "\r\n",
      40);
  ASSERT_GT(page.size(), 3 * kRewriteAheadFrom);
  for (const char* letters : {"", "c", "kna", "rbu", "j", "rjkc"}) {
    SCOPED_TRACE(letters);
    FakeDisk disk;
    disk.AddFile(kPage, page);
    disk.set_read_chunk(50'000);
    const std::string group = std::string("-") + letters + "w";
    // A lone "-" would name standard input: the options go with "-w" or not at all.
    const std::string plain = group.substr(0, group.size() - 1);
    std::vector<const char*> to_stdout = {kPage.c_str()};
    if (plain != "-") to_stdout.insert(to_stdout.begin(), plain.c_str());
    const ProgramRun shown = RunOnDisk(disk, to_stdout);
    const ProgramRun run = RunOnDisk(disk, {group.c_str(), kPage.c_str()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(disk.Contents(kPage) == shown.out) << "differs from standard output";
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
  }
}

TEST(OverwriteFakeDiskTest, SymlinksAreFollowedAndStayLinks) {
  FakeDisk disk;
  disk.AddFile("/site/pages/real.htm", kOld, 0640);
  disk.AddSymlink("/site/pages/middle.htm", "real.htm");
  disk.AddSymlink(kPage, "pages/middle.htm");
  const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(disk.Contents("/site/pages/real.htm"), kNew);
  EXPECT_EQ(disk.LinkTarget(kPage), "pages/middle.htm");
  EXPECT_EQ(disk.LinkTarget("/site/pages/middle.htm"), "real.htm");
  EXPECT_EQ(disk.Paths().size(), 3u);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
}

TEST(OverwriteFakeDiskTest, LinkLoopAndSpecialFiles) {
  FakeDisk disk;
  disk.AddSymlink("/site/a.htm", "b.htm");
  disk.AddSymlink("/site/b.htm", "a.htm");
  disk.AddSpecial("/site/fifo.htm", S_IFIFO);
  disk.AddSpecial("/site/dev.htm", S_IFCHR);
  disk.AddSymlink("/site/to-fifo.htm", "fifo.htm");
  disk.AddFile(kPage, kOld);
  const ProgramRun run = RunOnDisk(
      disk, {"-w", "/site/a.htm", "/site/fifo.htm", "/site/dev.htm", "/site/to-fifo.htm",
             kPage.c_str()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "/site/a.htm: not found\r\n/site/fifo.htm: not a regular file\r\n"
            "/site/dev.htm: not a regular file\r\n/site/to-fifo.htm: not a regular file\r\n");
  EXPECT_EQ(disk.Contents(kPage), kNew);
  EXPECT_EQ(disk.Count(DiskOp::kOpenReadAt), 1);  // the regular file alone
}

TEST(OverwriteFakeDiskTest, FolderPathLongerThanTheSystemTakesIsWalked) {
  std::string folder;
  while (folder.size() <= FakeDisk::kPathMax) folder += "/" + std::string(200, 'd');
  const std::string page = folder + "/page.htm";
  FakeDisk disk;
  disk.AddFile(page, kOld);
  const ProgramRun run = RunOnDisk(disk, {"-w", page.c_str()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(disk.Contents(page), kNew);
  EXPECT_EQ(disk.Paths(), std::vector<std::string>{page});
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
}

// Another program acts while the file is converted (its first read): the name no longer gives
// the file that was read, so nothing is renamed over it, and the run goes on.
TEST(OverwriteFakeDiskTest, FileChangedWhileConvertingIsLeftAsItIsNow) {
  const std::vector<std::pair<const char*, std::function<void(FakeDisk&)>>> cases = {
      {"saved by an editor", [](FakeDisk& d) { d.AddFile(kPage, "saved\r\n"); }},
      {"swapped for a symlink", [](FakeDisk& d) { d.AddSymlink(kPage, "secret.htm"); }},
  };
  for (const auto& [name, act] : cases) {
    SCOPED_TRACE(name);
    FakeDisk disk;
    disk.AddFile(kPage, kOld);
    disk.AddFile("/site/secret.htm", "secret\r\n", 0600);
    disk.AddFile("/site/next.htm", kOld);
    disk.OnCall(DiskOp::kRead, 1, [&disk, act = act] { act(disk); });
    const ProgramRun run = RunOnDisk(disk, {"-w", kPage.c_str(), "/site/next.htm"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "/site/page.htm: changed while converting\r\n");
    EXPECT_EQ(disk.Contents("/site/secret.htm"), "secret\r\n");
    EXPECT_NE(disk.Contents(kPage), kNew);
    EXPECT_EQ(disk.Contents("/site/next.htm"), kNew);
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
    const auto paths = disk.Paths();
    EXPECT_TRUE(std::none_of(paths.begin(), paths.end(),
                             [](const std::string& p) { return p.find(".tmp") != p.npos; }));
  }
}

// Five files in one batch, with messages between them, and file 3's rename failing: 1 and 2 are
// replaced, 3 to 5 are left as they were, and the messages are those of a run without batches.
TEST(OverwriteFakeDiskTest, FailureInTheMiddleOfABatch) {
  FakeDisk disk;
  for (const char* name : {"/s/1.htm", "/s/2.htm", "/s/3.htm", "/s/4.htm", "/s/5.htm"}) {
    disk.AddFile(name, kOld);
  }
  disk.AddFile("/s/bad.htm", "<A <B>\n");
  disk.FailCall(DiskOp::kRename, 3, EIO);
  const ProgramRun run = RunOnDisk(disk, {"-w", "/s/1.htm", "/s/missing.htm", "/s/2.htm",
                                          "/s/3.htm", "/s/bad.htm", "/s/4.htm", "/s/5.htm"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "/s/missing.htm: not found\r\n/s/3.htm: failed to rewrite\r\n");
  EXPECT_EQ(disk.Contents("/s/1.htm"), kNew);
  EXPECT_EQ(disk.Contents("/s/2.htm"), kNew);
  for (const char* name : {"/s/3.htm", "/s/4.htm", "/s/5.htm"}) EXPECT_EQ(disk.Contents(name), kOld);
  EXPECT_EQ(disk.Paths().size(), 6u);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
  // One sync for the batch's data, before the first rename, and one for the renames made.
  EXPECT_EQ(disk.Count(DiskOp::kSyncFileSystem), 2);
  EXPECT_LT(IndexOf(disk, DiskOp::kSyncFileSystem, "/s"),
            IndexOf(disk, DiskOp::kRename, "/s/1.htm.tmp1 -> /s/1.htm"));
  EXPECT_GT(IndexOf(disk, DiskOp::kSyncFileSystem, "/s", 2),
            IndexOf(disk, DiskOp::kRename, "/s/2.htm.tmp2 -> /s/2.htm"));
}

// Pages /s/0.htm up to /s/<n-1>.htm, each holding kOld; their names.
std::vector<std::string> AddPages(FakeDisk& disk, int n) {
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) {
    names.push_back("/s/" + std::to_string(i) + ".htm");
    disk.AddFile(names.back(), kOld);
  }
  return names;
}

// A batch fails while the next is being converted: that one is dropped whole, messages included.
TEST(OverwriteFakeDiskTest, FailureWhileTheNextBatchIsConverted) {
  FakeDisk disk;
  const std::vector<std::string> names = AddPages(disk, 300);
  disk.FailCall(DiskOp::kRename, 10, EIO);
  std::vector<const char*> args = {"-w"};
  for (const std::string& name : names) args.push_back(name.c_str());
  args.insert(args.begin() + 270, "/s/missing.htm");  // in the second batch
  const ProgramRun run = RunOnDisk(disk, args);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "/s/9.htm: failed to rewrite\r\n");
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(disk.Contents(names[i]), i < 9 ? kNew : kOld) << names[i];
  }
  EXPECT_EQ(disk.Paths().size(), names.size());
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
}

TEST(OverwriteFakeDiskTest, FailedSyncOfABatchReplacesNothing) {
  FakeDisk disk;
  for (const char* name : {"/s/1.htm", "/s/2.htm", "/s/3.htm"}) disk.AddFile(name, kOld);
  disk.FailCall(DiskOp::kSyncFileSystem, 1, EIO);
  const ProgramRun run = RunOnDisk(disk, {"-w", "/s/1.htm", "/s/2.htm", "/s/3.htm"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "/s/1.htm: failed to rewrite\r\n");
  for (const char* name : {"/s/1.htm", "/s/2.htm", "/s/3.htm"}) EXPECT_EQ(disk.Contents(name), kOld);
  EXPECT_EQ(disk.Paths().size(), 3u);
}

// The second time a file is named (here through a link) it is read after its first replacement.
TEST(OverwriteFakeDiskTest, FileNamedTwiceIsConvertedAgainFromItsFirstResult) {
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
  EXPECT_EQ(Without(disk.Paths(), "/site/other.htm").size(), 2u);
}

// Two files are too few to sync the whole file system for: each temporary file syncs itself.
TEST(OverwriteFakeDiskTest, TwoFilesSyncThemselves) {
  FakeDisk disk;
  disk.AddFile("/s/1.htm", kOld);
  disk.AddFile("/s/2.htm", kOld);
  const ProgramRun run = RunOnDisk(disk, {"-w", "/s/1.htm", "/s/2.htm"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(disk.Count(DiskOp::kSyncFileSystem), 0);
  EXPECT_LT(IndexOf(disk, DiskOp::kSync, "/s/1.htm.tmp1"),
            IndexOf(disk, DiskOp::kRename, "/s/1.htm.tmp1 -> /s/1.htm"));
  EXPECT_LT(IndexOf(disk, DiskOp::kSync, "/s/2.htm.tmp2"),
            IndexOf(disk, DiskOp::kRename, "/s/2.htm.tmp2 -> /s/2.htm"));
}

TEST(OverwriteFakeDiskTest, ManyFilesShareTheirSyncs) {
  FakeDisk disk;
  const std::vector<std::string> names = AddPages(disk, 200);
  std::vector<const char*> args = {"-w"};
  for (const std::string& name : names) args.push_back(name.c_str());
  const ProgramRun run = RunOnDisk(disk, args);
  EXPECT_EQ(run.status, 0);
  for (const std::string& name : names) EXPECT_EQ(disk.Contents(name), kNew);
  EXPECT_LE(disk.Count(DiskOp::kSyncFileSystem) + disk.Count(DiskOp::kSync), 10);
}

}  // namespace
}  // namespace lowtags
