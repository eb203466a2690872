// The checked close and the free-space query, with a disk that can be made full.
#include "driver/checked_close.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "support/fake_disk.h"
#include "test_support.h"

namespace lowtags {
namespace {

struct SpaceCase {
  double free_bytes;
  int expected;
};

class FreeSpaceTest : public ::testing::TestWithParam<SpaceCase> {};

TEST_P(FreeSpaceTest, ClampsAndRemembers) {
  FakeDisk disk;
  disk.set_free_space(GetParam().free_bytes);
  EXPECT_EQ(getFreeSpace(disk, "page.htm"), GetParam().expected);
  EXPECT_EQ(FreeDiskSpace, GetParam().free_bytes);
}

INSTANTIATE_TEST_SUITE_P(Values, FreeSpaceTest,
                         ::testing::Values(SpaceCase{0.0, 0}, SpaceCase{1000.7, 1000},
                                           SpaceCase{2147483647.0, 2147483647},
                                           SpaceCase{3e9, 2147483647},
                                           SpaceCase{1e20, 2147483647}));

TEST(FreeSpaceTest, FailedQueryGivesMinusOne) {
  FakeDisk disk;
  disk.FailCall(DiskOp::kFreeSpace, 1, ENOSYS);
  EXPECT_EQ(getFreeSpace(disk, "page.htm"), -1);
  EXPECT_EQ(FreeDiskSpace, -1.0);
}

struct CloseCase {
  const char* path;
  double free_bytes;
  int expected;
  const char* message;
};

class FcloseTest : public ::testing::TestWithParam<CloseCase> {};

TEST_P(FcloseTest, ReportsFullDrive) {
  const CloseCase& c = GetParam();
  FakeDisk disk;
  disk.AddFile(c.path, "x");
  disk.set_free_space(c.free_bytes);
  int fd = -1;
  ASSERT_EQ(disk.OpenRead(c.path, &fd), 0);
  testing::StringSink out;
  EXPECT_EQ(Fclose(disk, fd, c.path, out), c.expected);
  EXPECT_EQ(out.text, c.message);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FcloseTest,
    ::testing::Values(CloseCase{"page.htm", 4096.0, 0, ""},
                      CloseCase{"page.htm", 0.0, -1, "no free disk space\n"},
                      CloseCase{"c:page.htm", 0.0, -1, "c drive: no free disk space\n"},
                      CloseCase{"Q:\\x.htm", 0.5, -1, "Q drive: no free disk space\n"},
                      CloseCase{"a", 0.0, -1, "no free disk space\n"}));

TEST(FcloseTest, FailedCloseReturnsItsErrorWithoutMessage) {
  FakeDisk disk;
  disk.AddFile("page.htm", "x");
  disk.FailCall(DiskOp::kClose, 1, EIO);
  int fd = -1;
  ASSERT_EQ(disk.OpenRead("page.htm", &fd), 0);
  testing::StringSink out;
  EXPECT_EQ(Fclose(disk, fd, "page.htm", out), EIO);
  EXPECT_EQ(out.text, "");
  EXPECT_EQ(disk.Count(DiskOp::kFreeSpace), 0);
}

TEST(FcloseTest, MeasuresThePathAsTyped) {
  FakeDisk disk;
  disk.AddFile("a:page.htm", "x");
  disk.set_free_space(1.0);
  int fd = -1;
  ASSERT_EQ(disk.OpenRead("a:page.htm", &fd), 0);
  testing::StringSink out;
  EXPECT_EQ(Fclose(disk, fd, "a:page.htm", out), 0);
  ASSERT_FALSE(disk.calls().empty());
  EXPECT_EQ(disk.calls().back().op, DiskOp::kFreeSpace);
  EXPECT_EQ(disk.calls().back().path, "a:page.htm");
}

// Only a regular file on a file system mounted read-write is asked for free space; a file that
// vanished after its open, or one whose kind cannot be told, is asked as always.
struct KindCase {
  const char* name;
  bool device;
  bool read_only;
  bool vanishes;
  bool probe_fails;
  bool asked;
};

class FcloseKindTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(FcloseKindTest, AsksOnlyAWritableRegularFile) {
  const KindCase& c = GetParam();
  FakeDisk disk;
  if (c.device) {
    disk.AddSpecial("page.htm", S_IFCHR);
  } else {
    disk.AddFile("page.htm", "x");
  }
  disk.set_free_space(0.0);
  disk.set_read_only(c.read_only);
  if (c.probe_fails) disk.FailCall(DiskOp::kIsWritableRegular, 1, EIO);
  int fd = -1;
  ASSERT_EQ(disk.OpenRead("page.htm", &fd), 0);
  if (c.vanishes) {
    ASSERT_EQ(disk.UnlinkAt(kWorkingFolder, "page.htm"), 0);
  }
  testing::StringSink out;
  EXPECT_EQ(Fclose(disk, fd, "page.htm", out), c.asked ? -1 : 0);
  EXPECT_EQ(out.text, c.asked ? "no free disk space\n" : "");
  EXPECT_EQ(disk.Count(DiskOp::kFreeSpace), c.asked ? 1 : 0);
  EXPECT_EQ(disk.OpenDescriptors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FcloseKindTest,
                         ::testing::Values(KindCase{"Regular", false, false, false, false, true},
                                           KindCase{"ReadOnlyMedia", false, true, false, false,
                                                    false},
                                           KindCase{"Device", true, false, false, false, false},
                                           KindCase{"Vanished", false, false, true, false, true},
                                           KindCase{"KindUnknown", false, true, false, true, true}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace lowtags
