// The file loop against a fake disk: full drives, read errors, failed writes to standard output.
#include "driver/file_loop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "convert/options.h"
#include "support/fake_disk.h"

namespace lowtags {
namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs the program on a fake disk whose standard output and error are files "out" and "err".
Outcome RunOn(FakeDisk& disk, std::vector<const char*> args) {
  disk.AddFile("out", "");
  disk.AddFile("err", "");
  int out_fd = -1;
  int err_fd = -1;
  disk.OpenWrite("out", false, &out_fd);
  disk.OpenWrite("err", false, &err_fd);
  Options = OptionSet{};
  const int status = RunLowtags(args, disk, out_fd, err_fd);
  Options = OptionSet{};
  return Outcome{status, *disk.Contents("out"), *disk.Contents("err")};
}

TEST(FileLoopTest, FullDriveAfterConversion) {
  FakeDisk disk;
  disk.AddFile("c:page.htm", "<B>x</B>\n");
  disk.set_free_space(0.0);
  const Outcome run = RunOn(disk, {"c:page.htm"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "<b>x</b>\r\nc drive: no free disk space\r\nc:page.htm: failed to convert\r\n");
}

TEST(FileLoopTest, ReadErrorFailsTheFile) {
  FakeDisk disk;
  disk.AddFile("page.htm", "<B>one</B>\n<B>two</B>\n");
  disk.set_free_space(1e9);
  disk.set_read_chunk(11);  // the first read returns the first line whole
  disk.FailCall(DiskOp::kRead, 2, EIO);
  disk.AddFile("next.htm", "<I>\n");
  const Outcome run = RunOn(disk, {"page.htm", "next.htm"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "<b>one</b>\r\npage.htm: failed to convert\r\n<i>\r\n");
}

TEST(FileLoopTest, FailedStandardOutputEndsWithStatusOne) {
  FakeDisk disk;
  disk.AddFile("page.htm", "<B>x</B>\n");
  disk.set_free_space(1e9);
  disk.FailCall(DiskOp::kWrite, 1, EPIPE);
  const Outcome run = RunOn(disk, {"page.htm"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "lowtags: write error on standard output: Broken pipe\n");
}

TEST(FileLoopTest, ReadErrorUnderOverwriteLeavesFileAlone) {
  FakeDisk disk;
  disk.AddFile("page.htm", "<B>one</B>\n<B>two</B>\n");
  disk.set_read_chunk(11);
  disk.FailCall(DiskOp::kRead, 2, EIO);
  const Outcome run = RunOn(disk, {"-w", "page.htm"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "page.htm: failed to convert\r\n");
  EXPECT_EQ(*disk.Contents("page.htm"), "<B>one</B>\n<B>two</B>\n");
  EXPECT_EQ(disk.Count(DiskOp::kOpenWrite), 2);  // standard output and error only
}

}  // namespace
}  // namespace lowtags
