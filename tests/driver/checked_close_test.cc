// The checked close: the drive of a writable regular file must show room left.
#include "driver/checked_close.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <vector>

#include "support/fake_disk.h"
#include "test_support.h"

namespace lowtags {
namespace {

using Step = Status::Step;

struct CloseCase {
  const char* name;
  const char* path;
  std::function<void(FakeDisk&)> setup;
  Step step;            // kNone when the close passes
  const char* message;  // "" when the drive is not asked, or shows room
  bool asked;           // the drive, by the path as typed
};

TEST(CloseCheckedTest, AsksTheDriveOfAWritableRegularFile) {
  const auto space = [](double bytes) { return [=](FakeDisk& d) { d.set_free_space(bytes); }; };
  const char* const kFull = "no free disk space\n";
  const std::vector<CloseCase> cases = {
      {"room", "page.htm", space(1.0), Step::kNone, "", true},
      {"room past 32 bits", "page.htm", space(1e20), Step::kNone, "", true},
      {"less than a byte", "page.htm", space(0.5), Step::kRoom, kFull, true},
      {"none", "page.htm", space(0.0), Step::kRoom, kFull, true},
      {"drive named", "c:page.htm", space(0.0), Step::kRoom, "c drive: no free disk space\n", true},
      {"query fails", "a", [](FakeDisk& d) { d.FailCall(DiskOp::kFreeSpace, 1, ENOSYS); },
       Step::kRoom, kFull, true},
      {"close fails", "page.htm",
       [](FakeDisk& d) {
         d.set_free_space(0.0);
         d.FailCall(DiskOp::kClose, 1, EIO);
       },
       Step::kClose, "", false},
      {"read-only media", "page.htm",
       [](FakeDisk& d) {
         d.set_free_space(0.0);
         d.set_read_only(true);
       },
       Step::kNone, "", false},
      {"device", "page.htm",
       [](FakeDisk& d) {
         d.set_free_space(0.0);
         d.AddSpecial("page.htm", S_IFCHR);
       },
       Step::kNone, "", false},
      {"kind unknown", "page.htm",
       [](FakeDisk& d) {
         d.set_free_space(0.0);
         d.set_read_only(true);
         d.FailCall(DiskOp::kIsWritableRegular, 1, EIO);
       },
       Step::kRoom, kFull, true},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisk disk;
    disk.AddFile(c.path, "x");
    c.setup(disk);
    int fd = -1;
    ASSERT_EQ(disk.OpenRead(c.path, &fd), 0);
    testing::StringSink out;
    EXPECT_EQ(CloseChecked(disk, fd, c.path, out).step(), c.step);
    EXPECT_EQ(out.text, c.message);
    EXPECT_EQ(disk.Count(DiskOp::kFreeSpace), c.asked ? 1 : 0);
    if (c.asked) {
      EXPECT_EQ(disk.calls().back().path, c.path);
    }
    EXPECT_EQ(disk.OpenDescriptors(), 0u);
  }
}

// A file removed after its open still has a drive, asked by the path that is gone.
TEST(CloseCheckedTest, VanishedFileIsAskedAsAlways) {
  FakeDisk disk;
  disk.AddFile("page.htm", "x");
  disk.set_free_space(0.0);
  int fd = -1;
  ASSERT_EQ(disk.OpenRead("page.htm", &fd), 0);
  ASSERT_EQ(disk.UnlinkAt(kWorkingFolder, "page.htm"), 0);
  testing::StringSink out;
  EXPECT_EQ(CloseChecked(disk, fd, "page.htm", out), Status(Step::kRoom, ENOSPC));
  EXPECT_EQ(out.text, "no free disk space\n");
}

}  // namespace
}  // namespace lowtags
