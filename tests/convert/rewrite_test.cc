#include "convert/rewrite.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_disk.h"
#include "support/line_store.h"

namespace lowtags {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// A line store holding the given entries, repeated ones included, as under -w.
class Store {
 public:
  explicit Store(const std::vector<std::string>& entries) {
    const auto saved = name_lst_dup_check;
    name_lst_dup_check = 0;
    name_init(head_);
    for (const std::string& entry : entries) {
      add_name(head_, entry);
    }
    name_lst_dup_check = saved;
  }
  ~Store() { del_allname(head_); }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  name_lst& head() { return head_; }

 private:
  name_lst head_;
};

// Enough lines to fill the writer's block several times, so that there is a later write to fail.
std::vector<std::string> ManyLines() {
  std::vector<std::string> lines;
  lines.reserve(40000);
  for (int i = 0; i < 40000; ++i) {
    lines.push_back("<p>line " + std::to_string(i) + "</p>\n");
  }
  return lines;
}

std::string CrLf(const std::vector<std::string>& entries) {
  std::string out;
  for (const std::string& entry : entries) {
    for (const char c : entry) {
      out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
  }
  return out;
}

// Old text with CR LF and a NUL in it: putting it back must not translate or cut it.
const std::string kOld = "<HTML>\r\n<P>old\0text\r\n"s + std::string(300, 'x');
const std::string kPage = "/site/page.htm";

// ----- The fake itself, where tests rely on it behaving like the real thing

TEST(FakeDiskTest, RenameReplacesASymlinkItselfNotItsTarget) {
  FakeDisk disk;
  disk.AddFile("/d/real", "real");
  disk.AddSymlink("/d/link", "real");
  disk.AddFile("/d/new", "new");
  ASSERT_EQ(disk.Rename("/d/new", "/d/link"), 0);
  EXPECT_EQ(disk.LinkTarget("/d/link"), std::nullopt);
  EXPECT_EQ(disk.Contents("/d/link"), "new");
  EXPECT_EQ(disk.Contents("/d/real"), "real");
}

TEST(FakeDiskTest, RenameOverOneHardLinkLeavesTheOtherWithTheOldText) {
  FakeDisk disk;
  disk.AddFile("/d/a", "old");
  disk.AddHardLink("/d/a", "/d/b");
  EXPECT_EQ(disk.Info("/d/a")->links, 2u);
  disk.AddFile("/d/new", "new");
  ASSERT_EQ(disk.Rename("/d/new", "/d/a"), 0);
  EXPECT_EQ(disk.Contents("/d/a"), "new");
  EXPECT_EQ(disk.Contents("/d/b"), "old");
  EXPECT_EQ(disk.Info("/d/b")->links, 1u);
}

TEST(FakeDiskTest, OnlyTheNamedCallFailsAndAFailedWriteKeepsHalf) {
  FakeDisk disk;
  disk.AddFile("/d/a", "");
  disk.FailCall(DiskOp::kWrite, 2, ENOSPC);
  int fd = -1;
  ASSERT_EQ(disk.OpenWrite("/d/a", true, &fd), 0);
  EXPECT_EQ(disk.Write(fd, "abcd", 4), 0);
  EXPECT_EQ(disk.Write(fd, "efgh", 4), ENOSPC);
  EXPECT_EQ(disk.Write(fd, "ijkl", 4), 0);
  EXPECT_EQ(disk.Contents("/d/a"), "abcdefijkl");
  EXPECT_EQ(disk.Count(DiskOp::kWrite), 3);
}

TEST(FakeDiskTest, AFailedCloseStillReleasesTheDescriptor) {
  FakeDisk disk;
  disk.AddFile("/d/a", "x");
  disk.FailCall(DiskOp::kClose, 1, EIO);
  int fd = -1;
  ASSERT_EQ(disk.OpenRead("/d/a", &fd), 0);
  EXPECT_EQ(disk.Close(fd), EIO);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
  EXPECT_EQ(disk.Close(fd), EBADF);
}

TEST(FakeDiskTest, ReadsComeInChunksAndOpenWriteNeverCreates) {
  FakeDisk disk;
  disk.AddFile("/d/a", "abcdefg");
  disk.set_read_chunk(3);
  int fd = -1;
  ASSERT_EQ(disk.OpenRead("/d/a", &fd), 0);
  char buffer[16];
  std::size_t got = 0;
  ASSERT_EQ(disk.Read(fd, buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(disk.OpenWrite("/d/missing", false, &fd), ENOENT);
  EXPECT_EQ(disk.Paths(), (std::vector<std::string>{"/d/a"}));
}

// ----- Rewriting through the fake

struct TextCase {
  const char* name;
  std::vector<std::string> entries;
  std::string expected;
};

TEST(RewriteTest, WritesEveryEntryWithNewlinesAsCrLf) {
  const std::vector<TextCase> cases = {
      {"one line", {"<p>a</p>\n"}, "<p>a</p>\r\n"},
      {"joined line ended by the paragraph newline",
       {"<b>abc", "def</b>", "\n", "<P>next\n"},
       "<b>abcdef</b>\r\n<P>next\r\n"},
      {"empty entries write nothing", {"", "a\n", ""}, "a\r\n"},
      {"repeated lines are all kept", {"x\n", "x\n", "x\n"}, "x\r\nx\r\nx\r\n"},
      {"blank lines", {"\n", "\n"}, "\r\n\r\n"},
      {"last line without newline", {"a\n", "b"}, "a\r\nb"},
      {"Shift_JIS text", {"\x83\x65\x83\x58\x83\x67\n"}, "\x83\x65\x83\x58\x83\x67\r\n"},
      {"empty store empties the file", {}, ""},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile(kPage, kOld);
    Store store(c.entries);
    EXPECT_EQ(rewrite(disk, kPage, store.head()), RewriteStatus::kDone);
    EXPECT_EQ(disk.Contents(kPage), c.expected);
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
  }
}

TEST(RewriteTest, TextLargerThanOneBlockIsWrittenWhole) {
  FakeDisk disk;
  disk.AddFile(kPage, kOld);
  const std::vector<std::string> lines = ManyLines();
  Store store(lines);
  EXPECT_EQ(rewrite(disk, kPage, store.head()), RewriteStatus::kDone);
  EXPECT_EQ(disk.Contents(kPage), CrLf(lines));
  EXPECT_GE(disk.Count(DiskOp::kWrite), 2);
}

TEST(RewriteTest, KeepsPermissionBitsAndOwner) {
  FakeDisk disk;
  disk.AddFile(kPage, kOld, 0640, 501, 20);
  Store store({"new\n"});
  ASSERT_EQ(rewrite(disk, kPage, store.head()), RewriteStatus::kDone);
  const auto info = disk.Info(kPage);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->mode, static_cast<mode_t>(S_IFREG | 0640));
  EXPECT_EQ(info->uid, 501u);
  EXPECT_EQ(info->gid, 20u);
}

TEST(RewriteTest, SymlinkTargetGetsTheTextAndTheLinksStay) {
  FakeDisk disk;
  disk.AddFile("/site/pages/real.htm", kOld, 0640);
  disk.AddSymlink("/site/pages/middle.htm", "real.htm");
  disk.AddSymlink(kPage, "pages/middle.htm");
  Store store({"new\n"});
  ASSERT_EQ(rewrite(disk, kPage, store.head()), RewriteStatus::kDone);
  EXPECT_EQ(disk.Contents("/site/pages/real.htm"), "new\r\n");
  EXPECT_EQ(disk.LinkTarget(kPage), "pages/middle.htm");
  EXPECT_EQ(disk.LinkTarget("/site/pages/middle.htm"), "real.htm");
  EXPECT_EQ(disk.Info("/site/pages/real.htm")->mode, static_cast<mode_t>(S_IFREG | 0640));
  EXPECT_EQ(disk.Paths().size(), 3u);
}

TEST(RewriteTest, HardLinkedFileIsRewrittenForEveryLink) {
  FakeDisk disk;
  disk.AddFile("/site/a.htm", kOld);
  disk.AddHardLink("/site/a.htm", "/site/b.htm");
  disk.set_read_chunk(7);
  Store store({"new\n", "text\n"});
  ASSERT_EQ(rewrite(disk, "/site/a.htm", store.head()), RewriteStatus::kDone);
  EXPECT_EQ(disk.Contents("/site/b.htm"), "new\r\ntext\r\n");
  EXPECT_TRUE(disk.SameFile("/site/a.htm", "/site/b.htm"));
  EXPECT_EQ(disk.Paths().size(), 2u);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
}

TEST(RewriteTest, DeviceIsWrittenWithoutBeingReadAndItsSyncRefusalIsNoFailure) {
  FakeDisk disk;
  disk.AddDevice("/dev/null");
  Store store({"a\n"});
  EXPECT_EQ(rewrite(disk, "/dev/null", store.head()), RewriteStatus::kDone);
  EXPECT_EQ(disk.Contents("/dev/null"), "a\r\n");
  EXPECT_EQ(disk.Count(DiskOp::kOpenRead), 0);
  EXPECT_EQ(disk.Count(DiskOp::kCreateTemp), 0);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
}

TEST(RewriteTest, ReadOnlyFileCannotBeOpenedAndIsLeftAlone) {
  FakeDisk disk;
  disk.AddFile(kPage, kOld, 0444);
  Store store({"new\n"});
  EXPECT_EQ(rewrite(disk, kPage, store.head()), RewriteStatus::kCannotOpen);
  EXPECT_EQ(disk.Contents(kPage), kOld);
  EXPECT_EQ(disk.Count(DiskOp::kCreateTemp), 0);
}

struct FailureCase {
  const char* name;
  DiskOp op;
  int nth;
  int err;
  RewriteStatus expected;
};

bool AnyTruncatingOpen(const FakeDisk& disk) {
  const auto& calls = disk.calls();
  return std::any_of(calls.begin(), calls.end(),
                     [](const DiskCall& c) { return c.op == DiskOp::kOpenWrite && c.truncate; });
}

TEST(RewriteTest, FailureLeavesTheFileAsItWasAndNoTemporaryFile) {
  // Close number 1 is the check that the file may be written; number 2 is the temporary file's.
  const std::vector<FailureCase> cases = {
      {"disk full at the first write", DiskOp::kWrite, 1, ENOSPC, RewriteStatus::kFailed},
      {"disk full at a later write", DiskOp::kWrite, 2, ENOSPC, RewriteStatus::kFailed},
      {"sync fails", DiskOp::kSync, 1, EIO, RewriteStatus::kFailed},
      {"sync refused on a regular file", DiskOp::kSync, 1, EINVAL, RewriteStatus::kFailed},
      {"mode cannot be set", DiskOp::kCopyOwnerAndMode, 1, EPERM, RewriteStatus::kFailed},
      {"closing the temporary file fails", DiskOp::kClose, 2, EIO, RewriteStatus::kFailed},
      {"rename fails", DiskOp::kRename, 1, EXDEV, RewriteStatus::kFailed},
      {"no temporary file allowed", DiskOp::kCreateTemp, 1, EACCES, RewriteStatus::kCannotOpen},
      {"file may not be written", DiskOp::kOpenWrite, 1, EACCES, RewriteStatus::kCannotOpen},
      {"read-only file system", DiskOp::kOpenWrite, 1, EROFS, RewriteStatus::kCannotOpen},
      {"file vanished", DiskOp::kResolve, 1, ENOENT, RewriteStatus::kCannotOpen},
      {"file cannot be examined", DiskOp::kStat, 1, EIO, RewriteStatus::kCannotOpen},
  };
  const std::vector<std::string> lines = ManyLines();
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile(kPage, kOld, 0640);
    disk.FailCall(c.op, c.nth, c.err);
    Store store(lines);
    EXPECT_EQ(rewrite(disk, kPage, store.head()), c.expected);
    EXPECT_EQ(disk.Contents(kPage), kOld);
    EXPECT_EQ(disk.Info(kPage)->mode, static_cast<mode_t>(S_IFREG | 0640));
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
    EXPECT_FALSE(AnyTruncatingOpen(disk));
    if (c.expected == RewriteStatus::kCannotOpen) {
      EXPECT_EQ(disk.Count(DiskOp::kWrite), 0);
    }
  }
}

TEST(RewriteTest, FailuresAfterTheTextIsSafeAreIgnored) {
  const std::vector<FailureCase> cases = {
      {"folder sync fails", DiskOp::kSyncFolderOf, 1, EIO, RewriteStatus::kDone},
      {"closing the unused check descriptor fails", DiskOp::kClose, 1, EIO, RewriteStatus::kDone},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile(kPage, kOld);
    disk.FailCall(c.op, c.nth, c.err);
    Store store({"new\n"});
    EXPECT_EQ(rewrite(disk, kPage, store.head()), c.expected);
    EXPECT_EQ(disk.Contents(kPage), "new\r\n");
    EXPECT_EQ(disk.Paths(), std::vector<std::string>{kPage});
  }
}

TEST(RewriteTest, HardLinkedFileGetsItsOldTextBackWhenTheWriteFails) {
  // Closes: 1 the write check, 2 the read of the old text, 3 the rewrite itself.
  // OpenWrite: 1 the write check, 2 the truncating open.
  const std::vector<FailureCase> cases = {
      {"disk full at the first write", DiskOp::kWrite, 1, ENOSPC, RewriteStatus::kFailed},
      {"disk full at a later write", DiskOp::kWrite, 2, ENOSPC, RewriteStatus::kFailed},
      {"sync fails", DiskOp::kSync, 1, EIO, RewriteStatus::kFailed},
      {"sync refused on a regular file", DiskOp::kSync, 1, EINVAL, RewriteStatus::kFailed},
      {"close fails", DiskOp::kClose, 3, EIO, RewriteStatus::kFailed},
      {"old text cannot be opened", DiskOp::kOpenRead, 1, EIO, RewriteStatus::kFailed},
      {"old text cannot be read", DiskOp::kRead, 2, EIO, RewriteStatus::kFailed},
      {"truncating open refused", DiskOp::kOpenWrite, 2, EACCES, RewriteStatus::kCannotOpen},
  };
  const std::vector<std::string> lines = ManyLines();
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile("/site/a.htm", kOld);
    disk.AddHardLink("/site/a.htm", "/site/b.htm");
    disk.set_read_chunk(100);  // the old text takes several reads
    disk.FailCall(c.op, c.nth, c.err);
    Store store(lines);
    EXPECT_EQ(rewrite(disk, "/site/a.htm", store.head()), c.expected);
    EXPECT_EQ(disk.Contents("/site/a.htm"), kOld);
    EXPECT_TRUE(disk.SameFile("/site/a.htm", "/site/b.htm"));
    EXPECT_EQ(disk.Paths().size(), 2u);
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
  }
}

TEST(RewriteTest, OldTextIsNotTruncatedWhenItCannotBeKept) {
  FakeDisk disk;
  disk.AddFile("/site/a.htm", kOld);
  disk.AddHardLink("/site/a.htm", "/site/b.htm");
  disk.FailCall(DiskOp::kRead, 1, EIO);
  Store store({"new\n"});
  EXPECT_EQ(rewrite(disk, "/site/a.htm", store.head()), RewriteStatus::kFailed);
  EXPECT_FALSE(AnyTruncatingOpen(disk));
}

TEST(RewriteTest, FailingPutBackStillEndsCleanly) {
  FakeDisk disk;
  disk.AddFile("/site/a.htm", kOld);
  disk.AddHardLink("/site/a.htm", "/site/b.htm");
  disk.FailCall(DiskOp::kWrite, 1, ENOSPC);
  disk.FailCall(DiskOp::kWrite, 2, ENOSPC);
  Store store({"new\n"});
  EXPECT_EQ(rewrite(disk, "/site/a.htm", store.head()), RewriteStatus::kFailed);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
  EXPECT_EQ(disk.Paths().size(), 2u);
}

// ----- Rewriting real files

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes, mode_t mode) {
  std::ofstream(path, std::ios::binary) << bytes;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

struct stat StatOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class RewritePosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lowtags-rewrite-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  PosixDisk disk_;
  fs::path dir_;
};

TEST_F(RewritePosixTest, RegularFileKeepsItsModeAndNoTemporaryFileStays) {
  const fs::path page = dir_ / "page.htm";
  WriteFile(page, kOld, 0640);
  Store store({"<p>a", "b</p>", "\n", "<P>c\n"});
  ASSERT_EQ(rewrite(disk_, page.string(), store.head()), RewriteStatus::kDone);
  EXPECT_EQ(ReadFile(page), "<p>ab</p>\r\n<P>c\r\n");
  EXPECT_EQ(StatOf(page).st_mode & 07777, 0640u);
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"page.htm"});
}

// Links and read-only files on the real file system: see the program's -w tests.

TEST_F(RewritePosixTest, DevNullTakesTheText) {
  Store store({"a\n"});
  EXPECT_EQ(rewrite(disk_, "/dev/null", store.head()), RewriteStatus::kDone);
}

TEST_F(RewritePosixTest, FullDeviceFails) {
  if (::access("/dev/full", W_OK) != 0) {
    GTEST_SKIP() << "no writable /dev/full on this system";
  }
  Store store({"a\n"});
  EXPECT_EQ(rewrite(disk_, "/dev/full", store.head()), RewriteStatus::kFailed);
}

}  // namespace
}  // namespace lowtags
