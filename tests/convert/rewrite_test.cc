// -w through the program's file loop on the fake disk: every way a replacement can end, and what
// each leaves behind.
#include "convert/rewrite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include "support/fake_disk.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::Repeat;
using Names = std::vector<std::string>;

const std::string kOld = "<HTML>\r\n<P>old text\r\n";
const std::string kNew = "<html>\r\n<p>old text\r\n";
const std::string kPage = "/site/page.htm";

// Pages /s/0.htm up to /s/<n-1>.htm, each holding kOld.
Names AddPages(FakeDisk& disk, int n) {
  Names names;
  for (int i = 0; i < n; ++i)
    disk.AddFile(names.emplace_back("/s/" + std::to_string(i) + ".htm"), kOld);
  return names;
}

// The program run with the options, then the names. It must leave no descriptor open, no
// temporary file, and every name it found.
ProgramRun RunOn(FakeDisk& disk, const Names& names, const Names& options = {"-w"}) {
  const Names paths = disk.Paths();
  Names args = options;
  args.insert(args.end(), names.begin(), names.end());
  const ProgramRun run = testing::RunOnDisk(disk, args);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
  EXPECT_EQ(disk.Paths(), paths);
  return run;
}

DiskStep Attribute(const char* name) {
  return [=](FakeDisk& d) { d.SetAttributeOf("/s/0.htm", name, "x"); };
}
// `act` (on the disk) while the first file is converted, as another program would.
DiskStep Meanwhile(DiskStep act) {
  return [=](FakeDisk& d) { d.OnCall(DiskOp::kRead, 1, [&d, act] { act(d); }); };
}

// A -w run on a disk holding /s/0.htm to /s/5.htm (kOld), /s/bad.htm (a tag left open) and what
// `setup` adds; `check` looks at what else matters.
struct Scene {
  const char* name;
  std::vector<DiskStep> setup;
  Names args;
  int status;
  std::string out;
  const char* pages = "oooooo";  // what each page then holds: (o)ld, (n)ew or (s)aved meanwhile
  DiskStep check = nullptr;
};

// Whatever fails, the files not yet replaced are as they were, no temporary file is left, and
// nothing stays open. Access must never widen: an access list or a user's attribute that cannot
// be copied keeps the file; a security label the system sets itself does not. A file that changes
// while it is converted is left as it is then, and the run goes on. Files of one batch are
// replaced in order up to one that fails, with the messages of a run without batches; one sync for
// the batch's data, before the first rename, and one for the renames made.
TEST(RewriteTest, HowEachRunEnds) {
  const std::string kFailed = "/s/0.htm: failed to rewrite\r\n";
  const std::string kCannot = "/s/0.htm: cannot open to write\r\n";
  const std::string kNotFound = "/s/0.htm: not found\r\n";
  const std::string kChanged = "/s/0.htm: changed while converting\r\n";
  const Names k0 = {"/s/0.htm"}, k012 = {"/s/0.htm", "/s/1.htm", "/s/2.htm"};
  // clang-format off
  const std::vector<Scene> cases = {
      {"write", {Fail(DiskOp::kWrite, ENOSPC)}, k0, 1, kFailed},
      {"sync", {Fail(DiskOp::kSync, EIO)}, k0, 1, kFailed},
      {"sync of the file system", {Fail(DiskOp::kSyncFileSystem, EIO)}, k012, 1, kFailed},
      {"owner and mode", {Fail(DiskOp::kCopyOwnerAndMode, EPERM)}, k0, 1, kFailed},
      {"attribute list", {Fail(DiskOp::kListAttributes, EIO)}, k0, 1, kFailed},
      {"access list", {Attribute("system.posix_acl_access"), Fail(DiskOp::kSetAttribute, EPERM)}, k0, 1, kFailed},
      {"user attribute", {Attribute("user.origin"), Fail(DiskOp::kSetAttribute, EPERM)}, k0, 1, kFailed},
      {"close", {Fail(DiskOp::kClose, EIO)}, k0, 1, kFailed},
      {"rename", {Fail(DiskOp::kRename, EXDEV)}, k0, 1, kFailed},
      {"temporary file", {Fail(DiskOp::kCreateTemp, EACCES)}, k0, 1, kCannot},
      {"may not write", {Fail(DiskOp::kMayWriteAt, EROFS)}, k0, 1, kCannot},
      {"folder", {Fail(DiskOp::kOpenFolder, EACCES)}, k0, 2, kNotFound},
      {"look", {Fail(DiskOp::kStatAt, EIO)}, k0, 2, kNotFound},
      {"open", {Fail(DiskOp::kOpenReadAt, EACCES)}, k0, 2, kNotFound},
      {"saved meanwhile", {Meanwhile([](FakeDisk& d) { d.AddFile("/s/0.htm", "saved\r\n"); })}, {"/s/0.htm", "/s/1.htm"}, 2, kChanged, "snoooo"},
      {"linked meanwhile", {Meanwhile([](FakeDisk& d) { d.AddSymlink("/s/0.htm", "4.htm"); })}, {"/s/0.htm", "/s/1.htm"}, 2, kChanged, "onoooo"},
      {"rename in a batch",
       {Fail(DiskOp::kRename, EIO, 3),
        [](FakeDisk& d) { d.OnCall(DiskOp::kRename, 1, [&d] { EXPECT_EQ(d.Count(DiskOp::kSyncFileSystem), 1); }); }},
       {"/s/1.htm", "/s/missing.htm", "/s/2.htm", "/s/3.htm", "/s/bad.htm", "/s/4.htm", "/s/5.htm"}, 1,
       "/s/missing.htm: not found\r\n/s/3.htm: failed to rewrite\r\n", "onnooo",
       [](FakeDisk& d) { EXPECT_EQ(d.Count(DiskOp::kSyncFileSystem), 2); }},
      // Named again (through a link) while it waits in the batch, it is read after the batch is put in place.
      {"named twice",
       {[](FakeDisk& d) { d.AddSymlink("/s/link.htm", "0.htm"); },
        [](FakeDisk& d) { d.OnCall(DiskOp::kOpenReadAt, 4, [&d] { EXPECT_EQ(d.Count(DiskOp::kRename), 2); }); }},
       {"/s/0.htm", "/s/1.htm", "/s/link.htm"}, 0, "", "nnoooo",
       [](FakeDisk& d) { EXPECT_EQ(d.Count(DiskOp::kOpenReadAt), 4); }},
      // Owner, mode and the attributes that matter are kept. The new text is synced before it takes
      // the name, the folder once after; two files are too few to sync the whole file system for.
      {"kept", {[](FakeDisk& d) { d.AddFile("/s/0.htm", kOld, 0640, 501, 20); }, Attribute("security.selinux"),
                Attribute("system.posix_acl_access"), Attribute("user.origin"), Fail(DiskOp::kSetAttribute, EPERM),
                [](FakeDisk& d) { d.OnCall(DiskOp::kRename, 1, [&d] { EXPECT_EQ(d.Count(DiskOp::kSync), 2); }); }},
       {"/s/0.htm", "/s/1.htm"}, 0, "", "nnoooo",
       [](FakeDisk& d) {
         const FileInfo info = *d.Info("/s/0.htm");
         EXPECT_EQ(std::tuple(info.mode, info.uid, info.gid), std::tuple(S_IFREG | 0640u, 501u, 20u));
         EXPECT_EQ(d.Attributes("/s/0.htm").size(), 2u);  // not the label: the system sets its own
         EXPECT_EQ(d.Count(DiskOp::kSync), 3);
         EXPECT_EQ(d.Count(DiskOp::kSyncFileSystem), 0);
       }}};
  // clang-format on
  for (const Scene& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    const Names pages = AddPages(disk, 6);
    disk.AddFile("/s/bad.htm", "<A <B>\n");
    for (const DiskStep& step : c.setup) step(disk);
    const ProgramRun run = RunOn(disk, c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    for (std::size_t i = 0; i < pages.size(); ++i) {
      const char held = c.pages[i];
      EXPECT_EQ(disk.Contents(pages[i]), held == 'n'   ? kNew
                                         : held == 's' ? "saved\r\n"
                                                       : kOld)
          << i;
    }
    if (c.check) c.check(disk);
  }
}

// An unchanged file is not written at all. A new text that is the old one cut short, or that
// differs only at the very end of a large file, is written whole: the start shared with the old
// text is copied from it.
TEST(RewriteTest, OnlyAChangedFileIsWrittenAndThenWhole) {
  const std::string large = Repeat(kNew, 200'000);
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
    const ProgramRun run = RunOn(disk, {kPage});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(disk.Contents(kPage) == after) << before.size();
    EXPECT_EQ(disk.Count(DiskOp::kCreateTemp), before == after ? 0 : 1) << before.size();
    EXPECT_EQ(SameVersion(*disk.Info(kPage), *was), before == after);
  }
}

// Large enough for the temporary file to be written while the conversion goes on, with long lines
// that go by pieces: the file then holds what standard output shows, whatever the options and
// output form. A file that fails at its end stays as it was.
TEST(RewriteTest, LargeFileHoldsWhatStandardOutputShows) {
  const std::string line = Repeat("<FONT COLOR=\"Red\">\xb6\xc5 \x82\x60</FONT>", 3000);
  const std::string page = "<HEAD><META CHARSET=SJIS></HEAD>\r\n" +
                           Repeat(
                               "<P ALIGN=\"Center\"><A HREF=\"/x/y.htm\">\x8a\xbf \xb6\xde</A>"
                               "<!-- c -->\r\n<IMG SRC=\"a/b.gif\" BGCOLOR=\"#FFF\">\n" +
                                   line + "\r\n",
                               40);
  ASSERT_GT(page.size(), 3 * kRewriteAheadFrom);
  const std::string broken = "/site/broken.htm";
  const std::vector<Names> forms = {{"-c"}, {"-kna"}, {"-rbu"}, {"-rjkc"}, {"--utf8", "--lf"}};
  for (const Names& options : forms) {
    SCOPED_TRACE(options.back());
    FakeDisk disk;
    disk.AddFile(kPage, page);
    disk.AddFile(broken, page + "<A <B>\n");
    disk.set_read_chunk(50'000);
    const ProgramRun shown = RunOn(disk, {kPage}, options);
    const ProgramRun run = RunOn(disk, {"-w", kPage, broken}, options);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.out.find(broken + ": failed to convert"), std::string::npos) << run.out;
    EXPECT_TRUE(disk.Contents(kPage) == shown.out) << "differs from standard output";
    EXPECT_TRUE(disk.Contents(broken) == page + "<A <B>\n");
    EXPECT_EQ(disk.Count(DiskOp::kCreateTemp), 2);  // once each, while converting
  }
}

// Many files share their syncs. A batch that fails while the next is being converted drops that
// one whole, messages included.
TEST(RewriteTest, ManyFilesInBatches) {
  for (const int failing : {0, 10}) {
    FakeDisk disk;
    Names names = AddPages(disk, 300);
    disk.FailCall(DiskOp::kRename, failing, EIO);
    names.insert(names.begin() + 269, "/s/missing.htm");  // in the second batch
    const ProgramRun run = RunOn(disk, names);
    EXPECT_EQ(run.status, failing != 0 ? 1 : 2);
    EXPECT_EQ(run.out,
              failing != 0 ? "/s/9.htm: failed to rewrite\r\n" : "/s/missing.htm: not found\r\n");
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string& want = failing == 0 || i < 9 ? kNew : kOld;
      EXPECT_EQ(disk.Contents(names[i]).value_or(want), want) << i;
    }
    EXPECT_LE(disk.Count(DiskOp::kSyncFileSystem) + disk.Count(DiskOp::kSync), 10);
  }
}

}  // namespace
}  // namespace lowtags
